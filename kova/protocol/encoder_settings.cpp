#include "kova/protocol/encoder_settings.h"

#include <array>
#include <cstddef>
#include <map>
#include <utility>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/packed.h"

namespace kova {

namespace {

namespace packet = tarvojson::packet;

// A flag carried in the keyed flag map. Key 24 carries the negation of use_win95power, so that
// a record without that key (whose flags all read as false) keeps the power setting on.
struct keyed_flag {
    std::int32_t key;
    bool encoder_settings::*member;
    bool inverted;
};

// In ascending key order, the order in which the writer appends them. The keys do not follow
// the fields' declaration order everywhere (12 is disable_aero, 13 disable_font_smoothing, 20
// disable_win8, 21 disable_hwacc).
constexpr std::array<keyed_flag, 23> keyed_flags = {{
    {0, &encoder_settings::control_keyboard, false},
    {1, &encoder_settings::control_mouse, false},
    {2, &encoder_settings::control_clipboard, false},
    {3, &encoder_settings::accept_whiteboard, false},
    {5, &encoder_settings::clipboard_notify, false},
    {6, &encoder_settings::clipboard_accept, false},
    {7, &encoder_settings::clipboard_channel, false},
    {10, &encoder_settings::disable_background, false},
    {11, &encoder_settings::disable_effects, false},
    {12, &encoder_settings::disable_aero, false},
    {13, &encoder_settings::disable_font_smoothing, false},
    {20, &encoder_settings::disable_win8, false},
    {21, &encoder_settings::disable_hwacc, false},
    {22, &encoder_settings::disable_alpha, false},
    {23, &encoder_settings::disable_mag, false},
    {24, &encoder_settings::use_win95power, true},
    {30, &encoder_settings::disable_local, false},
    {31, &encoder_settings::have_connection, false},
    {32, &encoder_settings::monitor_lock_enforced, false},
    {40, &encoder_settings::flag_40, false},
    {50, &encoder_settings::flag_50, false},
    {100, &encoder_settings::check_console_session, false},
    {101, &encoder_settings::detect_secure_desktop, false},
}};

// Every entry of the flag map takes at least a one-byte key and a one-byte boolean.
constexpr std::size_t min_flag_entry_bytes = 2;

constexpr std::array<const char*, 9> grabber_names = {"auto",      "poll",        "hook",
                                                      "driver",    "injection",   "duplication",
                                                      "stream",    "snapshot",    "magnification"};

// Decrements that wrap at the type's minimum instead of overflowing.
std::int32_t wrapping_decrement(std::int32_t v) noexcept
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) - 1u);
}

std::int64_t wrapping_decrement(std::int64_t v) noexcept
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(v) - 1u);
}

}  // namespace

std::uint64_t region_selection::to_u64() const noexcept
{
    return static_cast<std::uint64_t>(static_cast<std::uint16_t>(x)) |
           (static_cast<std::uint64_t>(static_cast<std::uint16_t>(y)) << 16) |
           (static_cast<std::uint64_t>(w) << 32) | (static_cast<std::uint64_t>(h) << 48);
}

region_selection region_selection::from_u64(std::uint64_t bits) noexcept
{
    region_selection r;
    r.x = static_cast<std::int16_t>(static_cast<std::uint16_t>(bits & 0xFFFF));
    r.y = static_cast<std::int16_t>(static_cast<std::uint16_t>((bits >> 16) & 0xFFFF));
    r.w = static_cast<std::uint16_t>((bits >> 32) & 0xFFFF);
    r.h = static_cast<std::uint16_t>((bits >> 48) & 0xFFFF);
    return r;
}

