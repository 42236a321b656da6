#pragma once
// The foundation's text streams: numbers are printed with fixed printf-style conversions in a
// chosen radix and read back as decimal integers. Not synchronised; one thread at a time.
#include <cstdint>
#include <string>

namespace vantor_stl {

class ostream {
public:
    virtual ~ostream() = default;
    virtual void write(const char* data, std::size_t length) = 0;
    virtual void put(char byte) = 0;

    // 10 by default; 16 and 8 select hexadecimal and octal output of integers.
    std::int32_t radix = 10;
};

class istream {
public:
    virtual ~istream() = default;
    // The next byte as 0..255, or -1 at the end.
    virtual int peek() = 0;
    virtual void advance() = 0;

    // Stays true while no extraction has failed.
    bool good = true;
};

class iostream : public ostream, public istream {};

// A text held in a std::string with a read position.
class stringstream final : public iostream {
public:
    stringstream() = default;
    explicit stringstream(std::string text) : text_(std::move(text)) {}

    void write(const char* data, std::size_t length) override { text_.append(data, length); }
    void put(char byte) override { text_.push_back(byte); }
    int peek() override
    {
        return read_pos_ < text_.size() ? static_cast<unsigned char>(text_[read_pos_]) : -1;
    }
    void advance() override { ++read_pos_; }

    const std::string& str() const { return text_; }
    std::string take_str();

private:
    std::string text_;
    std::size_t read_pos_ = 0;
};

ostream& operator<<(ostream& s, int v);
ostream& operator<<(ostream& s, unsigned int v);
ostream& operator<<(ostream& s, long v);
ostream& operator<<(ostream& s, unsigned long v);
ostream& operator<<(ostream& s, short v);
ostream& operator<<(ostream& s, unsigned short v);
ostream& operator<<(ostream& s, long long v);
ostream& operator<<(ostream& s, unsigned long long v);
ostream& operator<<(ostream& s, double v);
ostream& operator<<(ostream& s, const void* v);
ostream& operator<<(ostream& s, bool v);
ostream& operator<<(ostream& s, char c);
ostream& operator<<(ostream& s, const char* text);
ostream& operator<<(ostream& s, const std::string& text);

// Decimal extraction: blanks and control bytes are skipped, one leading '-' is accepted, digits
// accumulate into 64 bits (overflow wraps). No digit clears `good` and yields 0.
istream& operator>>(istream& s, long long& v);
istream& operator>>(istream& s, int& v);

}  // namespace vantor_stl

namespace vantor {

// Small text builders, each through a fresh string stream.
std::string decimal_text(unsigned long v);
std::string decimal_text(long long v);
std::string hex_text(unsigned long v);

}  // namespace vantor
