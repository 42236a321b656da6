#include "vantor/services/flag_local_api.h"
#include "vantor/services/flag_names.h"

namespace flag {
namespace {

// Release tags: the flag shipped on in that release.
constexpr char release_a[] = "4.9.2150";
constexpr char release_b[] = "4.11.2402";

}  // namespace

// The compiled-in flag table: one straight run of declarations with static texts, in date
// order. Each add_source files the declaration that follows it. Release-tagged rows are on;
// untagged and priority-tagged rows are off except in development mode.
void init_item_api_impl::declare_table()
{
    add_source("kova/encoder", "cpp");
    declare(1, "p2-input", names::send_remote_keyboard_state, 0);
    add_source("vantor/core", "cpp");
    declare(1, nullptr, names::no_delete_of_repeating_tasks_without_id, 0);
    add_source("kova/encoder", "cpp");
    declare(1, nullptr, names::track_remote_keyboard_locks, 0);
    add_source("kova/encoder", "cpp");
    declare(1, release_a, names::mock_desktop_driver, 1);
    add_source("vantor/core", "cpp");
    declare(1, release_a, names::replace_wmic, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_a, names::extended_mouse_events_v4, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_a, names::black_screen_status_update, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_a, names::lib_v3, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_a, names::compat_lib_api, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_a, names::update_session_topbar, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_a, names::update_executor_shutdown, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_a, names::update_request_to_streaming_area, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_a, names::read_cursor_offset, 1);
    add_source("vantor/core", "cpp");
    declare(1, release_b, names::crash_on_thread_creation_failed, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_b, names::compat_lib_api_2, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_b, names::disable_clipboard_on_revoke, 1);
    add_source("vantor/core", "cpp");
    declare(1, release_b, names::uptime_calculation, 1);
    add_source("kova/encoder", "cpp");
    declare(1, release_b, names::total_control, 1);
    add_source("kova/encoder", "cpp");
    add_source("kova/clipboard", "cpp");
    declare(1, nullptr, names::remote_clipboard, 0);
}

}  // namespace flag
