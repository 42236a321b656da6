#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

#include "kova/protocol/stream_compress.h"
#include "kova/protocol/stream_in_nb.h"
#include "kova/protocol/stream_in_zip.h"
#include "kova/protocol/stream_out_nb.h"
#include "kova/protocol/zip_writer.h"
#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/packed.h"

namespace {

class zip_stream : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }
};

// Tile-like payloads: repetitive within and across blocks, so that later blocks refer back to
// earlier ones through the dictionary.
std::string payload(int seed, std::size_t n)
{
    std::string out;
    std::uint32_t x = 2463534242u + static_cast<std::uint32_t>(seed);
    while (out.size() < n) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out += "tile row " + std::to_string(x % 40) + " colour " + std::to_string(seed) + ";";
    }
    out.resize(n);
    return out;
}

// One ZRLE rectangle's compressed block, as the ZRLE writer makes it.
std::string zip_block(kova::compress_holder& compressor, const std::string& data)
{
    kova::zip_writer writer(compressor);
    netbuf input = netbuf::construct_from_string(data);
    writer.compress(input);
    EXPECT_TRUE(input.is_empty());
    writer.flush();
    return writer.output().to_string();
}

bool ends_with_sync_marker(const std::string& block)
{
    return block.size() >= 4 && block.compare(block.size() - 4, 4, std::string("\x00\x00\xFF\xFF", 4)) == 0;
}

// Stock zlib as an independent receiver: one inflate stream for several blocks.
class stock_inflater {
public:
    stock_inflater() { EXPECT_EQ(inflateInit(&z_), Z_OK); }
    ~stock_inflater() { inflateEnd(&z_); }

    // The inflated bytes of one more block of the stream; ok tells whether zlib accepted it.
    std::string feed(const std::string& block, bool& ok)
    {
        std::string out;
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(block.data()));
        z_.avail_in = static_cast<uInt>(block.size());
        ok = true;
        for (;;) {
            char buf[4096];
            z_.next_out = reinterpret_cast<Bytef*>(buf);
            z_.avail_out = sizeof buf;
            int r = inflate(&z_, Z_SYNC_FLUSH);
            if (r != Z_OK && r != Z_BUF_ERROR) {
                ok = false;
                return out;
            }
            out.append(buf, sizeof buf - z_.avail_out);
            if (z_.avail_out != 0) {
                return out;
            }
        }
    }

private:
    z_stream z_{};
};

TEST_F(zip_stream, blocks_inflate_in_order_with_stock_zlib)
{
    kova::compress_holder compressor;
    const std::string a = payload(1, 70000);  // more than one output span
    const std::string b = payload(2, 5000);
    const std::string block_a = zip_block(compressor, a);
    ASSERT_TRUE(compressor);  // the writer filled the encoder's holder
    const std::string block_b = zip_block(compressor, b);
    EXPECT_EQ(static_cast<unsigned char>(block_a[0]), 0x78);  // zlib header
    EXPECT_TRUE(ends_with_sync_marker(block_a));
    EXPECT_TRUE(ends_with_sync_marker(block_b));

    stock_inflater in;
    bool ok = false;
    EXPECT_EQ(in.feed(block_a, ok), a);
    EXPECT_TRUE(ok);
    EXPECT_EQ(in.feed(block_b, ok), b);
    EXPECT_TRUE(ok);

    stock_inflater second_alone;
    second_alone.feed(block_b, ok);
    EXPECT_FALSE(ok);
}

TEST_F(zip_stream, dropped_block_fails_only_what_follows)
{
    kova::compress_holder compressor;
    const std::string a = payload(3, 3000);
    const std::string b = payload(4, 3000);
    const std::string c = b + payload(5, 200);  // refers back into b
    const std::string block_a = zip_block(compressor, a);
    zip_block(compressor, b);
    const std::string block_c = zip_block(compressor, c);

    stock_inflater stock;
    bool ok = false;
    EXPECT_EQ(stock.feed(block_a, ok), a);
    EXPECT_TRUE(ok);
    std::string got = stock.feed(block_c, ok);
    EXPECT_TRUE(!ok || got != c);

    // The same through our decompressor.
    kova::decompress_holder decompressor;
    kova::stream_decompress::create(decompressor);
    netbuf out;
    decompressor->write(block_a.data(), block_a.size());
    decompressor->flush();
    decompressor->take_output(out);
    EXPECT_EQ(out.to_string(), a);
    netbuf after;
    bool failed = false;
    try {
        decompressor->write(block_c.data(), block_c.size());
        decompressor->flush();
        decompressor->take_output(after);
    } catch (const vantor::exception&) {
        failed = true;
    }
    EXPECT_TRUE(failed || after.to_string() != c);
}

