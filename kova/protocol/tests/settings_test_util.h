#pragma once
// Helpers shared by the settings and filter tests: the local buffer table, packets written as
// hexadecimal text and the text of a thrown exception.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <vector>

#include "kova/protocol/window_filter.h"
#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"

namespace settings_test {

// A filter rule comparing one window field with a text, and a node over child rules.
inline kova::filter_rule check(std::int32_t field, const std::string& value)
{
    kova::filter_rule r;
    r.kind = kova::filter_kind_check;
    r.field = field;
    r.value = value;
    return r;
}

inline kova::filter_rule node(std::int32_t kind, std::vector<kova::filter_rule> children = {})
{
    kova::filter_rule r;
    r.kind = kind;
    r.children = std::move(children);
    return r;
}

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

// Bytes as lower-case hexadecimal pairs separated by blanks ("01 2c").
inline std::string hex_of(const netbuf& p)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : p.to_string()) {
        if (!out.empty()) {
            out.push_back(' ');
        }
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

inline netbuf packet_of(const std::string& hex)
{
    std::string bytes;
    for (std::size_t k = 0; k + 1 < hex.size();) {
        if (hex[k] == ' ') {
            ++k;
            continue;
        }
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16)));
        k += 2;
    }
    return netbuf::construct_from_string(bytes);
}

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

}  // namespace settings_test
