#include "kova/protocol/stream_in_nb.h"

#include <cstdint>

#include "vantor/core/netbuf.h"

namespace kova {

void stream_in_nb::attach(netbuf* source)
{
    source_ = source;
    std::uint8_t* data = nullptr;
    std::size_t length = 0;
    if (source != nullptr && source->get() != nullptr && !source->is_empty()) {
        source->linearize(&data, &length);
    }
    set_window(data, length);
}

bool stream_in_nb::release_consumed()
{
    if (cursor_ == nullptr || source_ == nullptr) {
        return false;
    }
    std::size_t unread = available();
    std::size_t read = window_length_ - unread;
    if (read != 0) {
        source_->drop_front(read);
        // The remaining bytes are one contiguous run already, so this does not copy; it keeps
        // the window right even where the buffer layer moves the bytes on a drop.
        std::uint8_t* data = nullptr;
        std::size_t length = 0;
        if (!source_->is_empty()) {
            source_->linearize(&data, &length);
        }
        set_window(data, length);
    }
    return window_length_ > 0;
}

netbuf stream_in_nb::consumed_copy() const
{
    if (cursor_ == nullptr) {
        return netbuf();
    }
    std::size_t read = window_length_ - available();
    return netbuf::construct_from_bytes(end_ - window_length_, read);
}

}  // namespace kova
