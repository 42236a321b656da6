#include <gtest/gtest.h>

#include <string>

#include "vantor/core/exception.h"
#include "vantor/core/sysinfo.h"
#include "vantor/core/string_utils.h"
#include "vantor/core/sysinfo_library.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"

namespace {

TEST(sysinfo, processor_count_and_features)
{
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    EXPECT_EQ(vantor::processor_count(), static_cast<std::int32_t>(info.dwNumberOfProcessors));
    EXPECT_GE(vantor::processor_count(), 1);

    vantor_stl::set<std::string> features;
    features.insert("stale");
    vantor::cpu_features::detect(features);
    EXPECT_FALSE(features.contains("stale"));
    // Every processor that runs this program has SSE2.
    EXPECT_TRUE(features.contains("SSE2"));
    EXPECT_TRUE(features.contains("SSE"));
}

TEST(sysinfo, environment_variables_up_to_255_characters)
{
    const std::pair<std::size_t, bool> rows[] = {{1, true}, {255, true}, {256, false}, {1000, false}};
    for (const auto& [length, kept] : rows) {
        SCOPED_TRACE(length);
        std::string value(length, 'v');
        value[0] = 'x';
        ASSERT_TRUE(SetEnvironmentVariableW(L"SYSINFO_TEST_VALUE", vantor::to_wide(3, value).c_str()));
        EXPECT_EQ(vantor::get_env("SYSINFO_TEST_VALUE"), kept ? value : std::string());
    }
    SetEnvironmentVariableW(L"SYSINFO_TEST_VALUE", L"\u00e9t\u00e9");
    EXPECT_EQ(vantor::get_env("SYSINFO_TEST_VALUE"), "\xc3\xa9t\xc3\xa9");
    SetEnvironmentVariableW(L"SYSINFO_TEST_VALUE", nullptr);
    EXPECT_EQ(vantor::get_env("SYSINFO_TEST_VALUE"), "");
}

TEST(sysinfo, last_error_hex)
{
    SetLastError(5);
    EXPECT_EQ(vantor::last_error_hex(), "0x5");
    SetLastError(0);
    EXPECT_EQ(vantor::last_error_hex(), "0x0");
    SetLastError(0x800700AF);
    EXPECT_EQ(vantor::last_error_hex(), "0x800700af");
}

TEST(sysinfo, virtual_machine_kind)
{
    const std::pair<const char*, int> rows[] = {
        {"Virtual Machine", 1},        {"VMware Virtual Platform", 2}, {"vmware virtual platform", 0},
        {"VirtualBox", 3},             {"HVM domU", 4},                {"", 0},
        {"Standard PC (Q35)", 0},
    };
    for (const auto& [name, kind] : rows) {
        EXPECT_EQ(vantor::virtual_machine_kind(name), kind) << name;
    }
}

TEST(sysinfo, computer_and_domain_name)
{
    std::string computer = "stale";
    std::string domain;
    vantor::computer_and_domain_name(computer, domain);
    wchar_t buffer[256];
    DWORD size = 256;
    ASSERT_TRUE(GetComputerNameW(buffer, &size));
    EXPECT_EQ(vantor::to_upper_copy(computer),
              vantor::to_upper_copy(vantor::from_wide(3, std::wstring(buffer, size))));
    // Outside any domain the workstation service names the workgroup.
    EXPECT_FALSE(domain.empty());
}

class product_user_value : public testing::Test {
protected:
    static constexpr wchar_t key_path[] = L"Software\\Tarvo Online\\sysinfo_test\\display";

    void SetUp() override
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        DWORD one = 1;
        RegSetValueExW(key, L"width", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
        RegCloseKey(key);
    }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tarvo Online\\sysinfo_test"); }
};

TEST_F(product_user_value, key_and_value_existence)
{
    const std::pair<const char*, bool> rows[] = {
        {"sysinfo_test/display/width", true},   {"sysinfo_test\\display\\width", true},
        {"sysinfo_test/display/height", false}, {"sysinfo_test/display/", true},
        {"sysinfo_test/missing/", false},       {"sysinfo_test/display", false},
    };
    for (const auto& [path, exists] : rows) {
        EXPECT_EQ(vantor::read_product_user_value(path), exists) << path;
    }
}

TEST(dynamic_library, loads_binds_and_reports)
{
    vantor::dynamic_library kernel32;
    kernel32.load("kernel32.dll");
    EXPECT_TRUE(kernel32.loaded());
    using get_tick_count_fn = DWORD(WINAPI*)();
    get_tick_count_fn tick = nullptr;
    vantor::bind_proc(kernel32.get(), "GetTickCount", tick);
    EXPECT_NE(tick, nullptr);
    try {
        vantor::bind_proc(kernel32.get(), "NoSuchFunction", tick);
        FAIL() << "no error";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), ":Error in line 51");
    }
    kernel32.free();
    EXPECT_FALSE(kernel32.loaded());

    vantor::dynamic_library missing;
    try {
        missing.load("no_such_library_here.dll");
        FAIL() << "no error";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), ":Error in line 262");
    }
    EXPECT_FALSE(missing.loaded());
}

}  // namespace
