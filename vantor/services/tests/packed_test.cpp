#include "vantor/services/packed.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "vantor/core/netbuf.h"
#include "vantor/services/element.h"
#include "vantor/services/json.h"
#include "vantor/services/tests/element_test_util.h"

using tarvojson::element;
using tarvojson::element_kind;
namespace packet = tarvojson::packet;
namespace strpacket = tarvojson::strpacket;
using namespace element_test;

namespace {

const std::string parse_error = "error parsing packet";
const std::string too_big = "number too big to be stored in native variable";

netbuf packet_of(const std::string& hex)
{
    return netbuf::construct_from_string(bytes_of(hex));
}

std::string hex_of(const netbuf& p)
{
    return element_test::hex_of(p.to_string());
}

element parsed(const std::string& text)
{
    element e;
    tarvojson::parse_text(e, text);
    return e;
}

std::string packed(const element& e)
{
    netbuf p;
    e.write_packet(p);
    return hex_of(p);
}

template <typename T>
struct number_case {
    T value;
    const char* hex;
};

// Writes each value with both codecs (the string codec when it has the type), compares the
// bytes with the expected ones, and reads the value back from each.
template <typename T>
void check_number_forms(const std::vector<number_case<T>>& cases, void (*write)(netbuf&, T),
                        T (*read)(netbuf&), void (*write_str)(std::string&, T) = nullptr,
                        T (*read_str)(std::string&) = nullptr)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        netbuf p;
        write(p, c.value);
        EXPECT_EQ(hex_of(p), c.hex);
        EXPECT_EQ(read(p), c.value);
        EXPECT_TRUE(p.is_empty());
        if (write_str != nullptr) {
            std::string s;
            write_str(s, c.value);
            EXPECT_EQ(element_test::hex_of(s), c.hex);
            EXPECT_EQ(read_str(s), c.value);
            EXPECT_TRUE(s.empty());
        }
    }
}

TEST(PackedNumberTest, NumbersHaveTheirShortestFormInBothCodecs)
{
    check_number_forms<std::uint8_t>({{0, "00"}, {7, "07 01"}, {255, "ff 01"}}, &packet::write_u8,
                                     &packet::read_u8);
    check_number_forms<std::uint32_t>({{0, "00"},
                                       {1, "01 01"},
                                       {255, "ff 01"},
                                       {300, "2c 01 02"},
                                       {65536, "00 00 01 03"},
                                       {2147483648u, "00 00 00 80 04"},
                                       {UINT32_MAX, "ff ff ff ff 04"}},
                                      &packet::write_u32, &packet::read_u32, &strpacket::write_u32,
                                      &strpacket::read_u32);
    check_number_forms<std::int32_t>({{0, "00"},
                                      {-1, "01 81"},
                                      {-300, "2c 01 82"},
                                      {INT32_MIN, "00 00 00 80 84"},
                                      {INT32_MAX, "ff ff ff 7f 04"}},
                                     &packet::write_i32, &packet::read_i32, &strpacket::write_i32,
                                     &strpacket::read_i32);
    check_number_forms<std::uint64_t>({{0, "00"}, {UINT64_MAX, "ff ff ff ff ff ff ff ff 08"}},
                                      &packet::write_u64, &packet::read_u64, &strpacket::write_u64,
                                      &strpacket::read_u64);
    check_number_forms<std::int64_t>({{0, "00"},
                                      {-1, "01 81"},
                                      {INT64_MIN, "00 00 00 00 00 00 00 80 88"},
                                      {INT64_MAX, "ff ff ff ff ff ff ff 7f 08"}},
                                     &packet::write_i64, &packet::read_i64);
}

TEST(PackedNumberTest, BooleansAndStringsInBothCodecs)
{
    netbuf p;
    std::string s;
    packet::write_bool(p, true);
    packet::write_bool(p, false);
    packet::write_string(p, "ab");
    packet::write_cstr(p, "");
    packet::write_cstr(p, nullptr);
    strpacket::write_bool(s, true);
    strpacket::write_bool(s, false);
    strpacket::write_string(s, "ab");
    strpacket::write_cstr(s, "");
    strpacket::write_cstr(s, nullptr);
    EXPECT_EQ(hex_of(p), "54 46 61 62 02 01 00 00");
    EXPECT_EQ(element_test::hex_of(s), hex_of(p));

    std::string out = "stale";
    packet::read_string(p, out);
    EXPECT_EQ(out, "");
    packet::read_string(p, out);
    packet::read_string(p, out);
    EXPECT_EQ(out, "ab");
    EXPECT_FALSE(packet::read_bool(p));
    EXPECT_TRUE(packet::read_bool(p));
    strpacket::read_string(s, out);
    strpacket::read_string(s, out);
    strpacket::read_string(s, out);
    EXPECT_EQ(out, "ab");
    EXPECT_FALSE(strpacket::read_bool(s));
    EXPECT_TRUE(strpacket::read_bool(s));
}

