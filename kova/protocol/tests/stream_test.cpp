#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kova/protocol/mem_buf.h"
#include "kova/protocol/stream_in.h"
#include "kova/protocol/stream_in_nb.h"
#include "kova/protocol/stream_out_nb.h"
#include "vantor/core/netbuf.h"

namespace {

using bytes = std::vector<std::uint8_t>;

class stream_forms : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }
};

bytes taken_bytes(kova::stream_out_nb& out)
{
    std::string s = out.take().to_string();
    return bytes(s.begin(), s.end());
}

TEST_F(stream_forms, compact_unsigned_boundaries)
{
    struct row {
        std::uint32_t value;
        bytes wire;
    };
    const row rows[] = {
        {0, {0x00}},
        {0x7F, {0x7F}},
        {0x80, {0x80, 0x80}},
        {0x3FFF, {0xBF, 0xFF}},
        {0x4000, {0xC0, 0x40, 0x00}},
        {0x1FFFFF, {0xDF, 0xFF, 0xFF}},
        {0x200000, {0xE0, 0x00, 0x20, 0x00, 0x00}},
        {0xFFFFFF11, {0xE0, 0xFF, 0xFF, 0xFF, 0x11}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.value);
        kova::stream_out_nb out;
        out.set_compact(true);
        out.write_compact_u32(r.value);
        EXPECT_EQ(out.bytes_written(), static_cast<std::int32_t>(r.wire.size()));
        EXPECT_EQ(taken_bytes(out), r.wire);

        kova::stream_in_mem in(r.wire.data(), r.wire.size());
        in.set_compact(true);
        EXPECT_EQ(in.readCompactU32(), r.value);
        EXPECT_EQ(in.available(), 0u);
    }
}

TEST_F(stream_forms, every_lead_from_e0_introduces_four_value_bytes)
{
    for (std::uint8_t lead : {0xE0, 0xE7, 0xFF}) {
        SCOPED_TRACE(int{lead});
        const bytes wire{lead, 0x00, 0x00, 0x01, 0x00};
        kova::stream_in_mem in(wire.data(), wire.size());
        in.set_compact(true);
        EXPECT_EQ(in.readCompactU32(), 0x100u);
    }
    // A value that fits three bytes may still come in the five-byte form.
    const bytes long_form{0xE0, 0x00, 0x00, 0x00, 0x05};
    kova::stream_in_mem in(long_form.data(), long_form.size());
    in.set_compact(true);
    EXPECT_EQ(in.read_u16c(), 5u);
}

TEST_F(stream_forms, classic_mode_uses_fixed_widths)
{
    kova::stream_out_nb out;
    out.write_compact_u32(5);
    out.write_u16_compact(0x12345);  // cut to 16 bits
    out.write_signed16(-2);
    EXPECT_EQ(taken_bytes(out), (bytes{0, 0, 0, 5, 0x23, 0x45, 0xFF, 0xFE}));

    const bytes wire{0x12, 0x34, 0x56};
    kova::stream_in_mem in(wire.data(), wire.size());
    EXPECT_EQ(in.read_u16c(), 0x1234u);
    EXPECT_EQ(in.available(), 1u);
    EXPECT_EQ(in.decode_signed(3), 3);
    EXPECT_EQ(in.decode_signed(0xFFFE), -2);
}

TEST_F(stream_forms, zig_zag_signed_values)
{
    struct row {
        std::int16_t value;
        bytes compact;
        bytes classic;
    };
    const row rows[] = {
        {0, {0x00}, {0x00, 0x00}},
        {-1, {0x03}, {0xFF, 0xFF}},
        {5, {0x0A}, {0x00, 0x05}},
        {2, {0x04}, {0x00, 0x02}},
        {32767, {0xC0, 0xFF, 0xFE}, {0x7F, 0xFF}},
        {-32767, {0xC0, 0xFF, 0xFF}, {0x80, 0x01}},
        // 1 - 2 * -32768 = 65537 does not fit 16 bits; cut to 16 bits it would read back as 0.
        {-32768, {0xC1, 0x00, 0x01}, {0x80, 0x00}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.value);
        for (bool compact : {true, false}) {
            kova::stream_out_nb out;
            out.set_compact(compact);
            out.write_signed16(r.value);
            bytes wire = taken_bytes(out);
            EXPECT_EQ(wire, compact ? r.compact : r.classic);

            kova::stream_in_mem in(wire.data(), wire.size());
            in.set_compact(compact);
            EXPECT_EQ(in.decode_signed(in.read_u16c()), r.value) << "compact " << compact;
        }
    }
}

TEST_F(stream_forms, pad_and_bytes_written)
{
    kova::stream_out_nb out;
    out.write_u8(1);
    out.pad(3);
    out.write_u32(0x01020304);
    out.write_bytes("ab", 2);
    EXPECT_EQ(out.bytes_written(), 10);
    EXPECT_EQ(taken_bytes(out), (bytes{1, 0, 0, 0, 1, 2, 3, 4, 'a', 'b'}));
}

TEST_F(stream_forms, compact_read_cut_after_lead_rewinds_and_completes)
{
    // Lead 0xC1 needs two more bytes; only one has arrived.
    netbuf pending = netbuf::construct_from_bytes("\x07\xC1\x00", 3);
    {
        kova::stream_in_nb in(&pending);
        in.set_compact(true);
        EXPECT_EQ(in.read_u8(), 7);
        in.release_consumed();
        const std::uint8_t* start = in.cursor();
        EXPECT_THROW(in.readCompactU32(), kova::incomplete);
        EXPECT_NE(in.cursor(), start);  // the lead byte was consumed
        in.set_cursor(start);
        EXPECT_TRUE(in.release_consumed());
    }
    EXPECT_EQ(pending.size(), 2u);
    pending.append_byte(0x01);
    kova::stream_in_nb in(&pending);
    in.set_compact(true);
    EXPECT_EQ(in.readCompactU32(), 0x10001u);
    EXPECT_FALSE(in.release_consumed());
    EXPECT_TRUE(pending.is_empty());
}

TEST_F(stream_forms, skip_and_read_bytes_stop_at_the_end)
{
    const bytes wire{1, 2, 3, 4, 5};
    kova::stream_in_mem in(wire.data(), wire.size());
    in.skip(2);
    std::uint8_t got[3] = {};
    in.read_bytes(got, 3);
    EXPECT_EQ(got[0], 3);
    EXPECT_EQ(got[2], 5);
    EXPECT_THROW(in.skip(1), kova::incomplete);

    kova::stream_in_mem empty;
    EXPECT_THROW(empty.read_u8(), kova::incomplete);
}

TEST_F(stream_forms, mem_buf_grows_only_past_its_last_size)
{
    kova::mem_buf buf;
    buf.resize(200);
    std::uint8_t* block = buf.data();
    ASSERT_NE(block, nullptr);
    buf.resize(100);
    EXPECT_EQ(buf.data(), block);
    EXPECT_EQ(buf.size(), 100u);
    buf.resize(150);  // beyond the size now held: a new block
    EXPECT_EQ(buf.size(), 150u);
    EXPECT_NE(buf.data(), nullptr);
    buf.release();
    EXPECT_EQ(buf.data(), nullptr);
    EXPECT_EQ(buf.size(), 0u);
}

}  // namespace
