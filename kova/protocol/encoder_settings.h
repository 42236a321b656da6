#pragma once
// kova::encoder_settings: what the viewer of one desktop stream may do and how the desktop is
// to be captured. The session layer builds the record from its options (the option names are
// the field names), hands it to the encoder, and the encoder hands a copy to the desktop
// driver; across processes it travels in the packed codec (marshal / unmarshal).
//
// A plain value without a lock: each owner (session, encoder, driver) keeps its own copy and
// touches it on its own thread. Copies are deep (strings, rule tree and key list included).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kova/protocol/window_filter.h"

class netbuf;

namespace kova {

// The rectangle of the desktop to stream; all zeros means none. It travels as one unsigned
// 64-bit number with x in bits 0-15, y in bits 16-31, w in bits 32-47 and h in bits 48-63.
struct region_selection {
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::uint16_t w = 0;
    std::uint16_t h = 0;

    bool operator==(const region_selection&) const = default;

    std::uint64_t to_u64() const noexcept;
    static region_selection from_u64(std::uint64_t bits) noexcept;
};

struct encoder_settings {
    // The viewer's key events may reach the desktop.
    bool control_keyboard = false;
    // The viewer's pointer events may reach the desktop.
    bool control_mouse = false;
    // The viewer may set the local clipboard.
    bool control_clipboard = false;
    // Pointer events are also handed to the whiteboard.
    bool accept_whiteboard = false;
    // Local clipboard text is sent to the viewer.
    bool clipboard_notify = false;
    // Clipboard text from the viewer is accepted.
    bool clipboard_accept = false;
    // With the remote-clipboard feature flag, the clipboard goes through the clipboard channel.
    bool clipboard_channel = false;
    // Desktop driver options.
    bool disable_background = true;
    bool disable_effects = true;
    bool disable_font_smoothing = false;
    bool disable_aero = true;
    bool disable_hwacc = false;
    bool disable_win8 = false;  // no Desktop Duplication capture
    bool disable_alpha = false;
    bool disable_mag = false;  // no magnification capture
    bool use_win95power = true;
    // The local user's input is locked out while the stream runs.
    bool disable_local = false;
    // The session's connection is up (true unless its status is "down"); the Windows desktop
    // driver clears it when it stops.
    bool have_connection = true;
    bool monitor_lock_enforced = false;
    // Carried and stored only.
    bool flag_40 = false;
    // Index of the monitor to stream; -1 is none.
    std::int32_t select_monitor = -1;
    // Handle of the window to stream, widened to 64 bits; 0 is none.
    std::int64_t select_window = 0;
    // Carried and stored only.
    bool flag_50 = false;
    region_selection select_region;
    // Carried and stored only.
    std::int32_t reserved_int = 2;
    // Handed to both whiteboard drivers, at least 1.
    std::int32_t whiteboard_timeout = 10;
    // The whiteboard's pointer image; a non-empty text is handed to the whiteboard drivers.
    std::string whiteboard_file;
    // Offsets copied into the whiteboard pointer record; not part of the packed form.
    std::int32_t whiteboard_cursor_x = 0;
    std::int32_t whiteboard_cursor_y = 0;
    // Not empty: the local screen is blacked out while the stream runs.
    std::string black_screen;
    std::int32_t black_timeout = 10;
    // Grabber kind 0 to 8 (grabber_type_name).
    std::int32_t desktop_driver = 0;
    // The allowed-application rules.
    filter_rule window_filter;
    // Key combinations that the viewer may not send.
    std::vector<forbidden_key> forbidden_keys;
    // The update pass asks the driver whether the console session changed.
    bool check_console_session = false;
    // The driver treats a denied access to the input desktop as a grab pause.
    bool detect_secure_desktop = false;

    bool operator==(const encoder_settings&) const = default;

    // Appends the record to a packed-codec packet.
    static void marshal(netbuf& packet, const encoder_settings& record);
    // Reads a record from the end of a packet into `record`. The filter block and the
    // black-screen time-out are optional at the end (records from older writers); when absent
    // they keep their values in `record`, as do the whiteboard cursor offsets, which the form
    // does not carry. Flags whose keys are absent become false (use_win95power true).
    // Throws the packed codec's errors on a malformed packet and then leaves `record` as it
    // was.
    static void unmarshal(netbuf& packet, encoder_settings& record);

    // Makes every field that the encoder compares differ from its value, so that the next
    // settings applied count as changes throughout. have_connection, black_screen,
    // desktop_driver, the cursor offsets and both filters keep their values.
    void invalidate();
    // The local user is locked out: have_connection and (disable_local or a black screen).
    bool restricts_control() const noexcept;
};

// The desktop_driver value of an option text: a decimal number 0 to 8 (other numbers give 0),
// else the index of the exactly equal grabber name, else 0 ("auto").
std::int32_t grabber_type_from_string(std::string_view text);
// "auto", "poll", "hook", "driver", "injection", "duplication", "stream", "snapshot" and
// "magnification" for 0 to 8; the empty string for any other value.
std::string grabber_type_name(std::int32_t kind);

}  // namespace kova
