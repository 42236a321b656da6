#include "vantor/core/wmi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/com_thread.h"
#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/core/string_utils.h"
#include "vantor/core/wmi_props.h"

namespace {

using texts = std::vector<std::string>;

texts to_std(const vantor_stl::vector<std::string>& v) { return texts(v.begin(), v.end()); }

// Collects the log lines written while it lives.
class log_lines {
public:
    log_lines() { vantor::set_log_line_observer(&log_lines::observe, this); }
    ~log_lines() { vantor::set_log_line_observer(nullptr, nullptr); }
    log_lines(const log_lines&) = delete;
    log_lines& operator=(const log_lines&) = delete;

    bool contains(const std::string& line)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
    }

private:
    static void observe(const char* text, std::size_t length, void* self)
    {
        auto* me = static_cast<log_lines*>(self);
        std::lock_guard<std::mutex> guard(me->lock_);
        me->lines_.emplace_back(text, length);
    }

    std::mutex lock_;
    texts lines_;
};

std::string error_text(const std::function<void()>& action)
{
    try {
        action();
    } catch (const vantor::exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

TEST(wmi_props_collector, lists_distinct_values_per_property)
{
    struct add {
        std::size_t index;
        const char* value;
    };
    struct row {
        const char* label;
        std::vector<add> values;
        texts expected;
    };
    const row rows[] = {
        {"true then false", {{0, "true"}, {0, "false"}}, {"true,false", ""}},
        {"true twice", {{0, "true"}, {0, "true"}}, {"true", ""}},
        {"a value inside an earlier one is its own", {{0, "ab"}, {0, "b"}}, {"ab,b", ""}},
        {"an earlier value inside a later one", {{0, "b"}, {0, "ab"}, {0, "b"}}, {"b,ab", ""}},
        {"empty values are ignored", {{1, ""}, {1, "x"}, {1, ""}}, {"", "x"}},
        {"properties are kept apart", {{0, "a"}, {1, "a"}, {1, "b"}, {0, "a"}}, {"a", "a,b"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        vantor::wmi_props_collector collector;
        collector.resize(2);
        for (const add& a : r.values) {
            collector.add(a.index, a.value);
            collector.add_empty(a.index);
        }
        EXPECT_EQ(to_std(collector.texts()), r.expected);
    }
    vantor::wmi_props_collector collector;
    collector.resize(1);
    EXPECT_THROW(collector.add(1, "x"), vantor::exception);
}

TEST(wmi_client, reads_properties_of_a_class_on_its_com_thread)
{
    log_lines log;
    auto client = vantor::wmi_client::open("ROOT\\CIMV2");
    const texts props =
        to_std(client->get_props("Win32_OperatingSystem", {"Caption", "Primary", "NoSuchProperty", "OSType"}));
    ASSERT_EQ(props.size(), 4u);
    EXPECT_FALSE(props[0].empty());
    std::string trimmed = props[0];
    vantor::trim(trimmed);
    EXPECT_EQ(props[0], trimmed);
    EXPECT_EQ(props[1], "true");
    // A property that cannot be read and one of a type other than text or boolean are logged
    // and left empty.
    EXPECT_EQ(props[2], "");
    EXPECT_TRUE(log.contains("wmi: get prop [Win32_OperatingSystem.NoSuchProperty] failed: 80041002"));
    EXPECT_EQ(props[3], "");
    EXPECT_TRUE(log.contains("wmi: invalid prop [Win32_OperatingSystem.OSType] type: 3"));

    // Queries from several threads are served one after the other by the one COM thread.
    std::vector<texts> answers(4);
    std::vector<std::thread> callers;
    for (texts& answer : answers) {
        callers.emplace_back([&client, &answer] { answer = to_std(client->get_props("Win32_OperatingSystem", {"Version"})); });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    for (const texts& answer : answers) {
        ASSERT_EQ(answer.size(), 1u);
        EXPECT_FALSE(answer[0].empty());
        EXPECT_EQ(answer, answers[0]);
    }
}

TEST(wmi_client, failures_are_raised_to_the_caller)
{
    log_lines log;
    auto client = vantor::wmi_client::open("ROOT\\CIMV2");
    // Wine's WMI parses the query when it is made, so a malformed one fails ExecQuery itself.
    EXPECT_EQ(error_text([&] { client->get_props("Win32_Processor WHERE", {"Name"}); }), ":Error in line 111");
    EXPECT_TRUE(log.contains("wmi: ExecQuery failed: 80041017"));

    auto unconnected = vantor::wmi_client::open("ROOT\\NoSuchNamespace");
    EXPECT_EQ(error_text([&] { unconnected->get_props("Win32_Processor", {"Name"}); }), ":Error in line 96");
    EXPECT_TRUE(log.contains("wmi: ConnectServer failed: 8004100e"));
}

TEST(com_thread, queries_run_only_on_the_com_thread)
{
    vantor::com_thread thread("ROOT\\CIMV2");
    EXPECT_NE(error_text([&] { thread.get_props("Win32_Processor", {"Name"}); }).find("Error in line"),
              std::string::npos);
}

}  // namespace
