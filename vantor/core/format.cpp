#include "vantor/core/format.h"

#include "vantor/core/stringstream.h"

namespace vantor {
namespace {

template <typename T>
std::string through_stream(const T& v)
{
    vantor_stl::stringstream s;
    s << v;
    return s.take_str();
}

}  // namespace

std::string arg_text(int v) { return through_stream(v); }
std::string arg_text(unsigned int v) { return through_stream(v); }
std::string arg_text(long v) { return through_stream(v); }
std::string arg_text(unsigned long v) { return through_stream(v); }
std::string arg_text(long long v) { return through_stream(v); }
std::string arg_text(unsigned long long v) { return through_stream(v); }
std::string arg_text(double v) { return through_stream(v); }
std::string arg_text(bool v) { return v ? "1" : "0"; }
std::string arg_text(const char* v) { return v != nullptr ? std::string(v) : std::string("(null)"); }

packed_format::packed_format(const char* text, const std::uint8_t* bytes)
    : text_(text), desc_(bytes), slots_(bytes[0])
{
}

void packed_format::add_text(std::string text)
{
    if (added_ < slots_.size()) {
        slots_[added_] = std::move(text);
    }
    ++added_;
}

void packed_format::add_arg(int v) { add_text(arg_text(v)); }
void packed_format::add_arg(unsigned int v) { add_text(arg_text(v)); }
void packed_format::add_arg(long v) { add_text(arg_text(v)); }
void packed_format::add_arg(unsigned long v) { add_text(arg_text(v)); }
void packed_format::add_arg(long long v) { add_text(arg_text(v)); }
void packed_format::add_arg(unsigned long long v) { add_text(arg_text(v)); }
void packed_format::add_arg(double v) { add_text(arg_text(v)); }
void packed_format::add_arg(bool v) { add_text(arg_text(v)); }
void packed_format::add_arg(const char* v) { add_text(arg_text(v)); }
void packed_format::add_arg(const std::string& v) { add_text(v); }
void packed_format::add_pointer(const void* p) { add_text(through_stream(p)); }

std::string packed_format::render() const
{
    std::string out;
    const char* cursor = text_;
    unsigned count = desc_[0];
    for (unsigned k = 0; k < count; ++k) {
        unsigned literal = desc_[1 + 2 * k];
        unsigned code = desc_[2 + 2 * k];
        out.append(cursor, literal);
        cursor += literal + (code & 7);
        if (code >= 8) {
            std::size_t slot = code / 8 - 1;
            if (slot < slots_.size()) {
                out += slots_[slot];
            }
        }
    }
    return out;
}

void format_parser::parse(std::string_view format)
{
    pieces_.clear();
    positions_.clear();
    added_ = 0;
    int state = 0;
    std::string literal;
    std::string digits;
    for (char c : format) {
        bool digit = c >= '0' && c <= '9';
        if (state == 0) {
            if (c == '%') {
                state = 1;
            } else {
                literal.push_back(c);
            }
        } else if (state == 1) {
            if (c == '%') {
                literal.push_back('%');
                state = 0;
            } else if (digit) {
                digits.assign(1, c);
                state = 2;
            } else {
                literal.push_back('%');
                literal.push_back(c);
                state = 0;
            }
        } else if (digit) {
            digits.push_back(c);
        } else if (c == '%') {
            pieces_.push_back(std::move(literal));
            literal.clear();
            vantor_stl::stringstream s(digits);
            int n = 0;
            s >> n;
            positions_[n].push_back(static_cast<int>(pieces_.size()));
            pieces_.emplace_back();
            digits.clear();
            state = 0;
        } else {
            literal.push_back('%');
            literal += digits;
            literal.push_back(c);
            digits.clear();
            state = 0;
        }
    }
    if (state != 0) {
        literal.push_back('%');
        if (state == 2) {
            literal += digits;
        }
    }
    pieces_.push_back(std::move(literal));
}

void format_parser::add_arg(const std::string& text)
{
    ++added_;
    for (int position : positions_[added_]) {
        pieces_[static_cast<std::size_t>(position)] = text;
    }
}

std::string format_parser::str() const
{
    std::string out;
    for (const std::string& p : pieces_) {
        out += p;
    }
    return out;
}

}  // namespace vantor
