#include "kova/protocol/encoder_settings.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <string>

#include "kova/protocol/tests/settings_test_util.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/packed.h"

using kova::encoder_settings;
using kova::filter_rule;
using kova::key_filter;
using kova::region_selection;
using namespace settings_test;
namespace packet = tarvojson::packet;

namespace {

const std::string parse_error = "error parsing packet";

// The packed form of a default record, in packet order (the reader starts at the end): black
// time-out 10; an empty key list and an allow root node without children; desktop driver 0,
// whiteboard time-out 10, the further number 2, two empty strings, monitor -1, window 0,
// region 0; per flag its value then its key, keys ascending; the flag count 23.
const char* const default_record_hex =
    "0a 01 "
    "00 00 00 00 00 "
    "00 0a 01 02 01 00 00 01 81 00 00 "
    "46 00 46 01 01 46 02 01 46 03 01 46 05 01 46 06 01 46 07 01 "
    "54 0a 01 54 0b 01 54 0c 01 46 0d 01 "
    "46 14 01 46 15 01 46 16 01 46 17 01 46 18 01 "
    "46 1e 01 54 1f 01 46 20 01 46 28 01 46 32 01 46 64 01 46 65 01 "
    "17 01";

// A record in which every carried field differs from its default.
encoder_settings everything_changed()
{
    encoder_settings s;
    s.invalidate();
    s.have_connection = false;
    s.select_monitor = 3;
    s.select_window = -0x123456789LL;
    s.select_region = region_selection{-7, 300, 1024, 768};
    s.reserved_int = 77;
    s.whiteboard_file = "marker.png";
    s.black_screen = "Please wait";
    s.black_timeout = 120;
    s.whiteboard_timeout = 30;
    s.desktop_driver = 8;
    s.window_filter = node(kova::filter_kind_or,
                           {node(kova::filter_kind_and, {check(kova::filter_field_class, "X"),
                                                         node(kova::filter_kind_deny)}),
                            node(kova::filter_kind_allow)});
    s.forbidden_keys = {key_filter{0xFFE9, {0xFFE3, 0xFFE1}, true}, key_filter{65, {}, false}};
    return s;
}

// The mandatory items of a record with the given flag map (entries in map order); nothing
// after the desktop driver.
netbuf mandatory_items(const std::map<std::int32_t, bool>& flags)
{
    netbuf p;
    packet::write_i32(p, 0);   // desktop driver
    packet::write_i32(p, 10);  // whiteboard time-out
    packet::write_i32(p, 2);   // further number
    packet::write_string(p, "");
    packet::write_string(p, "");
    packet::write_i32(p, -1);
    packet::write_u64(p, 0);
    packet::write_u64(p, 0);
    for (const auto& [key, value] : flags) {
        packet::write_bool(p, value);
        packet::write_i32(p, key);
    }
    packet::write_u32(p, static_cast<std::uint32_t>(flags.size()));
    return p;
}

}  // namespace

TEST(SettingsRecordTest, DefaultsAreThoseOfTheRecordTable)
{
    const encoder_settings s;
    EXPECT_FALSE(s.control_keyboard || s.control_mouse || s.control_clipboard || s.accept_whiteboard ||
                 s.clipboard_notify || s.clipboard_accept || s.clipboard_channel);
    EXPECT_TRUE(s.disable_background);
    EXPECT_TRUE(s.disable_effects);
    EXPECT_FALSE(s.disable_font_smoothing);
    EXPECT_TRUE(s.disable_aero);
    EXPECT_FALSE(s.disable_hwacc || s.disable_win8 || s.disable_alpha || s.disable_mag);
    EXPECT_TRUE(s.use_win95power);
    EXPECT_FALSE(s.disable_local);
    EXPECT_TRUE(s.have_connection);
    EXPECT_FALSE(s.monitor_lock_enforced || s.flag_40 || s.flag_50);
    EXPECT_EQ(s.select_monitor, -1);
    EXPECT_EQ(s.select_window, 0);
    EXPECT_EQ(s.select_region, region_selection{});
    EXPECT_EQ(s.reserved_int, 2);
    EXPECT_EQ(s.whiteboard_timeout, 10);
    EXPECT_EQ(s.black_timeout, 10);
    EXPECT_TRUE(s.whiteboard_file.empty());
    EXPECT_TRUE(s.black_screen.empty());
    EXPECT_EQ(s.whiteboard_cursor_x, 0);
    EXPECT_EQ(s.whiteboard_cursor_y, 0);
    EXPECT_EQ(s.desktop_driver, 0);
    EXPECT_EQ(s.window_filter, filter_rule{});
    EXPECT_EQ(s.window_filter.kind, kova::filter_kind_allow);
    EXPECT_TRUE(s.forbidden_keys.empty());
    EXPECT_FALSE(s.check_console_session || s.detect_secure_desktop);
}

