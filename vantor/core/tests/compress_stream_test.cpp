#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "vantor/core/compress_stream.h"
#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"

namespace {

class compress_stream : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }
};

// Text-like data that compresses well, and noise that does not (its compressed form is larger
// than one 64 KiB output span).
std::string compressible(std::size_t n)
{
    std::string out;
    for (std::size_t i = 0; out.size() < n; ++i) {
        out += "line " + std::to_string(i % 977) + " of the clipboard text\r\n";
    }
    out.resize(n);
    return out;
}

std::string noise(std::size_t n)
{
    std::string out(n, '\0');
    std::uint32_t x = 2463534242u;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return out;
}

// A buffer holding `bytes` in chunks of the given sizes, cycled (a buffer merges more than 128
// chunks into one, so the sizes are chosen to stay below that).
netbuf chunked(const std::string& bytes, std::vector<std::size_t> sizes)
{
    netbuf out;
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        std::size_t n = std::min(sizes[i % sizes.size()], bytes.size() - at);
        netbuf part = netbuf::construct_from_bytes(bytes.data() + at, n);
        out.append_shared(part);
        at += n;
    }
    return out;
}

std::size_t chunk_count(const netbuf& buffer)
{
    std::size_t n = 0;
    for (netbuf::cursor c(buffer); c.valid(); c.next()) {
        ++n;
    }
    return n;
}

// Stock zlib, called directly.
std::string stock_deflate(const std::string& data)
{
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::string out(length, '\0');
    EXPECT_EQ(
        compress2(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(data.data()),
                  static_cast<uLong>(data.size()), Z_BEST_COMPRESSION),
        Z_OK);
    out.resize(length);
    return out;
}

// Inflates with stock zlib; `complete` tells whether the input held the stream's end.
std::string stock_inflate(const std::string& compressed, bool* complete = nullptr)
{
    z_stream record{};
    EXPECT_EQ(inflateInit(&record), Z_OK);
    std::string out;
    record.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    record.avail_in = static_cast<uInt>(compressed.size());
    int result = Z_OK;
    while (result == Z_OK) {
        char buffer[4096];
        record.next_out = reinterpret_cast<Bytef*>(buffer);
        record.avail_out = sizeof buffer;
        result = inflate(&record, Z_SYNC_FLUSH);
        out.append(buffer, sizeof buffer - record.avail_out);
        if (record.avail_in == 0 && record.avail_out != 0) {
            break;
        }
    }
    EXPECT_TRUE(result == Z_OK || result == Z_STREAM_END || result == Z_BUF_ERROR) << result;
    if (complete != nullptr) {
        *complete = result == Z_STREAM_END;
    }
    inflateEnd(&record);
    return out;
}

struct data_case {
    const char* name;
    std::string bytes;
};

std::vector<data_case> data_cases()
{
    return {
        {"empty", ""},
        {"one byte", "x"},
        {"text 10 KiB", compressible(10 * 1024)},
        {"text 3 MiB", compressible(3 * 1024 * 1024)},
        {"noise 300 KiB", noise(300 * 1024)},
    };
}

TEST_F(compress_stream, deflated_buffers_inflate_with_stock_zlib)
{
    for (const data_case& c : data_cases()) {
        SCOPED_TRACE(c.name);
        netbuf input = chunked(c.bytes, {1, 7, 4096, 65536, 1 << 20});
        netbuf output;
        vantor::zlib_compress(output, input);
        if (c.bytes.size() > 200 * 1024) {
            EXPECT_GT(chunk_count(output), 1u) << "output spread over several spans";
        }
        EXPECT_EQ(input.to_string(), c.bytes) << "the input stays as it was";
        bool complete = false;
        EXPECT_EQ(stock_inflate(output.to_string(), &complete), c.bytes);
        EXPECT_TRUE(complete);
    }
}

TEST_F(compress_stream, one_byte_blocks_deflate_to_the_same_data)
{
    std::string data = compressible(5000) + noise(3000);
    vantor::zlib_stream stream;
    vantor::zlib_deflate_init(stream);
    netbuf output;
    for (char c : data) {
        vantor::zlib_deflate_block(stream, output, &c, 1);
    }
    vantor::zlib_deflate_block(stream, output, nullptr, 0);
    vantor::zlib_deflate_all(stream, output);
    vantor::zlib_deflate_end(stream);
    EXPECT_EQ(stock_inflate(output.to_string()), data);
}

TEST_F(compress_stream, stock_zlib_output_inflates_in_any_chunking)
{
    for (const data_case& c : data_cases()) {
        SCOPED_TRACE(c.name);
        std::string compressed = stock_deflate(c.bytes);
        // One byte at a time through the block form.
        {
            vantor::zlib_stream stream;
            vantor::zlib_inflate_init(stream);
            netbuf output;
            std::size_t fed = 0;
            for (; fed < compressed.size() && !stream.finished; ++fed) {
                EXPECT_TRUE(vantor::zlib_inflate_block(stream, output, &compressed[fed], 1));
            }
            EXPECT_EQ(fed, compressed.size());
            EXPECT_TRUE(stream.finished);
            EXPECT_EQ(output.to_string(), c.bytes);
        }
        // Chunked buffers through the buffer form and the whole-buffer helper.
        netbuf input = chunked(compressed, {3, 1000, 1, 70000});
        netbuf output;
        vantor::zlib_decompress(output, input);
        EXPECT_EQ(output.to_string(), c.bytes);
    }
}

