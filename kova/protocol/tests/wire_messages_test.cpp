#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kova/protocol/stream_in.h"
#include "kova/protocol/stream_in_nb.h"
#include "kova/protocol/stream_out_nb.h"
#include "kova/protocol/wire_proto.h"
#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"

namespace {

namespace proto = kova::proto;
using bytes = std::vector<std::uint8_t>;
using writer = std::function<void(kova::stream_out&)>;
// Reads one message as a receive loop does (type byte included) and describes what it got.
using parser = std::function<std::string(kova::stream_in&)>;

class wire_messages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }
};

bytes written(bool compact, const writer& write)
{
    kova::stream_out_nb out;
    out.set_compact(compact);
    write(out);
    std::string s = out.take().to_string();
    return bytes(s.begin(), s.end());
}

bytes operator+(bytes a, const bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bytes text_bytes(const std::string& s)
{
    return bytes(s.begin(), s.end());
}

std::string text(const vantor_abi::Rect& r)
{
    return std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.w) + "," +
           std::to_string(r.h);
}

std::string text(const kova::pixel_format& f)
{
    return std::to_string(f.bpp) + "/" + std::to_string(f.depth) + "/" + std::to_string(f.big_endian) + "/" +
           std::to_string(f.true_colour) + " " + std::to_string(f.red_max) + ":" +
           std::to_string(f.red_shift) + ":" + std::to_string(f.red_mask) + " " +
           std::to_string(f.green_max) + ":" + std::to_string(f.green_shift) + " " +
           std::to_string(f.blue_max) + ":" + std::to_string(f.blue_shift);
}

std::string text(const proto::update_request& r)
{
    return std::string(r.incremental ? "i" : "-") + (r.force ? "f" : "-") + std::to_string(r.quality_step) +
           (r.lossy ? "l" : "-") + (r.focus_off ? "u" : "-") + (r.clipboard_off ? "c" : "-") + " " +
           text(r.rect);
}

// Reads the type byte and checks it.
void expect_type(kova::stream_in& in, std::uint8_t type)
{
    EXPECT_EQ(in.read_u8(), type);
}

// A rectangle with signed 16-bit position fields, as the cursor pseudo-encodings carry it.
std::string signed_rect_text(kova::stream_in& in)
{
    vantor_abi::Rect r = proto::read_rect(in);
    return std::to_string(in.decode_signed(static_cast<std::uint32_t>(r.x))) + "," +
           std::to_string(in.decode_signed(static_cast<std::uint32_t>(r.y))) + " " + std::to_string(r.w) +
           "x" + std::to_string(r.h);
}

struct wire_case {
    const char* label;
    bool compact;
    writer write;
    bytes wire;
    parser parse;
    std::string parsed;
};

const bytes default_format_bytes{32, 24, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 0, 0, 0};
const std::string default_format_text = "32/24/0/1 255:16:16711680 255:8 255:0";

kova::pixel_format rgb565()
{
    kova::pixel_format f;
    f.set(16, 16, true, true, 31, 63, 31, 11, 5, 0);
    return f;
}

