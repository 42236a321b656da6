#pragma once
// The writing side of the desktop stream's byte layer: the abstract writer with the protocol's
// integer forms (see stream_in.h) and the chunk window that memory-backed writers share.
//
// Every writer asks ensure for room first, writes, advances the cursor and adds what it wrote
// to bytes_written, which the rectangle coders read for their byte budget and the owner resets
// after each flush. A writer belongs to one object and is used on that object's executor.
#include <cstddef>
#include <cstdint>

class netbuf;

namespace kova {

class stream_out {
public:
    virtual ~stream_out() = default;

    // Makes at least n bytes writable at the cursor and answers how many are writable.
    virtual std::size_t ensure(std::size_t n) = 0;
    // Commits what was written; answers 0.
    virtual std::size_t flush() = 0;

    void write_u8(std::uint8_t v);
    void write_u16(std::uint16_t v);
    void write_u32(std::uint32_t v);
    // The compact unsigned form in compact mode (1, 2, 3 or 5 bytes), else a big-endian u32.
    void write_compact_u32(std::uint32_t v);
    // A 16-bit field: the value cut to 16 bits, then compact or a big-endian u16.
    void write_u16_compact(std::uint32_t v);
    // A signed 16-bit field: in compact mode the zig-zag code (2v, or 1 - 2v below 0) as a
    // compact unsigned value, else the two's complement as a u16. The code is not cut to 16
    // bits: -32768 needs the 17-bit code 65537.
    void write_signed16(std::int16_t v);
    // n zero bytes.
    void pad(std::size_t n);
    // n bytes, in pieces as long as ensure reports for the rest.
    void write_bytes(const void* src, std::size_t n);
    // Every chunk of the netbuf, in order, through write_bytes; the netbuf is not changed.
    void write_netbuf(const netbuf& data);

    std::int32_t bytes_written() const noexcept { return bytes_written_; }
    void reset_bytes_written() noexcept { bytes_written_ = 0; }
    bool compact() const noexcept { return compact_; }
    void set_compact(bool on) noexcept { compact_ = on; }

protected:
    stream_out() = default;
    stream_out(const stream_out&) = delete;
    stream_out& operator=(const stream_out&) = delete;

    void count(std::size_t n) noexcept { bytes_written_ += static_cast<std::int32_t>(n); }

    std::int32_t bytes_written_ = 0;
    std::uint8_t* cursor_ = nullptr;
    bool compact_ = false;
};

// A writer whose room is a window of memory (the current chunk).
class stream_out_mem : public stream_out {
protected:
    // Bytes still free in the current chunk as of the last ensure, brought up to date from the
    // cursor's progress since the chunk mark.
    std::size_t room() noexcept
    {
        room_ -= static_cast<std::size_t>(cursor_ - mark_);
        mark_ = cursor_;
        return room_;
    }

    std::size_t room_ = 0;
    std::uint8_t* mark_ = nullptr;
};

}  // namespace kova
