#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/text_convert.h"
#include "vantor/services/element.h"
#include "vantor/services/json.h"

namespace tarvojson {

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The code unit of the four hexadecimal digits at `p`.
std::uint32_t read_unit(const char* p)
{
    std::uint32_t unit = 0;
    for (int k = 0; k < 4; ++k) {
        int v = hex_value(p[k]);
        if (v < 0) {
            throw vantor::internal_error(55);
        }
        unit = unit * 16 + static_cast<std::uint32_t>(v);
    }
    return unit;
}

// Decodes the escapes of a string's content (the bytes between its quotes) into `out`.
void unescape(const char* s, std::size_t n, std::string& out)
{
    out.clear();
    out.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        const void* found = std::memchr(s + i, '\\', n - i);
        std::size_t at = found == nullptr ? n : static_cast<std::size_t>(static_cast<const char*>(found) - s);
        out.append(s + i, at - i);
        if (at == n) {
            break;
        }
        // The scanner never ends a string's content on a lone backslash.
        char e = at + 1 < n ? s[at + 1] : '\0';
        i = at + 2;
        switch (e) {
            case '"':
            case '\\':
            case '/':
            case '\'':
                out.push_back(e);
                continue;
            case 'b':
                out.push_back('\b');
                continue;
            case 'f':
                out.push_back('\f');
                continue;
            case 'n':
                out.push_back('\n');
                continue;
            case 'r':
                out.push_back('\r');
                continue;
            case 't':
                out.push_back('\t');
                continue;
            case 'u':
                break;
            default:
                throw vantor::internal_error(55);
        }
        if (n - at < 6) {
            throw vantor::internal_error(67);
        }
        std::uint32_t unit = read_unit(s + at + 2);
        i = at + 6;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (n - at < 12) {
                throw vantor::internal_error(74);
            }
            if (s[at + 6] != '\\' || s[at + 7] != 'u') {
                throw vantor::internal_error(77);
            }
            std::uint32_t low = read_unit(s + at + 8);
            if (low < 0xDC00 || low > 0xDFFF) {
                throw vantor::internal_error(83);
            }
            unit = ((unit - 0xD800) * 0x400 + (low - 0xDC00)) + 0x10000;
            i = at + 12;
        }
        vantor::append_utf8_codepoint(unit, out);
    }
}

class reader {
public:
    reader(const char* text, std::size_t length) : text_(text), length_(length) {}

    void run(element& target)
    {
        target = element();
        std::vector<element*> stack{&target};
        std::string key;
        bool have_key = false;
        bool null_seen = false;
        while (!stack.empty() && pos_ < length_) {
            char c = text_[pos_];
            element& top = *stack.back();
            switch (top.kind()) {
                case element_kind::array:
                    if (c == ']') {
                        stack.pop_back();
                        ++pos_;
                    } else if (c == ',' || is_blank(c)) {
                        ++pos_;
                    } else {
                        // The character is read again for the new item.
                        stack.push_back(&top.as_array().emplace_back());
                    }
                    break;
                case element_kind::object:
                    if (!have_key) {
                        if (c == '}') {
                            stack.pop_back();
                            ++pos_;
                        } else if (c == ',' || is_blank(c)) {
                            ++pos_;
                        } else if (c == '"' || c == '\'') {
                            read_string(key);
                            have_key = true;
                        } else {
                            throw vantor::internal_error(141);
                        }
                    } else if (is_blank(c)) {
                        ++pos_;
                    } else if (c == ':') {
                        // A repeated name replaces the earlier value.
                        element& member = top.as_object()[key];
                        member = element();
                        stack.push_back(&member);
                        have_key = false;
                        ++pos_;
                    } else {
                        throw vantor::internal_error(127);
                    }
                    break;
                default:
                    // Only containers stay on the stack once begun, so this is a value not yet
                    // started.
                    if (is_blank(c)) {
                        ++pos_;
                    } else if (c == '[' || c == '{') {
                        if (stack.size() > max_nesting) {
                            throw vantor::exception("json text nested too deeply");
                        }
                        if (c == '[') {
                            top.as_array();
                        } else {
                            top.as_object();
                        }
                        ++pos_;
                    } else {
                        read_scalar(c, top, null_seen);
                        stack.pop_back();
                    }
                    break;
            }
        }
        if (!stack.empty() || (target.is_null() && !null_seen)) {
            throw vantor::internal_error(202);
        }
    }

private:
    void read_scalar(char c, element& target, bool& null_seen)
    {
        if (c == '"' || c == '\'') {
            read_string(target.as_string());
        } else if (c == '-' || is_digit(c)) {
            read_number(target);
        } else if (c == 'n') {
            if (!literal_follows("null")) {
                throw vantor::internal_error(182);
            }
            null_seen = true;
        } else if (c == 't' || c == 'f') {
            const char* word = c == 't' ? "true" : "false";
            if (!literal_follows(word)) {
                throw vantor::internal_error(193);
            }
            target.as_text() = word;
        } else {
            throw vantor::internal_error(193);
        }
    }

