#pragma once
// The full names of the flags that the foundation and the engine declare. A static record must
// carry exactly its row's name in the flag table (flag_table.cpp) to get that row's default, so
// every source file declares its records with these constants.
namespace flag::names {

// Foundation.
inline constexpr char crash_on_thread_creation_failed[] =
    "2025-08-06 VNT-2218 crash on thread creation failed";
inline constexpr char no_delete_of_repeating_tasks_without_id[] =
    "2024-06-11 VNT-1764 do not allow delete of repeating tasks without task id";
inline constexpr char replace_wmic[] = "2025-02-05 VNT-2015 replace wmic with different implementation";
inline constexpr char uptime_calculation[] = "2026-04-08 VNT-2560 uptime not calculated correctly";

// Screen protocol and encoder.
inline constexpr char update_executor_shutdown[] = "2025-07-01 KVE-931 update executor shutdown";
inline constexpr char track_remote_keyboard_locks[] =
    "2024-11-09 KVE-702 KOVA track remote keyboard locks";
inline constexpr char send_remote_keyboard_state[] = "2023-11-10 DSK-415 send remote keyboard state";
inline constexpr char mock_desktop_driver[] = "2024-12-05 KVE-744 implement mock kova desktop driver";
inline constexpr char extended_mouse_events_v4[] = "2025-04-18 DSK-688 support extended mouse events v4";
inline constexpr char black_screen_status_update[] =
    "2025-05-23 DSK-710 black screen status not updating instantly";
inline constexpr char compat_lib_api[] = "2025-06-10 KVE-866 implement compat lib api";
inline constexpr char update_request_to_streaming_area[] =
    "2025-07-01 KVE-929 desktop update request to desktop streaming area";
inline constexpr char read_cursor_offset[] = "2025-07-01 KVE-930 read cursor offset";
inline constexpr char compat_lib_api_2[] = "2025-08-08 KVE-977 implement compat lib api 2";
inline constexpr char update_session_topbar[] = "2025-06-13 DSK-733 update session topbar";
inline constexpr char disable_clipboard_on_revoke[] =
    "2026-02-21 DSK-902 force disable clipboard on revoke control";
inline constexpr char total_control[] = "2026-04-13 DSK-951 implement total control";
inline constexpr char remote_clipboard[] = "2026-05-25 CLP-318 remote clipboard";
inline constexpr char lib_v3[] = "2025-06-05 KVE-870 adapt kova lib for v3";

}  // namespace flag::names