TEST(SettingsWireTest, DefaultRecordHasItsGoldenBytesAndComesBack)
{
    netbuf p;
    encoder_settings::marshal(p, encoder_settings{});
    EXPECT_EQ(hex_of(p), default_record_hex);

    encoder_settings back = everything_changed();
    back.whiteboard_cursor_x = 5;
    back.whiteboard_cursor_y = -6;
    encoder_settings::unmarshal(p, back);
    EXPECT_TRUE(p.is_empty());
    encoder_settings expected;
    expected.whiteboard_cursor_x = 5;  // not carried: kept from the target
    expected.whiteboard_cursor_y = -6;
    EXPECT_EQ(back, expected);
    EXPECT_TRUE(back.use_win95power);
}

TEST(SettingsWireTest, FilterBlockHasItsGoldenBytes)
{
    const filter_rule rules =
        node(kova::filter_kind_or, {check(kova::filter_field_class, "ab"), node(kova::filter_kind_deny)});
    const std::vector<key_filter> keys = {key_filter{65, {17, 16}, true}};
    netbuf p;
    kova::filter_block::write(p, rules, keys);
    // Key entry: switch, held keys descending, held count, key; the key count; the rule nodes:
    // deny, then the check, then the root (children last to first, each count, value, field,
    // kind).
    EXPECT_EQ(hex_of(p),
              "54 11 01 10 01 02 01 41 01 01 01 "
              "00 00 00 01 01 "
              "00 61 62 02 01 03 01 04 01 "
              "02 01 00 00 03 01");

    filter_rule rules_back = node(kova::filter_kind_deny, {node(kova::filter_kind_allow)});
    std::vector<key_filter> keys_back = {key_filter{1, {2}, false}, key_filter{3, {}, true}};
    kova::filter_block::read(p, rules_back, keys_back);
    EXPECT_TRUE(p.is_empty());
    EXPECT_EQ(rules_back, rules);
    ASSERT_EQ(keys_back.size(), 1u);
    EXPECT_EQ(keys_back[0].down, (std::set<std::uint32_t>{16, 17}));
    EXPECT_TRUE(keys_back[0].switch_);
}

TEST(SettingsWireTest, EveryFieldSurvivesTheRoundTrip)
{
    const encoder_settings sent = everything_changed();
    netbuf p;
    encoder_settings::marshal(p, sent);
    encoder_settings back;
    encoder_settings::unmarshal(p, back);
    EXPECT_TRUE(p.is_empty());
    EXPECT_EQ(back, sent);
    EXPECT_EQ(back.select_region, (region_selection{-7, 300, 1024, 768}));
}

