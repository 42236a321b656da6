#pragma once
// The records that desktop stream messages carry, as the codecs of wire_proto.h read and write
// them. Plain values.
#include <cstdint>
#include <string>
#include <vector>

#include "kova/protocol/pixel_format.h"
#include "kova/protocol/rect.h"

namespace kova {

// What the encoder announces after the handshake.
struct server_init_msg {
    std::int32_t width = -1;
    std::int32_t height = -1;
    pixel_format format;
    std::string name;
};

// A rectangle of a FramebufferUpdate and its encoding number.
struct rect_header {
    vantor_abi::Rect rect;
    std::int32_t encoding = 0;
};

namespace proto {

// A ProtocolVersion line's numbers; -1 and -1 for a malformed line.
struct version_number {
    std::int32_t major = -1;
    std::int32_t minor = -1;
};

struct security_result {
    std::uint32_t result = 0;
    // Only with a result other than 0.
    std::string reason;
};

struct size {
    std::int32_t w = 0;
    std::int32_t h = 0;
};

// FramebufferUpdateRequest. Flags byte: bit 0 incremental, bit 1 force, bits 2-4 quality step,
// bit 5 lossy (keep lossy), bit 6 focus off, bit 7 clipboard off.
struct update_request {
    bool incremental = false;
    bool force = false;
    std::uint8_t quality_step = 0;  // 0 to 7
    bool lossy = false;
    bool focus_off = false;
    bool clipboard_off = false;
    vantor_abi::Rect rect;
};

// KeyEvent. Kind 0: X11 keysym pressed or released; 1: one UTF-16 code unit typed once;
// 2: lock-state bits in key, down ignored.
struct key_event {
    bool down = false;
    std::uint16_t kind = 0;
    std::uint32_t key = 0;
};

// PointerEvent (type 5, 8-bit mask) or ExtendedPointerEvent (type 7, 16-bit mask).
struct pointer_event {
    std::uint16_t buttons = 0;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
};

// ClientCutText (type 6) or ServerCutText (type 3). Flags bit 0: the text is one zlib stream.
struct cut_text {
    std::string text;
    std::uint8_t flags = 0;
    // cut_text_from_server writes ServerCutText; any other value ClientCutText. Readers leave it
    // as it is: the type byte tells the direction.
    std::uint32_t kind = 0;
};
inline constexpr std::uint32_t cut_text_from_server = 1;

struct colour {
    std::uint16_t red = 0;
    std::uint16_t green = 0;
    std::uint16_t blue = 0;

    bool operator==(const colour&) const = default;
};

// SetColourMapEntries: the colours of the map from index `first` on.
struct colour_map_entries {
    std::uint16_t first = 0;
    std::vector<colour> colours;
};

}  // namespace proto
}  // namespace kova