    // Consumes `word` when the text continues with it.
    bool literal_follows(const char* word)
    {
        std::size_t n = std::strlen(word);
        if (length_ - pos_ < n || std::memcmp(text_ + pos_, word, n) != 0) {
            return false;
        }
        pos_ += n;
        return true;
    }

    // Reads the string that starts with the quote at the current position.
    void read_string(std::string& out)
    {
        char quote = text_[pos_];
        std::size_t begin = pos_ + 1;
        std::size_t i = begin;
        while (i < length_ && text_[i] != quote) {
            // A backslash takes the next character with it, so an escaped quote stays inside.
            i += text_[i] == '\\' ? 2 : 1;
        }
        if (i >= length_) {
            pos_ = length_;
            throw vantor::internal_error(202);
        }
        unescape(text_ + begin, i - begin, out);
        pos_ = i + 1;
    }

    // Skips a run of digits; false when there is none.
    bool skip_digits()
    {
        std::size_t begin = pos_;
        while (pos_ < length_ && is_digit(text_[pos_])) {
            ++pos_;
        }
        if (pos_ != begin) {
            return true;
        }
        // A number cut short by the end of the text is still open.
        throw vantor::internal_error(pos_ < length_ ? 193 : 202);
    }

    void read_number(element& target)
    {
        std::size_t begin = pos_;
        bool negative = text_[pos_] == '-';
        if (negative) {
            ++pos_;
        }
        std::size_t digits_begin = pos_;
        skip_digits();
        std::size_t digits_end = pos_;
        bool integral = true;
        if (pos_ < length_ && text_[pos_] == '.') {
            integral = false;
            ++pos_;
            skip_digits();
        }
        if (pos_ < length_ && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            integral = false;
            ++pos_;
            if (pos_ < length_ && (text_[pos_] == '+' || text_[pos_] == '-')) {
                ++pos_;
            }
            skip_digits();
        }
        if (integral) {
            std::uint64_t magnitude = 0;
            bool fits = true;
            for (std::size_t k = digits_begin; k < digits_end && fits; ++k) {
                auto digit = static_cast<std::uint64_t>(text_[k] - '0');
                fits = magnitude <= (UINT64_MAX - digit) / 10;
                magnitude = magnitude * 10 + digit;
            }
            constexpr std::uint64_t limit = std::uint64_t{1} << 63;
            if (fits && (negative ? magnitude <= limit : magnitude < limit)) {
                // Negation in unsigned arithmetic gives the most negative value its bit pattern.
                target.as_int64() = static_cast<std::int64_t>(negative ? 0 - magnitude : magnitude);
                return;
            }
        }
        target.as_text().assign(text_ + begin, pos_ - begin);
    }

    const char* text_;
    std::size_t length_;
    std::size_t pos_ = 0;
};

}  // namespace

void parse_text(element& target, const char* text, std::size_t length)
{
    // The value is built apart and moved in at the end, because the text may be the target's
    // own (an unparsed JSON text element read in place).
    element built;
    try {
        reader(text, length).run(built);
    } catch (...) {
        target.move_from(built);
        throw;
    }
    target.move_from(built);
}

void parse_text(element& target, const std::string& text)
{
    parse_text(target, text.data(), text.size());
}

}  // namespace tarvojson