TEST(PackedNumberTest, ReadersComeBackInReverseOrderOfWriting)
{
    netbuf p;
    packet::write_string(p, "text");
    packet::write_i64(p, -5);
    EXPECT_EQ(packet::read_i64(p), -5);
    std::string out;
    packet::read_string(p, out);
    EXPECT_EQ(out, "text");
}

TEST(PackedNumberTest, MalformedNumbersAndLengthsAreRefused)
{
    struct row {
        const char* hex;
        const char* reader;
        const std::string& error;
    };
    const row rows[] = {
        {"", "u32", parse_error},
        {"80", "i32", too_big},
        {"01 81", "u32", parse_error},
        {"00 00 00 80 04", "i32", too_big},
        {"01 02 03 04 05 05", "u32", too_big},
        {"01 02 03 04 05 05", "i32", too_big},
        {"01 02 03 05", "u32", parse_error},
        {"00 00 00 00 00 00 00 80 08", "i64", too_big},
        {"01 02 03 04 05 06 07 08 09 09", "u64", too_big},
        {"01 02 02", "u8", too_big},
        {"58", "bool", parse_error},
        {"", "bool", parse_error},
        {"61 05", "string", parse_error},
        {"61 62 00 00 00 80 04", "string", parse_error},  // a length of 2^31 or more
        {"61 05", "netbuf", parse_error},
        {"61 01 81", "netbuf", parse_error},  // a negative length
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.reader) + ": " + r.hex);
        const std::string reader = r.reader;
        netbuf p = packet_of(r.hex);
        std::string text;
        netbuf block;
        auto read_netbuf_form = [&] {
            if (reader == "u8") {
                packet::read_u8(p);
            } else if (reader == "u32") {
                packet::read_u32(p);
            } else if (reader == "i32") {
                packet::read_i32(p);
            } else if (reader == "u64") {
                packet::read_u64(p);
            } else if (reader == "i64") {
                packet::read_i64(p);
            } else if (reader == "bool") {
                packet::read_bool(p);
            } else if (reader == "string") {
                packet::read_string(p, text);
            } else {
                packet::read_netbuf(p, block);
            }
        };
        EXPECT_EQ(error_of(read_netbuf_form), r.error);

        // The string codec checks before it removes anything (read_string excepted, which has
        // already taken the length when it finds the content short).
        std::string s = bytes_of(r.hex);
        const std::string before = s;
        auto read_string_form = [&] {
            if (reader == "u32") {
                strpacket::read_u32(s);
            } else if (reader == "i32") {
                strpacket::read_i32(s);
            } else if (reader == "u64") {
                strpacket::read_u64(s);
            } else if (reader == "bool") {
                strpacket::read_bool(s);
            } else if (reader == "string") {
                strpacket::read_string(s, text);
            } else {
                throw vantor::exception(r.error);  // no such reader in the string codec
            }
        };
        EXPECT_EQ(error_of(read_string_form), r.error);
        if (reader != "string") {
            EXPECT_EQ(s, before);
        }
    }
}

TEST(PackedNumberTest, BothCodecsWriteTheSameBytes)
{
    std::mt19937 rng(3);
    netbuf p;
    std::string s;
    for (int k = 0; k < 500; ++k) {
        std::uint64_t bits = (std::uint64_t{rng()} << 32 | rng()) >> (rng() % 64);
        switch (k % 5) {
            case 0:
                packet::write_u32(p, static_cast<std::uint32_t>(bits));
                strpacket::write_u32(s, static_cast<std::uint32_t>(bits));
                break;
            case 1:
                packet::write_i32(p, static_cast<std::int32_t>(bits));
                strpacket::write_i32(s, static_cast<std::int32_t>(bits));
                break;
            case 2:
                packet::write_u64(p, bits);
                strpacket::write_u64(s, bits);
                break;
            case 3: {
                std::string text = random_text(rng, text_kind::any_bytes);
                packet::write_string(p, text);
                strpacket::write_string(s, text);
                break;
            }
            default:
                packet::write_bool(p, bits % 2 == 0);
                strpacket::write_bool(s, bits % 2 == 0);
                break;
        }
    }
    ASSERT_TRUE(p.to_string() == s);
    for (int k = 499; k >= 0; --k) {
        switch (k % 5) {
            case 0:
                ASSERT_EQ(packet::read_u32(p), strpacket::read_u32(s));
                break;
            case 1:
                ASSERT_EQ(packet::read_i32(p), strpacket::read_i32(s));
                break;
            case 2:
                ASSERT_EQ(packet::read_u64(p), strpacket::read_u64(s));
                break;
            case 3: {
                std::string a;
                std::string b;
                packet::read_string(p, a);
                strpacket::read_string(s, b);
                ASSERT_EQ(a, b);
                break;
            }
            default:
                ASSERT_EQ(packet::read_bool(p), strpacket::read_bool(s));
                break;
        }
    }
    EXPECT_TRUE(p.is_empty());
    EXPECT_TRUE(s.empty());
}