std::vector<wire_case> all_cases()
{
    std::vector<wire_case> cases;
    auto add = [&](wire_case c) { cases.push_back(std::move(c)); };

    // Handshake.
    add({"version 3.9", false, [](kova::stream_out& o) { proto::write_version(o, 3, 9); },
         text_bytes("RFB 003.009\n"),
         [](kova::stream_in& in) {
             auto v = proto::read_version(in);
             return std::to_string(v.major) + "." + std::to_string(v.minor);
         },
         "3.9"});
    add({"security types",
         false,
         [](kova::stream_out& o) {
             const std::uint8_t types[] = {1};
             proto::write_security_types(o, types);
         },
         {0x01, 0x01},
         [](kova::stream_in& in) {
             auto t = proto::read_security_types(in);
             return std::to_string(t.size()) + ":" + std::to_string(t.at(0));
         },
         "1:1"});
    add({"security ok",
         false,
         [](kova::stream_out& o) { proto::write_security_result(o, 0, "unused"); },
         {0, 0, 0, 0},
         [](kova::stream_in& in) {
             auto r = proto::read_security_result(in);
             return std::to_string(r.result) + "[" + r.reason + "]";
         },
         "0[]"});
    add({"security refused", false,
         [](kova::stream_out& o) { proto::write_security_result(o, 1, "invalid authentication type!"); },
         bytes{0, 0, 0, 1, 0, 0, 0, 0x1C} + text_bytes("invalid authentication type!"),
         [](kova::stream_in& in) {
             auto r = proto::read_security_result(in);
             return std::to_string(r.result) + "[" + r.reason + "]";
         },
         "1[invalid authentication type!]"});
    // ServerInit is classic even on a compact stream.
    add({"server init", true,
         [](kova::stream_out& o) {
             kova::server_init_msg init;
             init.width = 1024;
             init.height = 768;
             init.name = "WORKGROUP\\PC1";
             proto::write_server_init(o, init);
         },
         bytes{0x04, 0x00, 0x03, 0x00} + default_format_bytes + bytes{0, 0, 0, 13} +
             text_bytes("WORKGROUP\\PC1"),
         [](kova::stream_in& in) {
             auto init = proto::read_server_init(in);
             return std::to_string(init.width) + "x" + std::to_string(init.height) + " " + text(init.format) +
                    " " + init.name;
         },
         "1024x768 " + default_format_text + " WORKGROUP\\PC1"});

    // Viewer to server.
    add({"set pixel format",
         false,
         [](kova::stream_out& o) { proto::write_set_pixel_format(o, rgb565()); },
         {0, 0, 0, 0, 16, 16, 1, 1, 0, 31, 0, 63, 0, 31, 11, 5, 0, 0, 0, 0},
         [](kova::stream_in& in) {
             expect_type(in, 0);
             return text(proto::read_set_pixel_format(in));
         },
         "16/16/1/1 31:11:63488 63:5 31:0"});
    add({"set encodings",
         false,
         [](kova::stream_out& o) {
             const std::int32_t list[] = {16, -239};
             proto::write_set_encodings(o, list);
         },
         {2, 0, 0, 2, 0, 0, 0, 0x10, 0xFF, 0xFF, 0xFF, 0x11},
         [](kova::stream_in& in) {
             expect_type(in, 2);
             auto list = proto::read_set_encodings(in);
             std::string s;
             for (auto e : list) {
                 s += std::to_string(e) + " ";
             }
             return s;
         },
         "16 -239 "});
    add({"update request",
         false,
         [](kova::stream_out& o) {
             proto::update_request r;
             r.incremental = true;
             r.quality_step = 5;
             r.focus_off = true;
             r.rect = {10, 20, 256, 200};
             proto::write_update_request(o, r);
         },
         {3, 0x55, 0, 10, 0, 20, 1, 0, 0, 200},
         [](kova::stream_in& in) {
             expect_type(in, 3);
             return text(proto::read_update_request(in));
         },
         "i-5-u- 10,20,256,200"});
    add({"key event",
         false,
         [](kova::stream_out& o) {
             proto::write_key_event(o, {true, 2, 0xFF0D});
         },
         {4, 1, 0, 2, 0, 0, 0xFF, 0x0D},
         [](kova::stream_in& in) {
             expect_type(in, 4);
             auto k = proto::read_key_event(in);
             return std::to_string(k.down) + " " + std::to_string(k.kind) + " " + std::to_string(k.key);
         },
         "1 2 65293"});
    for (std::uint16_t mask : {0x80, 0x100}) {
        add({mask == 0x80 ? "pointer 8-bit mask" : "pointer 16-bit mask", false,
             [mask](kova::stream_out& o) {
                 proto::write_pointer_event(o, {mask, 300, 2});
             },
             mask == 0x80 ? bytes{5, 0x80, 1, 44, 0, 2} : bytes{7, 1, 0, 1, 44, 0, 2},
             [](kova::stream_in& in) {
                 std::uint8_t type = in.read_u8();
                 auto p = proto::read_pointer_event(in, type);
                 return std::to_string(type) + ":" + std::to_string(p.buttons) + " " + std::to_string(p.x) +
                        "," + std::to_string(p.y);
             },
             mask == 0x80 ? "5:128 300,2" : "7:256 300,2"});
    }
    for (std::uint32_t kind : {proto::cut_text_from_server, 0u}) {
        std::uint8_t type = kind == proto::cut_text_from_server ? 3 : 6;
        add({type == 3 ? "server cut text" : "client cut text",
             false,
             [kind](kova::stream_out& o) {
                 proto::write_cut_text(o, {"h\xC3\xA9", 1, kind});
             },
             {type, 1, 0, 0, 0, 0, 0, 3, 'h', 0xC3, 0xA9},
             [type](kova::stream_in& in) {
                 expect_type(in, type);
                 auto c = proto::read_cut_text(in);
                 return std::to_string(c.flags) + ":" + c.text;
             },
             "1:h\xC3\xA9"});
    }

    // Server to viewer.
    for (bool compact : {true, false}) {
        add({compact ? "update with rectangles, compact" : "update with rectangles, classic", compact,
             [](kova::stream_out& o) {
                 proto::write_update_header(o, 2);
                 proto::write_rect_header(o, {1, 2, 300, 4}, 16);
                 proto::write_rect_header(o, {0, 0, 0, 0}, -239);
             },
             compact ? bytes{0, 1, 2, 1, 2, 0x81, 0x2C, 4, 0x10, 0, 0, 0, 0, 0xE0, 0xFF, 0xFF, 0xFF, 0x11}
                     : bytes{0, 0,    0, 2, 0, 1, 0, 2, 1, 0x2C, 0,    4,    0,    0,
                             0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0,    0xFF, 0xFF, 0xFF, 0x11},
             [](kova::stream_in& in) {
                 expect_type(in, 0);
                 std::uint16_t n = proto::read_update_header(in);
                 std::string s = std::to_string(n) + (in.compact() ? "c" : "p");
                 for (std::uint16_t i = 0; i < n; ++i) {
                     auto h = proto::read_rect_header(in);
                     s += " " + text(h.rect) + "/" + std::to_string(h.encoding);
                 }
                 return s;
             },
             std::string("2") + (compact ? "c" : "p") + " 1,2,300,4/16 0,0,0,0/-239"});
    }
    add({"cursor position at the far negative edge",
         true,
         [](kova::stream_out& o) {
             o.write_signed16(-32768);
             o.write_signed16(-1);
             o.write_u16_compact(0);
             o.write_u16_compact(0);
         },
         {0xC1, 0x00, 0x01, 0x03, 0x00, 0x00},
         signed_rect_text,
         "-32768,-1 0x0"});
    add({"colour map, compact",
         true,
         [](kova::stream_out& o) {
             proto::write_colour_map(o, {0, {{0xFFFF, 0, 0x80}, {1, 2, 3}}});
         },
         {1, 1, 0, 2, 0xC0, 0xFF, 0xFF, 0, 0x80, 0x80, 1, 2, 3},
         [](kova::stream_in& in) {
             expect_type(in, 1);
             auto m = proto::read_colour_map(in);
             std::string s = std::to_string(m.first) + ":";
             for (auto& c : m.colours) {
                 s += " " + std::to_string(c.red) + "/" + std::to_string(c.green) + "/" +
                      std::to_string(c.blue);
             }
             return s;
         },
         "0: 65535/0/128 1/2/3"});
    // Bit 0 clear: classic form even though the reader was in compact mode.
    add({"colour map, classic on a compact stream",
         true,
         [](kova::stream_out& o) {
             o.set_compact(false);
             proto::write_colour_map(o, {254, {{0xFFFF, 0, 0x80}, {1, 2, 3}}});
         },
         {1, 0, 0, 254, 0, 2, 0xFF, 0xFF, 0, 0, 0, 0x80, 0, 1, 0, 2, 0, 3},
         [](kova::stream_in& in) {
             expect_type(in, 1);
             auto m = proto::read_colour_map(in);
             return std::to_string(m.first) + ":" + std::to_string(m.colours.size()) +
                    (in.compact() ? "c" : "p");
         },
         "254:2p"});
    add({"console buffer",
         false,
         [](kova::stream_out& o) {
             o.write_u8(15);
             o.pad(1);
             o.write_u16(7);
             o.write_u32(1);
             o.write_u32(2);
             o.write_u32(3);
         },
         {15, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3},
         [](kova::stream_in& in) {
             expect_type(in, 15);
             proto::read_console_buffer(in);
             return std::string("skipped");
         },
         "skipped"});
    add({"drag and drop",
         false,
         [](kova::stream_out& o) {
             const std::uint8_t body[] = {12, 9, 9, 5, 0, 'a', 'b', 'c'};
             o.write_bytes(body, sizeof body);
         },
         {12, 9, 9, 5, 0, 'a', 'b', 'c'},
         [](kova::stream_in& in) {
             expect_type(in, 12);
             proto::skip_drag_drop(in);
             return std::string("skipped");
         },
         "skipped"});
    return cases;
}