TEST(SettingsWireTest, OlderWritersLeaveTheOptionalTailAlone)
{
    encoder_settings target = everything_changed();

    // Ends after the desktop driver: filters and black-screen time-out keep their values.
    netbuf short_packet = mandatory_items({{31, true}});
    encoder_settings::unmarshal(short_packet, target);
    EXPECT_EQ(target.window_filter, everything_changed().window_filter);
    EXPECT_EQ(target.forbidden_keys, everything_changed().forbidden_keys);
    EXPECT_EQ(target.black_timeout, 120);
    EXPECT_EQ(target.select_monitor, -1);

    // Ends after the filter block: only the black-screen time-out keeps its value.
    netbuf p;
    kova::filter_block::write(p, filter_rule{}, {});
    netbuf rest = mandatory_items({});
    p.append_move(rest);
    encoder_settings::unmarshal(p, target);
    EXPECT_EQ(target.window_filter, filter_rule{});
    EXPECT_TRUE(target.forbidden_keys.empty());
    EXPECT_EQ(target.black_timeout, 120);

    encoder_settings fresh;
    netbuf only_mandatory = mandatory_items({});
    encoder_settings::unmarshal(only_mandatory, fresh);
    EXPECT_EQ(fresh.black_timeout, 10);
    EXPECT_TRUE(fresh.forbidden_keys.empty());
    EXPECT_EQ(fresh.window_filter, filter_rule{});
}

TEST(SettingsWireTest, FlagsComeFromTheirKeysAndMissingKeysReadAsFalse)
{
    struct flag_case {
        const char* label;
        std::map<std::int32_t, bool> flags;
        bool encoder_settings::*member;
        bool expected;
    };
    const flag_case cases[] = {
        {"no key 24 keeps the power setting on", {}, &encoder_settings::use_win95power, true},
        {"key 24 set turns it off", {{24, true}}, &encoder_settings::use_win95power, false},
        {"no key 10 clears disable_background", {}, &encoder_settings::disable_background, false},
        {"no key 31 clears have_connection", {}, &encoder_settings::have_connection, false},
        {"key 12 is disable_aero", {{12, true}}, &encoder_settings::disable_aero, true},
        {"key 12 is not font smoothing", {{12, true}}, &encoder_settings::disable_font_smoothing, false},
        {"key 13 is disable_font_smoothing", {{13, true}}, &encoder_settings::disable_font_smoothing, true},
        {"key 20 is disable_win8", {{20, true}}, &encoder_settings::disable_win8, true},
        {"key 20 is not hwacc", {{20, true}}, &encoder_settings::disable_hwacc, false},
        {"key 21 is disable_hwacc", {{21, true}}, &encoder_settings::disable_hwacc, true},
        {"key 50 is flag_50", {{50, true}}, &encoder_settings::flag_50, true},
        {"key 101 is detect_secure_desktop", {{101, true}}, &encoder_settings::detect_secure_desktop, true},
        {"unknown keys are ignored", {{4, true}, {99, true}, {-1, true}}, &encoder_settings::control_keyboard, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        encoder_settings s;
        netbuf p = mandatory_items(c.flags);
        encoder_settings::unmarshal(p, s);
        EXPECT_EQ(s.*c.member, c.expected);
    }
}

TEST(SettingsWireTest, MalformedPacketsAreRefusedAndLeaveTheRecordAlone)
{
    netbuf whole;
    encoder_settings::marshal(whole, everything_changed());
    const std::string bytes = whole.to_string();

    // A deeply nested rule tree, as a peer could send it: each level an and node with one child.
    filter_rule deep;
    for (int level = 0; level <= filter_rule::max_depth + 1; ++level) {
        filter_rule parent = node(kova::filter_kind_and);
        parent.children.push_back(std::move(deep));
        deep = std::move(parent);
    }
    netbuf deep_packet;
    kova::filter_block::write(deep_packet, deep, {});
    netbuf deep_rest = mandatory_items({});
    deep_packet.append_move(deep_rest);

    struct bad_case {
        const char* label;
        netbuf packet;
        std::string error;
    };
    bad_case cases[] = {
        {"cut inside the mandatory items", netbuf::construct_from_string(bytes.substr(bytes.size() - 60)),
         parse_error},
        {"cut inside the filter block", netbuf::construct_from_string(bytes.substr(8)), parse_error},
        {"flag count beyond the packet", packet_of("ff ff ff ff 04"), parse_error},
        // The root node claims 0xffffffff children.
        {"child count beyond the packet",
         [] {
             netbuf p = packet_of("00 ff ff ff ff 04 00 00 00");
             netbuf rest = mandatory_items({});
             p.append_move(rest);
             return p;
         }(),
         parse_error},
        // One key filter entry claiming 0xffffffff held keys.
        {"held count beyond the packet",
         [] {
             netbuf p = packet_of("54 ff ff ff ff 04 41 01 01 01 00 00 00 00");
             netbuf rest = mandatory_items({});
             p.append_move(rest);
             return p;
         }(),
         parse_error},
        {"key filter count beyond the packet",
         [] {
             netbuf p = packet_of("ff ff ff 03 00 00 00 00");
             netbuf rest = mandatory_items({});
             p.append_move(rest);
             return p;
         }(),
         parse_error},
        {"rule tree nested too deep", std::move(deep_packet), parse_error},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.label);
        encoder_settings target = everything_changed();
        EXPECT_EQ(error_of([&] { encoder_settings::unmarshal(c.packet, target); }), c.error);
        EXPECT_EQ(target, everything_changed());
    }
}

