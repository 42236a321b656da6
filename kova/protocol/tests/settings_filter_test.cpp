#include "kova/protocol/window_filter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "kova/protocol/debug_mask.h"
#include "kova/protocol/tests/settings_test_util.h"
#include "vantor/core/log.h"

using kova::filter_rule;
using settings_test::check;
using settings_test::node;

namespace {

// A window whose properties are given as a table; counts the properties read.
class fake_window : public kova::filter_window_i {
public:
    explicit fake_window(std::map<std::int32_t, std::string> fields) : fields_(std::move(fields)) {}

    bool field_text(std::int32_t field, std::string& out) override
    {
        ++reads;
        auto found = fields_.find(field);
        if (found == fields_.end()) {
            return false;
        }
        out = found->second;
        return true;
    }

    int reads = 0;

private:
    std::map<std::int32_t, std::string> fields_;
};

struct log_capture {
    log_capture() { vantor::set_log_line_observer(&observe, this); }
    ~log_capture() { vantor::set_log_line_observer(nullptr, nullptr); }
    static void observe(const char* text, std::size_t length, void* self)
    {
        auto* me = static_cast<log_capture*>(self);
        std::lock_guard guard(me->lock);
        me->lines.emplace_back(text, length);
    }
    std::mutex lock;
    std::vector<std::string> lines;
};

// Turns the filter debug category on for one test.
struct filter_debug_on {
    filter_debug_on() : saved(kova::debug_mask) { kova::debug_mask |= kova::debug_encoder_filters; }
    ~filter_debug_on() { kova::debug_mask = saved; }
    std::uint32_t saved;
};

}  // namespace

TEST(SettingsFilterTest, EvaluationFollowsTheNodeKinds)
{
    struct eval_case {
        const char* label;
        filter_rule tree;
        std::int32_t expected;
        int reads;  // properties read: shows where evaluation stopped
    };
    const eval_case cases[] = {
        {"allow", node(kova::filter_kind_allow), kova::filter_result_allow, 0},
        {"deny", node(kova::filter_kind_deny), kova::filter_result_deny, 0},
        {"empty and is true", node(kova::filter_kind_and), kova::filter_result_true, 0},
        {"empty or is false", node(kova::filter_kind_or), kova::filter_result_false, 0},
        {"unknown kind is false", node(7, {node(kova::filter_kind_allow)}), kova::filter_result_false, 0},
        {"and stops at the first failing check",
         node(kova::filter_kind_and, {check(kova::filter_field_class, "Other"), check(kova::filter_field_title, "t"),
                                      node(kova::filter_kind_allow)}),
         kova::filter_result_false, 1},
        {"and of passing checks reaches its return node",
         node(kova::filter_kind_and, {check(kova::filter_field_class, "X"), node(kova::filter_kind_deny),
                                      check(kova::filter_field_title, "t")}),
         kova::filter_result_deny, 1},
        {"or of two failing checks is false",
         node(kova::filter_kind_or, {check(kova::filter_field_class, "A"), check(kova::filter_field_title, "B")}),
         kova::filter_result_false, 2},
        {"or stops at the first true child",
         node(kova::filter_kind_or, {check(kova::filter_field_class, "X"), check(kova::filter_field_title, "t")}),
         kova::filter_result_true, 1},
        {"comparison is byte for byte", check(kova::filter_field_title, "Title"), kova::filter_result_false, 1},
        {"a field the window cannot read fails", check(kova::filter_field_style, ""), kova::filter_result_false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fake_window w({{kova::filter_field_class, "X"}, {kova::filter_field_title, "title"}});
        EXPECT_EQ(c.tree.evaluate(w, 0), c.expected);
        EXPECT_EQ(w.reads, c.reads);
    }
}

TEST(SettingsFilterTest, DenyOneClassAllowTheRest)
{
    const filter_rule tree = node(
        kova::filter_kind_or,
        {node(kova::filter_kind_and, {check(kova::filter_field_class, "X"), node(kova::filter_kind_deny)}),
         node(kova::filter_kind_allow)});
    fake_window x({{kova::filter_field_class, "X"}});
    fake_window other({{kova::filter_field_class, "Y"}});
    EXPECT_EQ(tree.evaluate(x, 0), kova::filter_result_deny);
    EXPECT_EQ(tree.evaluate(other, 0), kova::filter_result_allow);
}

TEST(SettingsFilterTest, FieldNamesAreExact)
{
    const char* names[] = {"invalid", "desktop", "path", "class", "title", "style", "ex_style"};
    for (std::int32_t k = 0; k < 7; ++k) {
        EXPECT_EQ(kova::filter_field_from_string(names[k]), k);
    }
    EXPECT_EQ(kova::filter_field_from_string("Title"), 0);
    EXPECT_EQ(kova::filter_field_from_string(""), 0);
    EXPECT_EQ(kova::filter_field_name(0), "");
    EXPECT_EQ(kova::filter_field_name(4), "title");
    EXPECT_EQ(kova::filter_field_name(7), "");
}

TEST(SettingsFilterTest, NodesAreLoggedIndentedOnlyWithTheFilterCategory)
{
    const filter_rule tree =
        node(kova::filter_kind_or, {node(kova::filter_kind_and, {check(kova::filter_field_path, "C:\\a.exe"),
                                                                 node(kova::filter_kind_deny)}),
                                    node(kova::filter_kind_allow)});
    fake_window w({{kova::filter_field_path, "C:\\a.exe"}});
    {
        log_capture quiet;
        tree.evaluate(w, 0);
        EXPECT_TRUE(quiet.lines.empty());
    }
    filter_debug_on debug;
    log_capture capture;
    tree.evaluate(w, 0);
    std::string all;
    for (const auto& line : capture.lines) {
        all += line + "|";
    }
    EXPECT_NE(all.find("filters: logic or on 2 elements|"), std::string::npos) << all;
    EXPECT_NE(all.find("filters:  logic and on 2 elements|"), std::string::npos) << all;
    EXPECT_NE(all.find("filters:   check path eq C:\\a.exe|"), std::string::npos) << all;
    EXPECT_NE(all.find("filters:   return: deny|"), std::string::npos) << all;
    // The or node returned with the and node's deny: the allow node was never reached.
    EXPECT_EQ(all.find("return: allow"), std::string::npos) << all;
}
