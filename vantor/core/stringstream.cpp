#include "vantor/core/stringstream.h"

#include <cstdio>

namespace vantor_stl {
namespace {

template <typename T>
ostream& print(ostream& s, const char* hex, const char* oct, const char* dec, T v)
{
    char buf[64];
    const char* conv = s.radix == 16 ? hex : s.radix == 8 ? oct : dec;
    int n = std::snprintf(buf, sizeof buf, conv, v);
    if (n > 0) {
        s.write(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
    }
    return s;
}

}  // namespace

std::string stringstream::take_str()
{
    std::string out = std::move(text_);
    text_.clear();
    read_pos_ = 0;
    return out;
}

ostream& operator<<(ostream& s, int v) { return print(s, "%x", "%o", "%d", v); }
ostream& operator<<(ostream& s, unsigned int v) { return print(s, "%x", "%o", "%u", v); }
ostream& operator<<(ostream& s, long v) { return print(s, "%lx", "%lo", "%ld", v); }
ostream& operator<<(ostream& s, unsigned long v) { return print(s, "%lx", "%lo", "%lu", v); }
ostream& operator<<(ostream& s, short v) { return print(s, "%hx", "%ho", "%hd", v); }
ostream& operator<<(ostream& s, unsigned short v) { return print(s, "%hx", "%ho", "%hu", v); }
ostream& operator<<(ostream& s, long long v) { return print(s, "%llx", "%llo", "%lld", v); }
ostream& operator<<(ostream& s, unsigned long long v) { return print(s, "%llx", "%llo", "%llu", v); }
ostream& operator<<(ostream& s, double v) { return print(s, "%g", "%g", "%g", v); }
ostream& operator<<(ostream& s, const void* v) { return print(s, "%p", "%p", "%p", v); }

ostream& operator<<(ostream& s, bool v)
{
    s.put(static_cast<char>('0' + (v ? 1 : 0)));
    return s;
}

ostream& operator<<(ostream& s, char c)
{
    s.put(c);
    return s;
}

ostream& operator<<(ostream& s, const char* text)
{
    // A null text is written the way the formatter renders it instead of being dereferenced.
    if (text == nullptr) {
        text = "(null)";
    }
    std::size_t n = 0;
    while (text[n] != '\0') {
        ++n;
    }
    s.write(text, n);
    return s;
}

ostream& operator<<(ostream& s, const std::string& text)
{
    s.write(text.data(), text.size());
    return s;
}

istream& operator>>(istream& s, long long& v)
{
    int c = s.peek();
    while (c >= 0 && c <= 32) {
        s.advance();
        c = s.peek();
    }
    bool negative = false;
    if (c == '-') {
        negative = true;
        s.advance();
        c = s.peek();
    }
    unsigned long long value = 0;
    bool any = false;
    while (c >= '0' && c <= '9') {
        value = value * 10 + static_cast<unsigned>(c - '0');
        any = true;
        s.advance();
        c = s.peek();
    }
    if (!any) {
        s.good = false;
        v = 0;
        return s;
    }
    v = static_cast<long long>(negative ? 0 - value : value);
    return s;
}

istream& operator>>(istream& s, int& v)
{
    long long wide = 0;
    s >> wide;
    v = static_cast<int>(wide);
    return s;
}

}  // namespace vantor_stl

namespace vantor {

std::string decimal_text(unsigned long v)
{
    // Printed unsigned, so values above 0x7fffffff never come out negative.
    vantor_stl::stringstream s;
    s << v;
    return s.take_str();
}

std::string decimal_text(long long v)
{
    vantor_stl::stringstream s;
    s << v;
    return s.take_str();
}

std::string hex_text(unsigned long v)
{
    vantor_stl::stringstream s;
    s.radix = 16;
    s << v;
    return s.take_str();
}

}  // namespace vantor
