#include "kova/protocol/stream_out_nb.h"

#include <cstdint>
#include <new>

namespace kova {
namespace {

constexpr std::size_t chunk_unit = 0x20000;

}  // namespace

stream_out_nb::stream_out_nb() = default;

std::size_t stream_out_nb::ensure(std::size_t n)
{
    std::size_t left = room();
    if (left >= n && cursor_ != nullptr) {
        return left;
    }
    // Computed in 64 bits so that a huge request fails in the buffer layer instead of wrapping
    // to a small chunk.
    std::uint64_t size = (std::uint64_t{n} + chunk_unit + 1) / chunk_unit * chunk_unit;
    if (size > SIZE_MAX) {
        throw std::bad_alloc();
    }
    if (left > 0) {
        sink_.trim_back(left);
        room_ = 0;
    }
    std::uint8_t* chunk = sink_.append_space(static_cast<std::size_t>(size));
    cursor_ = chunk;
    mark_ = chunk;
    room_ = static_cast<std::size_t>(size);
    return room_;
}

std::size_t stream_out_nb::flush()
{
    std::size_t left = room();
    if (left > 0) {
        sink_.trim_back(left);
    }
    cursor_ = nullptr;
    mark_ = nullptr;
    room_ = 0;
    return 0;
}

netbuf stream_out_nb::take()
{
    flush();
    netbuf taken;
    taken.swap(sink_);
    return taken;
}

}  // namespace kova
