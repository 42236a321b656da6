#include "vantor/core/log_record.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(log_escape, control_bytes_and_backquote_become_hex)
{
    struct row {
        std::string in;
        std::string out;
    };
    const row rows[] = {
        {"", ""},
        {"plain text stays", "plain text stays"},
        {std::string("a\0b", 3), "a`00b"},
        {"\r\n\t\x1f", "`0d`0a`09`1f"},
        {"back`quote", "back`60quote"},
        {" ~\x7f", " ~\x7f"},
        {"\x80\xc3\xa9\xff", "\x80\xc3\xa9\xff"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.out);
        EXPECT_EQ(vantor::escape_log_line(r.in), r.out);
    }
}

TEST(log_time_stamp, utc_calendar_time_or_n)
{
    struct row {
        std::int64_t ms;
        const char* stamp;
    };
    const row rows[] = {
        {0, "1970-01-01T00:00:00Z"},
        {999, "1970-01-01T00:00:00Z"},
        {951825600000, "2000-02-29T12:00:00Z"},
        {1709251199999, "2024-02-29T23:59:59Z"},
        {1709251200000, "2024-03-01T00:00:00Z"},
        {4107542400000, "2100-03-01T00:00:00Z"},
        {253402300799000, "9999-12-31T23:59:59Z"},
        {253402300800000, "N"},  // year 10000 no longer prints in 20 characters
        {-1, "N"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.ms);
        EXPECT_EQ(vantor::format_log_time_stamp(r.ms), r.stamp);
    }
}

TEST(log_time_stamp, failing_clock_gives_n)
{
    EXPECT_EQ(vantor::log_time_stamp([]() -> std::int64_t { throw std::runtime_error("no clock"); }), "N");
    EXPECT_EQ(vantor::log_time_stamp([]() -> std::int64_t { return 0; }), "1970-01-01T00:00:00Z");
}

TEST(log_repeat_folder, records_longer_than_the_kept_buffer_fold_too)
{
    vantor::log_repeat_folder folder;
    const std::string stamp = "2024-03-01T00:00:00Z";
    std::string long_record = stamp + " " + std::string(100000, 'x') + "\r\n";
    EXPECT_EQ(folder.fold(long_record, stamp.size()).bytes, long_record);
    // A repeat of the long record folds as any other.
    auto repeat = folder.fold(long_record, stamp.size());
    EXPECT_EQ(repeat.bytes, stamp + " -          1 - \r\n");
    EXPECT_EQ(repeat.seek_back, 0u);
    std::string short_record = stamp + " short but long enough\r\n";
    EXPECT_EQ(folder.fold(short_record, stamp.size()).bytes, short_record);
    auto again = folder.fold(short_record, stamp.size());
    EXPECT_EQ(again.bytes, stamp + " -          1 - \r\n");
}

}  // namespace
