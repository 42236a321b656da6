#pragma once
// The reading side of the desktop stream's byte layer: the "not complete yet" signal, the
// abstract reader with the protocol's integer forms, and the reader over a window of memory.
//
// Readers never wait. When the bytes a field needs have not arrived, ensure throws
// kova::incomplete; what was read of the message so far stays read, so the receive loop keeps
// the cursor of the message start (cursor / set_cursor) and rewinds to it before it waits for
// more data. A reader belongs to one object and is used on that object's executor.
#include <cstddef>
#include <cstdint>

namespace kova {

// Thrown by value when a message is cut short. It carries nothing, is not a vantor::exception
// and is never logged as an error: the receive loops catch it, rewind and wait.
struct incomplete {
    int unused = 0;
};

// Integer forms (all big-endian):
// - compact unsigned (only while compact mode is on): below 0x80 one byte; below 0x4000 two
//   bytes, 0x80 | high bits then the low byte; below 0x200000 three bytes, 0xC0 | high bits then
//   two bytes; otherwise 0xE0 and the value as a u32. A reader takes any lead byte from 0xE0 on
//   as the five-byte form and ignores its low five bits, so every lead byte is valid.
// - zig-zag signed (only in compact mode): an even code c stands for c >> 1, an odd one for
//   -(c >> 1).
class stream_in {
public:
    virtual ~stream_in() = default;

    // Makes at least `size` bytes readable at the cursor and answers how many are readable;
    // throws kova::incomplete when fewer have arrived. `count` is 1 at every call site.
    virtual std::size_t ensure(std::size_t size, std::size_t count = 1) = 0;
    // Gives the bytes already read back to the underlying store; answers whether unread bytes
    // remain. The base keeps everything and answers true.
    virtual bool release_consumed() { return true; }

    std::uint8_t read_u8();
    std::uint16_t read_u16();
    std::uint32_t read_u32();
    // The compact unsigned form in compact mode, else a big-endian u32.
    std::uint32_t readCompactU32();
    // A 16-bit field: the whole compact value in compact mode (a zig-zag code of -32768 needs
    // 17 bits, so nothing is cut here), else a big-endian u16.
    std::uint32_t read_u16c();
    // A signed 16-bit field from its read value: the zig-zag decoding in compact mode, the low
    // 16 bits unchanged otherwise; in both cases the result is taken as a signed 16-bit number.
    std::int16_t decode_signed(std::uint32_t v) const noexcept;
    // Moves the cursor by n bytes, in steps of what ensure(1) reports.
    void skip(std::size_t n);
    // Copies n bytes into dst, in steps of what ensure(1) reports.
    void read_bytes(void* dst, std::size_t n);

    const std::uint8_t* cursor() const noexcept { return cursor_; }
    // Rewinds to a position taken with cursor() since the last release.
    void set_cursor(const std::uint8_t* position) noexcept { cursor_ = position; }
    bool compact() const noexcept { return compact_; }
    void set_compact(bool on) noexcept { compact_ = on; }

protected:
    stream_in() = default;
    stream_in(const stream_in&) = delete;
    stream_in& operator=(const stream_in&) = delete;

    const std::uint8_t* cursor_ = nullptr;
    bool compact_ = false;
};

// A reader over a window of memory that it does not own.
class stream_in_mem : public stream_in {
public:
    stream_in_mem() = default;
    stream_in_mem(const void* data, std::size_t length) { set_window(data, length); }

    // Makes [data, data + length) the window and puts the cursor at its start.
    void set_window(const void* data, std::size_t length) noexcept;

    // end minus cursor when that is at least `size`, else kova::incomplete.
    std::size_t ensure(std::size_t size, std::size_t count = 1) override;

    // Bytes left between the cursor and the window's end.
    std::size_t available() const noexcept
    {
        return cursor_ == nullptr ? 0 : static_cast<std::size_t>(end_ - cursor_);
    }

protected:
    // The window's length when it was set up; the netbuf reader computes from it how much was
    // read since the last release.
    std::size_t window_length_ = 0;
    const std::uint8_t* end_ = nullptr;
};

}  // namespace kova
