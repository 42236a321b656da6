#include <gtest/gtest.h>

#include "vantor/core/windows_version.h"

namespace {

TEST(windows_version, decisions_by_version)
{
    struct row {
        std::uint32_t word;
        bool xp;
        bool vista;
        bool eight;
    };
    const row rows[] = {
        {0x00050000, false, false, false},  // 2000
        {0x00050001, true, false, false},   // XP
        {0x00050002, true, false, false},   // Server 2003
        {0x00060000, true, true, false},    // Vista
        {0x00060001, true, true, false},    // 7
        {0x00060002, true, true, true},     // 8
        {0x00060003, true, true, true},     // 8.1
        {0x000A0000, true, true, true},     // 10
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << r.word);
        EXPECT_EQ(vantor::windows_at_least_xp(r.word), r.xp);
        EXPECT_EQ(vantor::windows_at_least_vista(r.word), r.vista);
        EXPECT_EQ(vantor::windows_at_least_8(r.word), r.eight);
    }

    EXPECT_TRUE(vantor::windows_build_at_least_19041(10, 0, 19041));
    EXPECT_FALSE(vantor::windows_build_at_least_19041(10, 0, 19040));
    EXPECT_TRUE(vantor::windows_build_at_least_19041(10, 1, 0));
    EXPECT_TRUE(vantor::windows_build_at_least_19041(11, 0, 0));
    EXPECT_FALSE(vantor::windows_build_at_least_19041(6, 3, 30000));
}

TEST(windows_version, reads_the_running_system)
{
    RTL_OSVERSIONINFOEXW record;
    ASSERT_TRUE(vantor::rtl_version(record));
    EXPECT_EQ(record.dwOSVersionInfoSize, 284u);
    std::uint32_t word = vantor::windows_version_word();
    EXPECT_EQ(word, (record.dwMajorVersion << 16) | record.dwMinorVersion);
    EXPECT_EQ(vantor::windows_build_number(), record.dwBuildNumber);
    EXPECT_GT(vantor::windows_build_number(), 0u);
    EXPECT_TRUE(vantor::windows_at_least_vista());
    EXPECT_EQ(vantor::windows_at_least_8(), vantor::windows_at_least_8(word));
    EXPECT_EQ(vantor::windows_build_at_least_19041(),
              vantor::windows_build_at_least_19041(record.dwMajorVersion, record.dwMinorVersion,
                                                   record.dwBuildNumber));
}

}  // namespace
