#pragma once
// Helpers shared by the element, text-form and packed-form tests: random element trees, a
// structural comparison, and the texts of the exceptions the codecs raise.
#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"
#include "vantor/core/text_convert.h"
#include "vantor/services/element.h"

namespace element_test {

// The foundation start installs the buffer table; these tests use the local one.
class local_netbufs : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }
};

inline ::testing::Environment* const local_netbufs_environment =
    ::testing::AddGlobalTestEnvironment(new local_netbufs);

// The text of the exception that `f` throws, or "no exception".
inline std::string error_of(const std::function<void()>& f)
{
    try {
        f();
    } catch (const vantor::exception& e) {
        return e.what();
    }
    return "no exception";
}

inline std::string internal_error_text(int line)
{
    return vantor::internal_error(line).what();
}

// What the random strings are made of.
enum class text_kind {
    utf8,       // valid UTF-8 over the whole code space, weighted towards ASCII and escapes
    any_bytes,  // arbitrary bytes
};

inline std::string random_text(std::mt19937& rng, text_kind kind)
{
    std::string out;
    std::size_t length = std::uniform_int_distribution<std::size_t>(0, 12)(rng);
    for (std::size_t k = 0; k < length; ++k) {
        if (kind == text_kind::any_bytes) {
            out.push_back(static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng)));
            continue;
        }
        static constexpr char specials[] = "\"'\\/<>&\b\f\n\r\t\x01\x1f\x7f";
        std::uint32_t cp = 0;
        switch (std::uniform_int_distribution<int>(0, 5)(rng)) {
            case 0:
                cp = static_cast<unsigned char>(
                    specials[std::uniform_int_distribution<std::size_t>(0, sizeof specials - 2)(rng)]);
                break;
            case 1:
                cp = std::uniform_int_distribution<std::uint32_t>(0x80, 0x7FF)(rng);
                break;
            case 2:
                cp = std::uniform_int_distribution<std::uint32_t>(0x800, 0xD7FF)(rng);
                break;
            case 3:
                cp = std::uniform_int_distribution<std::uint32_t>(0x10000, 0x10FFFF)(rng);
                break;
            default:
                cp = std::uniform_int_distribution<std::uint32_t>(0x20, 0x7E)(rng);
                break;
        }
        vantor::append_utf8_codepoint(cp, out);
    }
    return out;
}

// A random tree of kinds 0 to 4, at most `depth` containers deep.
inline void fill_random(tarvojson::element& e, std::mt19937& rng, int depth, text_kind kind)
{
    int pick = std::uniform_int_distribution<int>(0, depth > 0 ? 5 : 2)(rng);
    switch (pick) {
        case 0:
            e = tarvojson::element();
            break;
        case 1:
            e.as_string() = random_text(rng, kind);
            break;
        case 2: {
            static constexpr std::int64_t edges[] = {0,    1,         -1,        255,       256,
                                                     -300, INT32_MIN, INT32_MAX, INT64_MIN, INT64_MAX};
            std::uniform_int_distribution<std::size_t> choose(0, std::size(edges));
            std::size_t k = choose(rng);
            std::uint64_t bits = (std::uint64_t{rng()} << 32) | rng();
            e.as_int64() = k < std::size(edges) ? edges[k] : static_cast<std::int64_t>(bits);
            break;
        }
        case 3:
        case 4: {
            auto& items = e.as_array();
            std::size_t n = std::uniform_int_distribution<std::size_t>(0, 4)(rng);
            for (std::size_t k = 0; k < n; ++k) {
                fill_random(items.emplace_back(), rng, depth - 1, kind);
            }
            break;
        }
        default: {
            auto& members = e.as_object();
            std::size_t n = std::uniform_int_distribution<std::size_t>(0, 4)(rng);
            for (std::size_t k = 0; k < n; ++k) {
                fill_random(members[random_text(rng, kind)], rng, depth - 1, kind);
            }
            break;
        }
    }
}

// Same kinds and values throughout; a byte block equals a string of the same bytes.
inline bool same_tree(const tarvojson::element& a, const tarvojson::element& b)
{
    using tarvojson::element_kind;
    std::string sa;
    std::string sb;
    bool a_is_text = tarvojson::try_get_string(&a, sa);
    bool b_is_text = tarvojson::try_get_string(&b, sb);
    if (a_is_text || b_is_text) {
        return a_is_text && b_is_text && sa == sb;
    }
    if (a.kind() != b.kind()) {
        return false;
    }
    switch (a.kind()) {
        case element_kind::null:
            return true;
        case element_kind::int64:
            return *a.int64_if() == *b.int64_if();
        case element_kind::text:
            return *a.text_if() == *b.text_if();
        case element_kind::array: {
            const auto& x = *a.array_if();
            const auto& y = *b.array_if();
            if (x.size() != y.size()) {
                return false;
            }
            for (std::size_t k = 0; k < x.size(); ++k) {
                if (!same_tree(x[k], y[k])) {
                    return false;
                }
            }
            return true;
        }
        case element_kind::object: {
            const auto& x = *a.object_if();
            const auto& y = *b.object_if();
            if (x.size() != y.size()) {
                return false;
            }
            for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
                if (i->first != j->first || !same_tree(i->second, j->second)) {
                    return false;
                }
            }
            return true;
        }
        default:
            return a.to_json() == b.to_json();
    }
}

// Bytes as lower-case hexadecimal pairs separated by blanks ("01 2c").
inline std::string hex_of(const std::string& bytes)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

// The bytes of blank-separated hexadecimal pairs.
inline std::string bytes_of(const std::string& hex)
{
    std::string out;
    for (std::size_t k = 0; k + 1 < hex.size();) {
        if (hex[k] == ' ') {
            ++k;
            continue;
        }
        out.push_back(static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16)));
        k += 2;
    }
    return out;
}

}  // namespace element_test
