// The zlib implementations of stream_compress and stream_decompress.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include <zlib.h>

#include "kova/protocol/stream_compress.h"
#include "kova/protocol/zlib_checkpoint.h"
#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"

namespace kova {
namespace {

constexpr char zlib_version_text[] = "1.3.1";

// zlib counts in uInt; larger inputs are fed in pieces of this size.
constexpr std::size_t max_piece = std::size_t{1} << 30;
constexpr std::uint64_t max_span = 65536;

enum class direction { deflating, inflating };

// The state shared by both implementations: the zlib record and the output collected since the
// last take_output.
struct zstream {
    zstream() = default;
    zstream(const zstream&) = delete;
    zstream& operator=(const zstream&) = delete;

    z_stream record{};
    bool initialised = false;
    netbuf output;
};

// One drive of zlib over (bytes, length) with the flush mode: output space is reserved at the
// output's end (about the input plus 5% and 1 KiB, at most 64 KiB), zlib runs, the unused space
// is given back, and the loop goes on while zlib fills all the space it was given.
void drive(zstream& z, direction dir, const std::uint8_t* bytes, std::size_t length, int mode)
{
    z_stream& r = z.record;
    do {
        std::size_t piece = std::min(length, max_piece);
        r.next_in = const_cast<Bytef*>(bytes);
        r.avail_in = static_cast<uInt>(piece);
        bytes += piece;
        length -= piece;
        for (;;) {
            std::uint64_t hint = max_span;
            if (r.avail_in > 0) {
                hint = std::min<std::uint64_t>(std::uint64_t{r.avail_in} * 105 / 100 + 1024, max_span);
            }
            std::uint8_t* span = nullptr;
            std::size_t span_length = 0;
            z.output.reserve_tail_span(static_cast<std::size_t>(hint), &span, &span_length);
            if (span_length > max_piece) {
                z.output.trim_back(span_length - max_piece);
                span_length = max_piece;
            }
            r.next_out = span;
            r.avail_out = static_cast<uInt>(span_length);
            int result = dir == direction::deflating ? deflate(&r, mode) : inflate(&r, mode);
            bool full = r.avail_out == 0;
            if (r.avail_out > 0) {
                z.output.trim_back(r.avail_out);
            }
            r.next_out = nullptr;
            r.avail_out = 0;
            bool done = !full;
            if (dir == direction::deflating) {
                // With no input left, zlib answers a call that has nothing to add (a flush right
                // after another, or with nothing fed since) with Z_BUF_ERROR: there is simply
                // nothing to write.
                if (result == Z_BUF_ERROR && r.avail_in == 0) {
                    done = true;
                } else if (result != Z_OK) {
                    r.next_in = nullptr;
                    r.avail_in = 0;
                    throw vantor::exception("zlib_stream: deflate failed");
                }
            } else if (result != Z_OK && result != Z_BUF_ERROR) {
                // The stream never ends (the compressor only flushes), so its end is as wrong
                // as corrupt data.
                r.next_in = nullptr;
                r.avail_in = 0;
                throw vantor::internal_error(267);
            }
            if (done) {
                break;
            }
        }
    } while (length > 0);
    r.next_in = nullptr;
    r.avail_in = 0;
}

void take_into(zstream& z, netbuf& target)
{
    if (!z.output.is_empty()) {
        target.append_move(z.output);
    }
}

class stream_compress_zlib_ final : public stream_compress, private zstream {
public:
    static compress_holder make() { return compress_holder(new stream_compress_zlib_()); }

    void write(const void* bytes, std::size_t length) override
    {
        init_once();
        if (length == 0) {
            return;
        }
        drive(*this, direction::deflating, static_cast<const std::uint8_t*>(bytes), length, Z_NO_FLUSH);
    }

    void flush() override
    {
        if (initialised) {
            drive(*this, direction::deflating, nullptr, 0, Z_SYNC_FLUSH);
        }
    }

    void take_output(netbuf& target) override { take_into(*this, target); }

    void reset() override
    {
        if (!initialised) {
            return;
        }
        drive(*this, direction::deflating, nullptr, 0, Z_FULL_FLUSH);
        if (deflateReset(&record) != Z_OK) {
            throw vantor::exception("zlib_stream: deflateReset failed");
        }
        output.clear();
    }

    compress_holder clone() const override
    {
        auto copy = new stream_compress_zlib_();
        compress_holder holder(copy);
        if (initialised) {
            // deflateCopy takes a non-const source but does not change it.
            if (deflateCopy(&copy->record, const_cast<z_stream*>(&record)) != Z_OK) {
                throw vantor::exception("zlib_stream: deflateInit failed");
            }
            copy->initialised = true;
        }
        return holder;
    }

    netbuf save_state() override
    {
        init_once();
        return zlib_checkpoint::save(record);
    }

    void restore_state(const netbuf& state) override
    {
        end();
        init_once();
        output.clear();
        try {
            zlib_checkpoint::restore(record, state);
        } catch (...) {
            // A half-copied state is never used: the stream starts afresh.
            end();
            throw;
        }
    }

private:
    stream_compress_zlib_() = default;
    ~stream_compress_zlib_() override { end(); }

    void init_once()
    {
        if (initialised) {
            return;
        }
        std::memset(&record, 0, sizeof record);
        if (deflateInit2_(&record, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY,
                          zlib_version_text, static_cast<int>(sizeof(z_stream))) != Z_OK) {
            throw vantor::exception("zlib_stream: deflateInit failed");
        }
        initialised = true;
    }

    void end() noexcept
    {
        if (initialised) {
            deflateEnd(&record);
            initialised = false;
        }
    }
};

class stream_decompress_zlib_ final : public stream_decompress, private zstream {
public:
    static decompress_holder make() { return decompress_holder(new stream_decompress_zlib_(true)); }

    void write(const void* bytes, std::size_t length) override
    {
        drive(*this, direction::inflating, static_cast<const std::uint8_t*>(bytes), length, Z_NO_FLUSH);
    }

    void flush() override { drive(*this, direction::inflating, nullptr, 0, Z_SYNC_FLUSH); }

    void take_output(netbuf& target) override { take_into(*this, target); }

    // The compressor's reset starts a new zlib stream with its own header; the inflate stream
    // must start over too, or the new header would read as corrupt data.
    void reset() override
    {
        if (inflateReset(&record) != Z_OK) {
            throw vantor::internal_error(267);
        }
        output.clear();
    }

    decompress_holder clone() const override
    {
        auto copy = new stream_decompress_zlib_(false);
        decompress_holder holder(copy);
        if (inflateCopy(&copy->record, const_cast<z_stream*>(&record)) != Z_OK) {
            return {};
        }
        copy->initialised = true;
        return holder;
    }

private:
    explicit stream_decompress_zlib_(bool init)
    {
        if (!init) {
            return;
        }
        if (inflateInit2_(&record, 15, zlib_version_text, static_cast<int>(sizeof(z_stream))) != Z_OK) {
            throw vantor::exception("zlib_stream: inflateInit failed");
        }
        initialised = true;
    }
    ~stream_decompress_zlib_() override
    {
        if (initialised) {
            inflateEnd(&record);
        }
    }
};

}  // namespace

void stream_compress::create(compress_holder& holder)
{
    if (!holder) {
        holder = stream_compress_zlib_::make();
    }
}

netbuf stream_compress::save_state()
{
    return netbuf();
}

void stream_compress::restore_state(const netbuf&) {}

void stream_decompress::create(decompress_holder& holder)
{
    if (!holder) {
        holder = stream_decompress_zlib_::make();
    }
}

}  // namespace kova