TEST_F(wire_messages, golden_bytes)
{
    for (const wire_case& c : all_cases()) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(written(c.compact, c.write), c.wire);
    }
}

// Parses `wire` as a receive loop does when it arrives in two deliveries cut at `split`: the
// first attempt must stop with kova::incomplete, the second must read the whole message.
std::string parse_in_two(const bytes& wire, std::size_t split, bool compact, const parser& parse)
{
    netbuf pending;
    pending.append_bytes(wire.data(), split);
    if (split < wire.size()) {
        kova::stream_in_nb in(&pending);
        in.set_compact(compact);
        const std::uint8_t* start = in.cursor();
        try {
            ADD_FAILURE() << "parsed from " << split << " bytes: " << parse(in);
        } catch (const kova::incomplete&) {
        }
        in.set_cursor(start);
        in.release_consumed();
        pending.append_bytes(wire.data() + split, wire.size() - split);
    }
    kova::stream_in_nb in(&pending);
    in.set_compact(compact);
    std::string result = parse(in);
    EXPECT_FALSE(in.release_consumed()) << "bytes left over";
    return result;
}

TEST_F(wire_messages, every_split_parses_like_one_buffer)
{
    for (const wire_case& c : all_cases()) {
        for (std::size_t split = 0; split <= c.wire.size(); ++split) {
            SCOPED_TRACE(std::string(c.label) + " split at " + std::to_string(split));
            EXPECT_EQ(parse_in_two(c.wire, split, c.compact, c.parse), c.parsed);
        }
    }
}