TEST(PackedBlockTest, ByteBlocksShareTheirBytes)
{
    netbuf block = netbuf::construct_from_string("abc");
    netbuf p;
    packet::write_netbuf(p, block);
    EXPECT_EQ(hex_of(p), "61 62 63 03 01");
    EXPECT_EQ(block.to_string(), "abc");  // the source keeps its bytes
    netbuf out = netbuf::construct_from_string("old");
    packet::read_netbuf(p, out);
    EXPECT_EQ(out.to_string(), "abc");
    EXPECT_TRUE(p.is_empty());
}

TEST(PackedElementTest, WorkedExamplesAreByteExact)
{
    struct row {
        const char* json;
        const char* hex;
    };
    const row rows[] = {
        {"{\"a\":1}", "01 01 04 01 61 01 01 01 01 03 01"},
        {"[1,\"x\"]", "78 01 01 01 01 01 01 04 01 02 01 02 01"},
        {"null", "00"},
        {"[]", "00 02 01"},
        {"{\"b\":\"\",\"a\":null}", "00 61 01 01 00 01 01 62 01 01 02 01 03 01"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.json);
        element e = parsed(r.json);
        EXPECT_EQ(packed(e), r.hex);
        netbuf p = packet_of(r.hex);
        element back;
        back.read_packet(p);
        EXPECT_TRUE(p.is_empty());
        EXPECT_EQ(back.to_json(), e.to_json());
    }
}

TEST(PackedElementTest, TextAndBlockKindsTravelAsWhatTheyHold)
{
    element text;
    text.as_text() = "{'a':1}";
    EXPECT_EQ(packed(text), "01 01 04 01 61 01 01 01 01 03 01");

    element json_block;
    json_block.as_json_netbuf().append_string("[1,\"x\"]");
    EXPECT_EQ(packed(json_block), "78 01 01 01 01 01 01 04 01 02 01 02 01");

    element block;
    block.as_netbuf().append_string("xy");
    EXPECT_EQ(packed(block), "78 79 02 01 01 01");
    netbuf p;
    block.write_packet(p);
    element back;
    back.read_packet(p);
    EXPECT_EQ(back.kind(), element_kind::string);
    EXPECT_EQ(*back.string_if(), "xy");

    // JSON values the element has no kind for travel as strings holding their literal.
    element literals;
    literals.as_text() = "[true,1.5,18446744073709551616]";
    netbuf q;
    literals.write_packet(q);
    element read;
    read.read_packet(q);
    EXPECT_EQ(read.to_json(), "[\"true\",\"1.5\",\"18446744073709551616\"]");

    element bad;
    bad.as_text() = "{";
    netbuf r;
    EXPECT_EQ(error_of([&] { bad.write_packet(r); }), internal_error_text(202));
}

TEST(PackedElementTest, ReadingIntoAnExistingElementAddsToIt)
{
    element e = parsed("[1]");
    netbuf p;
    parsed("[2]").write_packet(p);
    e.read_packet(p);
    EXPECT_EQ(e.to_json(), "[1,2]");

    element number = parsed("5");
    netbuf null_packet = packet_of("00");
    number.read_packet(null_packet);
    EXPECT_EQ(number.to_json(), "5");
}

TEST(PackedElementTest, RandomTreesComeBackEqual)
{
    std::mt19937 rng(2);
    for (int round = 0; round < 300; ++round) {
        element tree;
        fill_random(tree, rng, 5, text_kind::any_bytes);
        netbuf p;
        p.append_string("front");
        tree.write_packet(p);
        element back;
        back.read_packet(p);
        EXPECT_TRUE(same_tree(tree, back));
        EXPECT_EQ(p.to_string(), "front");
    }
}

// An array holding an array ... `depth` times, innermost null.
std::string nested_arrays(std::size_t depth)
{
    std::string bytes(1, '\0');
    for (std::size_t k = 0; k < depth; ++k) {
        bytes += "\x01\x01\x02\x01";
    }
    return bytes;
}