TEST(SettingsRecordTest, InvalidateChangesWhatTheEncoderCompares)
{
    encoder_settings s;
    s.black_screen = "";
    s.invalidate();
    EXPECT_TRUE(s.control_keyboard);
    EXPECT_FALSE(s.disable_background);
    EXPECT_FALSE(s.use_win95power);
    EXPECT_TRUE(s.flag_40 && s.flag_50 && s.check_console_session && s.detect_secure_desktop);
    EXPECT_TRUE(s.have_connection);
    EXPECT_EQ(s.select_monitor, -2);
    EXPECT_EQ(s.select_window, -1);
    EXPECT_EQ(s.select_region, (region_selection{-1, -1, 0xFFFF, 0xFFFF}));
    EXPECT_EQ(s.reserved_int, 1);
    EXPECT_EQ(s.whiteboard_timeout, 9);
    EXPECT_EQ(s.black_timeout, 9);
    EXPECT_EQ(s.whiteboard_file, ".obsolete");
    EXPECT_TRUE(s.black_screen.empty());
    EXPECT_EQ(s.desktop_driver, 0);

    // Decrements wrap at the bottom of the type instead of overflowing.
    encoder_settings low;
    low.select_monitor = std::numeric_limits<std::int32_t>::min();
    low.select_window = std::numeric_limits<std::int64_t>::min();
    low.invalidate();
    EXPECT_EQ(low.select_monitor, std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(low.select_window, std::numeric_limits<std::int64_t>::max());
    EXPECT_NE(low, encoder_settings{});
}

TEST(SettingsRecordTest, RestrictsControlNeedsAConnectionAndALockout)
{
    struct restrict_case {
        bool have_connection;
        bool disable_local;
        const char* black_screen;
        bool expected;
    };
    const restrict_case cases[] = {
        {false, true, "x", false}, {true, false, "", false}, {true, true, "", true},
        {true, false, "x", true},  {false, false, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.have_connection) + std::to_string(c.disable_local) + c.black_screen);
        encoder_settings s;
        s.have_connection = c.have_connection;
        s.disable_local = c.disable_local;
        s.black_screen = c.black_screen;
        EXPECT_EQ(s.restricts_control(), c.expected);
    }
}

TEST(SettingsRecordTest, GrabberTypesAndTheirNames)
{
    struct text_case {
        const char* text;
        std::int32_t expected;
    };
    const text_case cases[] = {{"0", 0},    {"5", 5},
                               {"9", 0},    {"-1", 0},
                               {"poll", 1}, {"magnification", 8},
                               {"Poll", 0}, {"", 0},
                               {"3x", 3},   {"99999999999999999999", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(kova::grabber_type_from_string(c.text), c.expected);
    }
    const char* names[] = {"auto",        "poll",   "hook",     "driver",       "injection",
                           "duplication", "stream", "snapshot", "magnification"};
    for (std::int32_t k = 0; k < 9; ++k) {
        EXPECT_EQ(kova::grabber_type_name(k), names[k]);
        EXPECT_EQ(kova::grabber_type_from_string(names[k]), k);
    }
    EXPECT_EQ(kova::grabber_type_name(9), "");
    EXPECT_EQ(kova::grabber_type_name(-1), "");
}
