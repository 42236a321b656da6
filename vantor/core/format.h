#pragma once
// Positional "%1%" message formatting in two forms that give the same text:
//  - pre-encoded: VANTOR_FMT("size:%1%") builds, when the program is compiled, a descriptor
//    {text pointer; piece count; (literal length, argument number * 8 + placeholder length)...};
//    `packed_format` renders it without looking at the text's '%' characters;
//  - run-time: `format_parser` cuts the text itself (and also folds "%%" and keeps malformed
//    placeholders literally).
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {
namespace format_detail {

template <std::size_t Pieces>
struct descriptor {
    const char* text;
    std::uint8_t bytes[1 + 2 * Pieces];  // count, then the piece pairs
};

struct piece_scan {
    std::size_t literal;     // bytes before the placeholder
    std::size_t length;      // placeholder bytes, 0 for a pure literal piece
    unsigned argument;       // argument number, 0 for none
};

// Finds the next piece of `f` from `pos`; a placeholder is '%', one or two digits, '%'.
// Literal runs longer than 255 bytes are cut into pieces of their own.
consteval piece_scan next_piece(std::string_view f, std::size_t pos)
{
    std::size_t i = pos;
    while (i < f.size()) {
        if (f[i] == '%') {
            std::size_t d = i + 1;
            // Every digit is taken, so that a closed placeholder with too many digits is
            // rejected instead of passing as literal text.
            while (d < f.size() && f[d] >= '0' && f[d] <= '9') {
                ++d;
            }
            std::size_t digits = d - i - 1;
            if (digits > 0 && d < f.size() && f[d] == '%') {
                if (digits > 2) {
                    throw "format placeholder number too large";
                }
                unsigned n = 0;
                for (std::size_t k = i + 1; k < d; ++k) {
                    n = n * 10 + static_cast<unsigned>(f[k] - '0');
                }
                if (i - pos > 255) {
                    return {255, 0, 0};
                }
                return {i - pos, digits + 2, n};
            }
        }
        ++i;
    }
    std::size_t rest = f.size() - pos;
    return {rest > 255 ? 255 : rest, 0, 0};
}

consteval std::size_t count_pieces(std::string_view f)
{
    std::size_t n = 0;
    for (std::size_t pos = 0; pos < f.size();) {
        piece_scan p = next_piece(f, pos);
        pos += p.literal + p.length;
        ++n;
    }
    return n;
}

template <std::size_t Pieces>
consteval descriptor<Pieces> build(const char* text, std::string_view f)
{
    static_assert(Pieces <= 255, "too many pieces in a format");
    descriptor<Pieces> d{text, {}};
    d.bytes[0] = static_cast<std::uint8_t>(Pieces);
    std::size_t pos = 0;
    for (std::size_t k = 0; k < Pieces; ++k) {
        piece_scan p = next_piece(f, pos);
        if (p.argument > 31 || p.length > 7) {
            throw "format placeholder does not fit the descriptor";
        }
        if (p.argument > Pieces) {
            throw "format argument number exceeds the piece count";
        }
        d.bytes[1 + 2 * k] = static_cast<std::uint8_t>(p.literal);
        d.bytes[2 + 2 * k] = static_cast<std::uint8_t>(p.argument * 8 + p.length);
        pos += p.literal + p.length;
    }
    return d;
}

}  // namespace format_detail

// A formatter over one pre-encoded descriptor. Surplus arguments are ignored; slots that no
// argument fills render as nothing.
class packed_format {
public:
    template <std::size_t Pieces>
    explicit packed_format(const format_detail::descriptor<Pieces>& d) : packed_format(d.text, d.bytes)
    {
    }
    packed_format(const char* text, const std::uint8_t* bytes);

    void add_arg(int v);
    void add_arg(unsigned int v);
    void add_arg(long v);
    void add_arg(unsigned long v);
    void add_arg(long long v);
    void add_arg(unsigned long long v);
    void add_arg(double v);
    void add_arg(bool v);
    void add_arg(const char* v);
    void add_arg(const std::string& v);
    void add_arg(std::string_view v) { add_arg(std::string(v)); }
    // A raw pointer or handle value, rendered with "%p".
    void add_pointer(const void* p);

    std::string render() const;

private:
    void add_text(std::string text);

    const char* text_;
    const std::uint8_t* desc_;
    std::uint32_t added_ = 0;
    std::vector<std::string> slots_;
};

// Renders a pre-encoded format with the given arguments.
template <std::size_t Pieces, typename... Args>
std::string format(const format_detail::descriptor<Pieces>& d, const Args&... args)
{
    packed_format f(d);
    (f.add_arg(args), ...);
    return f.render();
}

// The run-time form of the formatter.
class format_parser {
public:
    void parse(std::string_view format);
    void add_arg(const std::string& text);
    std::string str() const;

private:
    std::vector<std::string> pieces_;
    std::map<int, std::vector<int>> positions_;
    int added_ = 0;
};

// True: call sites that carry both forms take the pre-encoded one.
constexpr bool log_packed_enabled() { return true; }

// The argument renderings shared by both forms.
std::string arg_text(int v);
std::string arg_text(unsigned int v);
std::string arg_text(long v);
std::string arg_text(unsigned long v);
std::string arg_text(long long v);
std::string arg_text(unsigned long long v);
std::string arg_text(double v);
std::string arg_text(bool v);
std::string arg_text(const char* v);
inline std::string arg_text(const std::string& v) { return v; }

}  // namespace vantor

// A pre-encoded descriptor with static storage for a literal format text; a text that breaks
// the descriptor's limits does not compile.
#define VANTOR_FMT(literal)                                                                        \
    ([]() -> const auto& {                                                                         \
        static constexpr auto vantor_fmt_desc =                                                    \
            ::vantor::format_detail::build<::vantor::format_detail::count_pieces(literal)>(        \
                literal, literal);                                                                 \
        return vantor_fmt_desc;                                                                    \
    }())