TEST_F(compress_stream, bytes_after_the_stream_are_ignored)
{
    std::string data = compressible(20000);
    netbuf input = netbuf::construct_from_string(stock_deflate(data) + "trailing garbage");
    netbuf tail = netbuf::construct_from_string("more");
    input.append_shared(tail);

    vantor::zlib_stream stream;
    vantor::zlib_inflate_init(stream);
    netbuf output;
    EXPECT_TRUE(vantor::zlib_inflate_netbuf(stream, output, input));
    EXPECT_TRUE(stream.finished);
    EXPECT_EQ(output.to_string(), data);
    EXPECT_FALSE(vantor::zlib_inflate_netbuf(stream, output, input));
    EXPECT_FALSE(vantor::zlib_inflate_block(stream, output, "x", 1));
    EXPECT_EQ(output.size(), data.size());
    vantor::zlib_inflate_require_end(stream);
}

TEST_F(compress_stream, truncated_input_is_an_error)
{
    std::string data = compressible(100000);
    std::string compressed = stock_deflate(data);
    const std::size_t cuts[] = {0, 1, 2, compressed.size() / 2, compressed.size() - 4, compressed.size() - 1};
    for (std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        netbuf input = netbuf::construct_from_string(compressed.substr(0, cut));
        netbuf output;
        try {
            vantor::zlib_decompress(output, input);
            ADD_FAILURE() << "a cut stream passed as " << output.size() << " bytes";
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), "compressed data is truncated");
        }
    }
    // The streaming form goes on where the cut left off.
    vantor::zlib_stream stream;
    vantor::zlib_inflate_init(stream);
    netbuf output;
    netbuf first = netbuf::construct_from_string(compressed.substr(0, compressed.size() - 1));
    EXPECT_TRUE(vantor::zlib_inflate_netbuf(stream, output, first));
    EXPECT_FALSE(stream.finished);
    EXPECT_THROW(vantor::zlib_inflate_require_end(stream), vantor::exception);
    netbuf last = netbuf::construct_from_string(compressed.substr(compressed.size() - 1));
    EXPECT_TRUE(vantor::zlib_inflate_netbuf(stream, output, last));
    EXPECT_TRUE(stream.finished);
    EXPECT_EQ(output.to_string(), data);
}

TEST_F(compress_stream, corrupt_input_raises_internal_error_150)
{
    std::string compressed = stock_deflate(compressible(5000));
    struct row {
        const char* name;
        std::string bytes;
    };
    std::string bad_check = compressed;
    bad_check.back() ^= 0x55;
    std::string bad_body = compressed;
    bad_body[compressed.size() / 2] ^= 0xff;
    const row rows[] = {
        {"no zlib header", "\x1f\x8b\x08\x00 gzip, not zlib"},
        {"raw text", "hello"},
        {"bad checksum", bad_check},
        {"damaged body", bad_body},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        netbuf input = netbuf::construct_from_string(r.bytes);
        netbuf output;
        try {
            vantor::zlib_decompress(output, input);
            ADD_FAILURE() << "corrupt input passed";
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), vantor::internal_error(150).what());
        }
    }
}

TEST_F(compress_stream, sync_flush_makes_each_message_decodable_at_once)
{
    // One deflate stream across messages, as the transfer and channel code use it: each
    // message is flushed and must inflate completely before the next one is sent.
    const std::string messages[] = {compressible(1000), "", noise(100000), compressible(7)};
    vantor::zlib_stream sender;
    vantor::zlib_deflate_init(sender);
    vantor::zlib_stream receiver;
    vantor::zlib_inflate_init(receiver);
    for (const std::string& message : messages) {
        SCOPED_TRACE(message.size());
        netbuf packet;
        vantor::zlib_deflate_netbuf(sender, packet, netbuf::construct_from_string(message));
        vantor::zlib_deflate_sync_flush(sender, packet);
        vantor::zlib_deflate_sync_flush(sender, packet);  // a second flush adds nothing harmful
        netbuf received;
        EXPECT_TRUE(vantor::zlib_inflate_netbuf(receiver, received, packet));
        EXPECT_EQ(received.to_string(), message);
        EXPECT_FALSE(receiver.finished);
    }
    netbuf last;
    vantor::zlib_deflate_all(sender, last);
    netbuf received;
    EXPECT_TRUE(vantor::zlib_inflate_netbuf(receiver, received, last));
    EXPECT_TRUE(receiver.finished);
    EXPECT_TRUE(received.is_empty());
}

TEST_F(compress_stream, empty_input_makes_a_complete_stream)
{
    vantor::zlib_stream stream;
    vantor::zlib_deflate_init(stream);
    netbuf output;
    vantor::zlib_deflate_netbuf(stream, output, netbuf());
    vantor::zlib_deflate_all(stream, output);
    // A stream left open is ended by its destructor; ending twice is harmless.
    vantor::zlib_deflate_end(stream);
    vantor::zlib_deflate_end(stream);
    std::string bytes = output.to_string();
    EXPECT_EQ(bytes.substr(0, 2), "\x78\x9c") << "zlib header, default level, 32 KiB window";
    netbuf decoded;
    vantor::zlib_decompress(decoded, output);
    EXPECT_TRUE(decoded.is_empty());
}

}  // namespace