TEST_F(wire_messages, version_lines)
{
    struct row {
        const char* line;
        std::int32_t major;
        std::int32_t minor;
    };
    const row rows[] = {
        {"RFB 003.008\n", 3, 8},   {"RFB 004.000\n", 4, 0},   {"RFB 003.009 ", -1, -1},
        {"RFB 0x3.009\n", -1, -1}, {"RFX 003.009\n", -1, -1}, {"RFB 003,009\n", -1, -1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.line);
        kova::stream_in_mem in(r.line, 12);
        auto v = proto::read_version(in);
        EXPECT_EQ(v.major, r.major);
        EXPECT_EQ(v.minor, r.minor);
    }
    for (auto [major, minor] : {std::pair{-1, 9}, std::pair{3, -1}, std::pair{1000, 0}, std::pair{-5, 9}}) {
        kova::stream_out_nb out;
        try {
            proto::write_version(out, major, minor);
            ADD_FAILURE() << major << "." << minor << " written";
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), "internal error");
        }
    }
}

TEST_F(wire_messages, encoding_list_order)
{
    const std::vector<std::int32_t> common{-239, -223, -207, -175, -143, -142, -139, -138};
    const std::vector<std::int32_t> tail{-140, 123, -159, 1};
    struct row {
        std::int32_t preferred;
        bool keyboard_state;
        std::vector<std::int32_t> encodings;
    };
    const row rows[] = {
        {0, false, {19, 16}}, {19, false, {19, 16}},   {16, false, {16, 19}},
        {16, true, {16, 19}}, {5, false, {5, 19, 16}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::to_string(r.preferred) + (r.keyboard_state ? " with keyboard state" : ""));
        std::vector<std::int32_t> expected = common;
        if (r.keyboard_state) {
            expected.push_back(-137);
        }
        expected.insert(expected.end(), tail.begin(), tail.end());
        expected.insert(expected.end(), r.encodings.begin(), r.encodings.end());
        EXPECT_EQ(proto::build_encoding_list(r.preferred, r.keyboard_state), expected);
    }
}