TEST(PackedElementTest, MalformedElementsAreRefused)
{
    struct row {
        std::string bytes;
        std::string error;
    };
    const row rows[] = {
        {nested_arrays(tarvojson::max_nesting), "no exception"},
        {nested_arrays(tarvojson::max_nesting + 1), parse_error},
        {nested_arrays(200000), parse_error},
        {bytes_of("05 01 02 01"), parse_error},           // 5 items, none there
        {bytes_of("ff ff ff ff 04 02 01"), parse_error},  // 2^32 - 1 items
        {bytes_of("00 00 01 01 01 ff ff ff ff 04 03 01"), parse_error},
        {bytes_of("61 05 01 01"), parse_error},          // a string longer than the packet
        {bytes_of("61 01 81 01 01"), parse_error},       // a negative string length
        {bytes_of("61 00 00 00 80 04 01 01"), too_big},  // a length beyond 2^31 - 1
        {bytes_of("01 01 04 01 61 01 01 02 01 03 01"), parse_error},
        {bytes_of("05 01"), internal_error_text(370)},
        {bytes_of("06 01"), internal_error_text(370)},
        {bytes_of("09 01"), internal_error_text(370)},
        {bytes_of("01 81"), internal_error_text(370)},
        {bytes_of(""), parse_error},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(element_test::hex_of(r.bytes.substr(0, 24)));
        netbuf p = netbuf::construct_from_string(r.bytes);
        element e;
        EXPECT_EQ(error_of([&] { e.read_packet(p); }), r.error);
    }
}

// The reader takes from the end, so a packet cut at its front, or with bytes changed, must be
// refused with an exception and never read outside the packet.
TEST(PackedElementTest, CutAndMutatedPacketsNeverEscapeAsAnythingButAnError)
{
    std::mt19937 rng(9);
    auto attempt = [](const std::string& bytes) {
        netbuf p = netbuf::construct_from_string(bytes);
        element e;
        try {
            e.read_packet(p);
        } catch (const vantor::exception&) {
        }
    };
    for (int round = 0; round < 40; ++round) {
        element tree;
        fill_random(tree, rng, 4, text_kind::any_bytes);
        netbuf p;
        tree.write_packet(p);
        const std::string bytes = p.to_string();
        for (std::size_t keep = 0; keep < bytes.size(); ++keep) {
            EXPECT_NO_THROW(attempt(bytes.substr(bytes.size() - keep)));
        }
        for (int k = 0; k < 50 && !bytes.empty(); ++k) {
            std::string mutated = bytes;
            mutated[rng() % mutated.size()] = static_cast<char>(rng());
            EXPECT_NO_THROW(attempt(mutated));
        }
    }
}

TEST(PackedCollectionTest, ListsComeOutInPacketOrder)
{
    netbuf p;
    packet::write_i32(p, 2);
    packet::write_string(p, "b");
    packet::write_i32(p, 1);
    packet::write_string(p, "a");
    packet::write_u32(p, 2);
    vantor_stl::vector<std::pair<std::string, std::int32_t>> pairs;
    pairs.emplace_back("stale", 0);
    packet::read_string_int_list(p, pairs);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].first, "a");
    EXPECT_EQ(pairs[0].second, 1);
    EXPECT_EQ(pairs[1].first, "b");
    EXPECT_EQ(pairs[1].second, 2);

    for (std::int32_t v : {1, 3, 2, 4, 5}) {  // a, c, b, d, e
        packet::write_i32(p, v);
    }
    packet::write_u32(p, 1);
    vantor_stl::vector<tarvojson::int_record> records;
    packet::read_5int_record_list(p, records);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].a, 1);
    EXPECT_EQ(records[0].b, 2);
    EXPECT_EQ(records[0].c, 3);
    EXPECT_EQ(records[0].d, 4);
    EXPECT_EQ(records[0].e, 5);
    EXPECT_EQ(records[0].text, "");

    packet::write_string(p, "y");
    packet::write_string(p, "x");
    packet::write_u32(p, 2);
    vantor_stl::vector<std::string> texts;
    packet::read_string_list(p, texts);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "x");
    EXPECT_EQ(texts[1], "y");
    EXPECT_TRUE(p.is_empty());

    netbuf short_list = packet_of("78 01 01 02 01");  // two texts announced, one there
    EXPECT_EQ(error_of([&] { packet::read_string_list(short_list, texts); }), parse_error);
}

TEST(PackedCollectionTest, StringMapsWriteKeyThenValueThenTheCount)
{
    vantor_stl::map<std::string, std::string> map;
    map["k2"] = "v2";
    map["k1"] = "v";
    netbuf p;
    packet::write_string_map(p, map);
    EXPECT_EQ(hex_of(p), "6b 31 02 01 76 01 01 6b 32 02 01 76 32 02 01 02 01");
    EXPECT_EQ(packet::read_u32(p), 2u);
    std::string text;
    packet::read_string(p, text);
    EXPECT_EQ(text, "v2");
    packet::read_string(p, text);
    EXPECT_EQ(text, "k2");
}

}  // namespace