TEST_F(zip_stream, flush_without_new_input_writes_nothing)
{
    kova::compress_holder compressor;
    kova::stream_compress::create(compressor);
    netbuf out;
    compressor->flush();  // not started yet
    compressor->write("abc", 3);
    compressor->flush();
    compressor->take_output(out);
    std::size_t after_first = out.size();
    EXPECT_NO_THROW(compressor->flush());
    EXPECT_NO_THROW(compressor->flush());
    compressor->take_output(out);
    EXPECT_EQ(out.size(), after_first + 0);
    EXPECT_NO_THROW(compressor->reset());
    EXPECT_NO_THROW(compressor->reset());
}

TEST_F(zip_stream, forced_update_after_reset_decodes)
{
    kova::compress_holder compressor;
    const std::string a = payload(6, 4000);
    const std::string b = payload(7, 4000);
    const std::string block_a = zip_block(compressor, a);
    compressor->reset();  // a forced update: the encoder resets its stream
    const std::string block_b = zip_block(compressor, b);
    EXPECT_EQ(block_b.substr(0, 2), block_a.substr(0, 2));  // a new zlib header

    // The viewer reads the two rectangles as the decoder does, resetting in between as the
    // update options tell it.
    kova::decompress_holder decompressor;
    kova::stream_out_nb wire;
    wire.write_u32(static_cast<std::uint32_t>(block_a.size()));
    wire.write_bytes(block_a.data(), block_a.size());
    wire.write_u32(static_cast<std::uint32_t>(block_b.size()));
    wire.write_bytes(block_b.data(), block_b.size());
    netbuf received = wire.take();
    kova::stream_in_nb source(&received);

    std::string got(a.size(), '\0');
    {
        kova::stream_in_zip rect(source, decompressor);
        rect.read_bytes(got.data(), got.size());
        EXPECT_EQ(got, a);
    }
    decompressor->reset();
    {
        kova::stream_in_zip rect(source, decompressor);
        rect.read_bytes(got.data(), got.size());
        EXPECT_EQ(got, b);
    }
    EXPECT_FALSE(source.release_consumed());
}

TEST_F(zip_stream, partial_block_leaves_source_and_stream_unchanged)
{
    kova::compress_holder compressor;
    const std::string a = payload(8, 2000);
    const std::string block = zip_block(compressor, a);
    netbuf received;
    received.append_byte(0x80 | static_cast<std::uint8_t>(block.size() >> 8));
    received.append_byte(static_cast<std::uint8_t>(block.size()));
    received.append_bytes(block.data(), block.size() - 1);

    kova::decompress_holder decompressor;
    {
        kova::stream_in_nb source(&received);
        source.set_compact(true);
        kova::stream_in_zip rect(source, decompressor);
        const std::uint8_t* after_length = source.cursor();
        EXPECT_THROW(rect.read_u8(), kova::incomplete);
        EXPECT_EQ(source.cursor(), after_length);
    }
    received.append_byte(static_cast<std::uint8_t>(block.back()));
    kova::stream_in_nb source(&received);
    source.set_compact(true);
    kova::stream_in_zip rect(source, decompressor);
    std::string got(a.size(), '\0');
    rect.read_bytes(got.data(), got.size());
    EXPECT_EQ(got, a);
    EXPECT_THROW(rect.read_u8(), kova::incomplete);
}

TEST_F(zip_stream, oversized_blocks_are_refused)
{
    kova::decompress_holder decompressor;
    // A length past the limit is refused at once, before its bytes are waited for.
    std::uint8_t length[4] = {0x02, 0x00, 0x00, 0x01};
    netbuf too_long = netbuf::construct_from_bytes(length, 4);
    kova::stream_in_nb source(&too_long);
    try {
        kova::stream_in_zip rect(source, decompressor);
        ADD_FAILURE() << "accepted";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), "zlib_stream: block too large");
    }

    // A small block that inflates past the limit.
    kova::compress_holder compressor;
    const std::string zeros(kova::stream_in_zip::max_block + 1, '\0');
    const std::string block = zip_block(compressor, zeros);
    ASSERT_LT(block.size(), 0x100000u);
    kova::stream_out_nb wire;
    wire.write_u32(static_cast<std::uint32_t>(block.size()));
    wire.write_bytes(block.data(), block.size());
    netbuf received = wire.take();
    kova::stream_in_nb bomb_source(&received);
    kova::stream_in_zip rect(bomb_source, decompressor);
    try {
        rect.read_u8();
        ADD_FAILURE() << "accepted";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), "zlib_stream: block too large");
    }
}

