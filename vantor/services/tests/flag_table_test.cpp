#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "vantor/services/flag_local_api.h"
#include "vantor/services/flag_names.h"
#include "vantor/services/tests/settings_registry_fixture.h"

namespace {

namespace names = flag::names;

struct expected_row {
    const char* name;
    bool local_default;
};

// The flags the foundation and the engine read, with the value the local API gives them without
// override outside development mode.
const expected_row expected_rows[] = {
    {names::crash_on_thread_creation_failed, true},
    {names::no_delete_of_repeating_tasks_without_id, false},
    {names::update_executor_shutdown, true},
    {names::track_remote_keyboard_locks, false},
    {names::send_remote_keyboard_state, false},
    {names::mock_desktop_driver, true},
    {names::extended_mouse_events_v4, true},
    {names::black_screen_status_update, true},
    {names::compat_lib_api, true},
    {names::update_request_to_streaming_area, true},
    {names::read_cursor_offset, true},
    {names::compat_lib_api_2, true},
    {names::update_session_topbar, true},
    {names::disable_clipboard_on_revoke, true},
    {names::total_control, true},
    {names::remote_clipboard, false},
    {names::lib_v3, true},
    {names::replace_wmic, true},
    {names::uptime_calculation, true},
};

class flag_table : public testing::Test {
protected:
    void SetUp() override { settings_test::delete_tree(HKEY_CURRENT_USER, "flag_table_test"); }
    void TearDown() override { settings_test::delete_tree(HKEY_CURRENT_USER, "flag_table_test"); }

    static std::unique_ptr<flag::init_item_api_impl> declared_table()
    {
        auto api =
            flag::reg_storage::make_api(std::make_unique<flag::reg_storage>("flag_table_test\\flags", 1));
        api->declare_table();
        return api;
    }
};

int __cdecl count_item(void* context, const char*, flag::item_api*)
{
    return ++*static_cast<int*>(context);
}

TEST_F(flag_table, gives_every_known_flag_its_local_default)
{
    auto api = declared_table();
    std::set<std::string> keys;
    for (const expected_row& row : expected_rows) {
        SCOPED_TRACE(row.name);
        keys.insert(flag::make_key(row.name));
        flag::item_api* item = api->find(row.name);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->value(), row.local_default);
        EXPECT_TRUE(item->is_default());
        EXPECT_EQ(item->declarations(), 0);
        EXPECT_FALSE(item->added());
        // A static record of the name binds to the table's item; its own default has no effect.
        EXPECT_EQ(api->get_or_add(row.name, row.local_default ? 0 : 1), item);
        EXPECT_EQ(api->state_for_testing(flag::make_key(row.name)), "");
    }
    EXPECT_EQ(keys.size(), std::size(expected_rows));

    int active = 0;
    int removed = 0;
    int filed = 0;
    api->for_each_active(&active, [](void* c, const char* n, flag::item_api* i) { count_item(c, n, i); });
    api->for_each_removed(&removed, [](void* c, const char* n, flag::item_api* i) { count_item(c, n, i); });
    api->for_each_source(&filed, [](void* c, const char* n, const char*, const char*, flag::item_api* i) {
        count_item(c, n, i);
    });
    EXPECT_EQ(active, static_cast<int>(std::size(expected_rows)));
    EXPECT_EQ(removed, 0);
    EXPECT_EQ(filed, static_cast<int>(std::size(expected_rows)) + 1);
}

TEST_F(flag_table, development_mode_turns_on_every_off_row)
{
    ASSERT_EQ(settings_test::write_text(HKEY_CURRENT_USER, "flag_table_test\\flags", L"development_mode", L"true"),
              ERROR_SUCCESS);
    auto api = declared_table();
    for (const expected_row& row : expected_rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(api->find(row.name)->value());
    }
}

}  // namespace
