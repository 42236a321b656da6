#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "kova/protocol/stream_in_nb.h"
#include "kova/protocol/stream_out_nb.h"
#include "vantor/core/netbuf.h"

namespace {

class stream_netbuf : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }
};

TEST_F(stream_netbuf, chunks_are_multiples_of_128k_and_larger_than_the_request)
{
    kova::stream_out_nb out;
    EXPECT_EQ(out.ensure(1), 0x20000u);
    std::string fill(0x20000, 'x');
    out.write_bytes(fill.data(), fill.size());  // the chunk is now full
    EXPECT_EQ(out.ensure(0x1FFFF), 0x40000u);
    EXPECT_EQ(out.ensure(0x1FFFF), 0x40000u);  // still room: the same chunk
    out.write_u8('y');
    EXPECT_EQ(out.ensure(0x3FFFF), 0x3FFFFu);
    EXPECT_EQ(out.ensure(0x40000), 0x60000u);
    out.flush();
    EXPECT_EQ(out.sink().size(), 0x20001u);
}

TEST_F(stream_netbuf, flush_leaves_exactly_the_bytes_written)
{
    kova::stream_out_nb fresh;
    fresh.flush();
    EXPECT_EQ(fresh.sink().size(), 0u);

    // Writes that cross a chunk boundary, then a netbuf of two chunks.
    kova::stream_out_nb out;
    std::string first(0x20000 - 2, 'a');
    out.write_bytes(first.data(), first.size());
    out.write_u32(0x31323334);
    netbuf extra = netbuf::construct_from_string("tail");
    netbuf more = netbuf::construct_from_string("+more");
    extra.append_move(more);
    out.write_netbuf(extra);
    EXPECT_EQ(out.bytes_written(), static_cast<std::int32_t>(first.size() + 4 + 9));
    netbuf taken = out.take();
    EXPECT_EQ(taken.to_string(), first + "1234tail+more");
    EXPECT_EQ(extra.to_string(), "tail+more");
    EXPECT_EQ(out.sink().size(), 0u);
    out.write_u8('z');
    EXPECT_EQ(out.take().to_string(), "z");
}

TEST_F(stream_netbuf, release_drops_what_was_read)
{
    kova::stream_in_nb none;
    EXPECT_FALSE(none.release_consumed());
    kova::stream_in_nb null_source(nullptr);
    EXPECT_FALSE(null_source.release_consumed());

    netbuf pending = netbuf::construct_from_string("abcdef");
    kova::stream_in_nb in(&pending);
    EXPECT_EQ(in.read_u16(), 0x6162);
    EXPECT_EQ(in.consumed_copy().to_string(), "ab");
    EXPECT_TRUE(in.release_consumed());
    EXPECT_EQ(pending.to_string(), "cdef");
    EXPECT_EQ(in.consumed_copy().to_string(), "");
    EXPECT_EQ(in.read_u8(), 'c');
    EXPECT_TRUE(in.release_consumed());
    in.skip(3);
    EXPECT_FALSE(in.release_consumed());
    EXPECT_TRUE(pending.is_empty());
    EXPECT_THROW(in.read_u8(), kova::incomplete);
}

TEST_F(stream_netbuf, reader_joins_chunks_once)
{
    netbuf pending = netbuf::construct_from_string("\x01\x02");
    netbuf second = netbuf::construct_from_string(std::string("\x03\x04", 2));
    pending.append_move(second);
    kova::stream_in_nb in(&pending);
    EXPECT_EQ(in.read_u32(), 0x01020304u);
}

}  // namespace