TEST_F(wire_messages, update_request_flags)
{
    struct row {
        const char* label;
        proto::update_request request;
        std::uint8_t flags;
    };
    auto req = [](auto change) {
        proto::update_request r;
        r.rect = {1, 2, 3, 4};
        change(r);
        return r;
    };
    const row rows[] = {
        {"none", req([](auto&) {}), 0x00},
        {"incremental", req([](auto& r) { r.incremental = true; }), 0x01},
        {"force", req([](auto& r) { r.force = true; }), 0x02},
        {"quality 7", req([](auto& r) { r.quality_step = 7; }), 0x1C},
        {"quality 9 keeps 3 bits", req([](auto& r) { r.quality_step = 9; }), 0x04},
        {"lossy", req([](auto& r) { r.lossy = true; }), 0x20},
        {"focus off", req([](auto& r) { r.focus_off = true; }), 0x40},
        {"clipboard off", req([](auto& r) { r.clipboard_off = true; }), 0x80},
        {"all", req([](auto& r) {
             r.incremental = r.force = r.lossy = r.focus_off = r.clipboard_off = true;
             r.quality_step = 7;
         }),
         0xFF},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        bytes wire = written(false, [&](kova::stream_out& o) { proto::write_update_request(o, r.request); });
        ASSERT_EQ(wire.size(), 10u);
        EXPECT_EQ(wire[1], r.flags);
        kova::stream_in_mem in(wire.data() + 1, wire.size() - 1);
        proto::update_request back = proto::read_update_request(in);
        proto::update_request expected = r.request;
        expected.quality_step &= 7;
        EXPECT_EQ(text(back), text(expected));
    }
}

// Refusals happen as soon as the length is known: the body is never waited for or allocated.
TEST_F(wire_messages, peer_lengths_are_bounded)
{
    struct row {
        const char* label;
        bytes wire;  // the message up to its length field, without the body
        parser parse;
        const char* error;
    };
    const row rows[] = {
        {"cut text",
         {6, 0, 0, 0, 0, 0x20, 0, 1},
         [](kova::stream_in& in) {
             in.read_u8();
             return proto::read_cut_text(in).text;
         },
         "cut text too long"},
        {"server name", bytes{0, 1, 0, 1} + default_format_bytes + bytes{0, 1, 0, 1},
         [](kova::stream_in& in) { return proto::read_server_init(in).name; }, "string too long"},
        {"refusal reason",
         {0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF},
         [](kova::stream_in& in) { return proto::read_security_result(in).reason; },
         "string too long"},
        {"encodings",
         {2, 0, 0x04, 0x01},
         [](kova::stream_in& in) {
             in.read_u8();
             return std::to_string(proto::read_set_encodings(in).size());
         },
         "too many encodings"},
        {"colour map past the end",
         {1, 0, 0, 250, 0, 7},
         [](kova::stream_in& in) {
             in.read_u8();
             return std::to_string(proto::read_colour_map(in).colours.size());
         },
         "invalid colour map"},
        {"colour map start past the end",
         {1, 0, 1, 1, 0, 0},
         [](kova::stream_in& in) {
             in.read_u8();
             return std::to_string(proto::read_colour_map(in).colours.size());
         },
         "invalid colour map"},
        {"drag and drop shorter than its length field",
         {12, 0, 0, 1, 0},
         [](kova::stream_in& in) {
             in.read_u8();
             proto::skip_drag_drop(in);
             return std::string();
         },
         "invalid drag&drop length"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        kova::stream_in_mem in(r.wire.data(), r.wire.size());
        try {
            ADD_FAILURE() << "accepted: " << r.parse(in);
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), r.error);
        } catch (const kova::incomplete&) {
            ADD_FAILURE() << "waited for the body";
        }
    }
    // The limits themselves pass.
    bytes full_map = bytes{1, 0, 0, 0, 1, 0} + bytes(256 * 6, 0);
    kova::stream_in_mem in(full_map.data() + 1, full_map.size() - 1);
    EXPECT_EQ(proto::read_colour_map(in).colours.size(), 256u);
}

}  // namespace