TEST_F(zip_stream, checkpoint_continues_byte_for_byte)
{
    kova::compress_holder original;
    zip_block(original, payload(9, 50000));
    zip_block(original, payload(10, 3000));
    netbuf checkpoint = original->save_state();
    ASSERT_FALSE(checkpoint.is_empty());

    kova::compress_holder resumed;
    kova::stream_compress::create(resumed);
    resumed->restore_state(checkpoint);
    kova::compress_holder cloned = original->clone();

    const std::string next = payload(11, 20000);
    const std::string expected = zip_block(original, next);
    EXPECT_EQ(zip_block(resumed, next), expected);
    EXPECT_EQ(zip_block(cloned, next), expected);

    // Both go on identically after a reset too.
    original->reset();
    resumed->reset();
    EXPECT_EQ(zip_block(resumed, next), zip_block(original, next));
}

TEST_F(zip_stream, checkpoint_of_an_unused_compressor_starts_a_stream)
{
    kova::compress_holder unused;
    kova::stream_compress::create(unused);
    netbuf checkpoint = unused->save_state();
    kova::compress_holder resumed;
    kova::stream_compress::create(resumed);
    resumed->restore_state(checkpoint);
    const std::string data = payload(12, 1000);
    const std::string block = zip_block(resumed, data);
    stock_inflater stock;
    bool ok = false;
    EXPECT_EQ(stock.feed(block, ok), data);
    EXPECT_TRUE(ok);
}

// Rewrites one packed item of a checkpoint: items come out from the end (version first).
netbuf rewrite_item(const netbuf& checkpoint, int index, const std::string& replacement)
{
    netbuf packet(checkpoint);
    std::vector<std::string> items;
    while (!packet.is_empty()) {
        std::string item;
        tarvojson::packet::read_string(packet, item);
        items.push_back(item);
    }
    items[static_cast<std::size_t>(index)] = replacement;
    netbuf out;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        tarvojson::packet::write_string(out, *it);
    }
    return out;
}

TEST_F(zip_stream, bad_checkpoints_are_refused_and_the_stream_starts_afresh)
{
    kova::compress_holder original;
    zip_block(original, payload(13, 3000));
    netbuf checkpoint = original->save_state();
    std::string window_item;
    {
        netbuf packet(checkpoint);
        for (int i = 0; i < 4; ++i) {
            tarvojson::packet::read_string(packet, window_item);
        }
    }

    struct row {
        const char* label;
        netbuf state;
        const char* error;
    };
    std::string truncated = checkpoint.to_string();
    truncated.erase(0, truncated.size() / 2);
    const row rows[] = {
        {"empty", netbuf(), "zlib_stream: restore failed"},
        {"front half missing", netbuf::construct_from_string(truncated), "zlib_stream: restore failed"},
        {"other version", rewrite_item(checkpoint, 0, "1.2.13"), "invalid zlib version linked"},
        {"short stream record", rewrite_item(checkpoint, 1, "abc"), "zlib_stream: sizes restore failed"},
        {"short window", rewrite_item(checkpoint, 3, window_item.substr(1)),
         "zlib_stream: sizes restore failed"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        kova::compress_holder resumed;
        kova::stream_compress::create(resumed);
        try {
            resumed->restore_state(r.state);
            ADD_FAILURE() << "accepted";
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), r.error);
        }
        const std::string data = payload(14, 500);
        const std::string block = zip_block(resumed, data);
        stock_inflater stock;
        bool ok = false;
        EXPECT_EQ(stock.feed(block, ok), data);
        EXPECT_TRUE(ok);
    }
}

TEST_F(zip_stream, decompressor_clone_continues_independently)
{
    kova::compress_holder compressor;
    const std::string a = payload(15, 3000);
    const std::string b = payload(16, 3000);
    const std::string block_a = zip_block(compressor, a);
    const std::string block_b = zip_block(compressor, b);

    kova::decompress_holder first;
    kova::stream_decompress::create(first);
    netbuf out;
    first->write(block_a.data(), block_a.size());
    first->take_output(out);
    kova::decompress_holder copy = first->clone();
    ASSERT_TRUE(copy);
    for (kova::decompress_holder* d : {&first, &copy}) {
        netbuf got;
        (*d)->write(block_b.data(), block_b.size());
        (*d)->flush();
        (*d)->take_output(got);
        EXPECT_EQ(got.to_string(), b);
    }
}

}  // namespace