void encoder_settings::marshal(netbuf& p, const encoder_settings& record)
{
    packet::write_i32(p, record.black_timeout);
    filter_block::write(p, record.window_filter, record.forbidden_keys);
    packet::write_i32(p, record.desktop_driver);
    packet::write_i32(p, record.whiteboard_timeout);
    packet::write_i32(p, record.reserved_int);
    packet::write_string(p, record.whiteboard_file);
    packet::write_string(p, record.black_screen);
    packet::write_i32(p, record.select_monitor);
    packet::write_u64(p, static_cast<std::uint64_t>(record.select_window));
    packet::write_u64(p, record.select_region.to_u64());
    // A reader meets the count, then per entry the key before the value.
    for (const keyed_flag& f : keyed_flags) {
        packet::write_bool(p, record.*f.member != f.inverted);
        packet::write_i32(p, f.key);
    }
    packet::write_u32(p, static_cast<std::uint32_t>(keyed_flags.size()));
}

void encoder_settings::unmarshal(netbuf& p, encoder_settings& record)
{
    // Read into a copy, so that a packet that turns out malformed leaves the record as it was.
    encoder_settings r(record);

    std::uint32_t count = packet::read_u32(p);
    if (count > p.size() / min_flag_entry_bytes) {
        throw vantor::exception("error parsing packet");
    }
    std::map<std::int32_t, bool> flags;
    for (std::uint32_t k = 0; k < count; ++k) {
        std::int32_t key = packet::read_i32(p);
        flags[key] = packet::read_bool(p);
    }
    r.select_region = region_selection::from_u64(packet::read_u64(p));
    r.select_window = static_cast<std::int64_t>(packet::read_u64(p));
    r.select_monitor = packet::read_i32(p);
    packet::read_string(p, r.black_screen);
    packet::read_string(p, r.whiteboard_file);
    r.reserved_int = packet::read_i32(p);
    r.whiteboard_timeout = packet::read_i32(p);
    r.desktop_driver = packet::read_i32(p);
    // Writers that predate the filters or the black-screen time-out stop earlier.
    if (!p.is_empty()) {
        filter_block::read(p, r.window_filter, r.forbidden_keys);
        if (!p.is_empty()) {
            r.black_timeout = packet::read_i32(p);
        }
    }
    for (const keyed_flag& f : keyed_flags) {
        auto found = flags.find(f.key);
        bool value = found != flags.end() && found->second;
        r.*f.member = value != f.inverted;
    }
    record = std::move(r);
}

void encoder_settings::invalidate()
{
    for (const keyed_flag& f : keyed_flags) {
        if (f.member != &encoder_settings::have_connection) {
            this->*f.member = !(this->*f.member);
        }
    }
    select_monitor = wrapping_decrement(select_monitor);
    select_window = wrapping_decrement(select_window);
    select_region = region_selection::from_u64(select_region.to_u64() - 1u);
    reserved_int = wrapping_decrement(reserved_int);
    whiteboard_timeout = wrapping_decrement(whiteboard_timeout);
    black_timeout = wrapping_decrement(black_timeout);
    whiteboard_file += ".obsolete";
}

bool encoder_settings::restricts_control() const noexcept
{
    return have_connection && (disable_local || !black_screen.empty());
}

std::int32_t grabber_type_from_string(std::string_view text)
{
    // The leading decimal number of the text, like the runtime's atoi, without its overflow:
    // any value past the table is as good as any other.
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
        negative = text[pos] == '-';
        ++pos;
    }
    std::int64_t number = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        if (number < 1000) {
            number = number * 10 + (text[pos] - '0');
        }
    }
    if (negative) {
        number = -number;
    }
    if (text == "0" || number != 0) {
        return number >= 0 && number < static_cast<std::int64_t>(grabber_names.size())
                   ? static_cast<std::int32_t>(number)
                   : 0;
    }
    for (std::size_t k = 0; k < grabber_names.size(); ++k) {
        if (text == grabber_names[k]) {
            return static_cast<std::int32_t>(k);
        }
    }
    return 0;
}

std::string grabber_type_name(std::int32_t kind)
{
    if (kind < 0 || kind >= static_cast<std::int32_t>(grabber_names.size())) {
        return {};
    }
    return grabber_names[static_cast<std::size_t>(kind)];
}

}  // namespace kova
