#include "vantor/services/base64.h"

#include <array>
#include <cstdint>

#include "vantor/core/exception.h"

namespace xstd {
namespace base64 {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int not_in_alphabet = -1;

constexpr std::array<int, 256> make_values()
{
    std::array<int, 256> values{};
    for (int& v : values) {
        v = not_in_alphabet;
    }
    for (int i = 0; i < 64; ++i) {
        values[static_cast<unsigned char>(alphabet[i])] = i;
    }
    return values;
}

constexpr std::array<int, 256> values = make_values();

[[noreturn]] void fail()
{
    vantor::throw_error_at("/xstd/base64/decode", "Decode error");
}

int value_of(char c)
{
    int v = values[static_cast<unsigned char>(c)];
    if (v == not_in_alphabet) {
        fail();
    }
    return v;
}

}  // namespace

void decode(std::string& text)
{
    // A trailing partial group cannot stand for whole bytes: it is a cut or damaged text, and
    // decoding it anyway would hand the caller shortened data as if it were complete.
    if (text.size() % 4 != 0) {
        fail();
    }
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t at = 0; at < text.size(); at += 4) {
        bool last = at + 4 == text.size();
        std::uint32_t bits = static_cast<std::uint32_t>(value_of(text[at])) << 18 |
                             static_cast<std::uint32_t>(value_of(text[at + 1])) << 12;
        char third = text[at + 2];
        char fourth = text[at + 3];
        if (third == '=') {
            if (fourth != '=' || !last) {
                fail();
            }
            out += static_cast<char>(bits >> 16);
            break;
        }
        bits |= static_cast<std::uint32_t>(value_of(third)) << 6;
        if (fourth == '=') {
            if (!last) {
                fail();
            }
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            break;
        }
        bits |= static_cast<std::uint32_t>(value_of(fourth));
        out += static_cast<char>(bits >> 16);
        out += static_cast<char>(bits >> 8);
        out += static_cast<char>(bits);
    }
    text = std::move(out);
}

}  // namespace base64
}  // namespace xstd
