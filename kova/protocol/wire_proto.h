#pragma once
// The codecs of the desktop stream: one function per structure or message, reading through a
// kova::stream_in and writing through a kova::stream_out. Readers are called after the message
// type byte has been consumed; writers write the type byte themselves where they name a message.
//
// Integer forms: 16-bit and 32-bit fields follow the stream's compact flag (see stream_in.h);
// u16 and u32 fields never do. Compact forms appear only in FramebufferUpdate and
// SetColourMapEntries, whose flags byte bit 0 says so: the writer sets it from its compact flag,
// the reader applies compact forms only when the bit is set and its own flag was on, and leaves
// its flag at that value for the rest of the message.
//
// Every reader asks its stream for the bytes it needs first, so a cut message throws
// kova::incomplete and can be parsed again from its start once more data has arrived. Lengths
// and counts given by the peer are checked against the limits below before anything is
// allocated or waited for; a larger one raises vantor::exception, which ends the connection.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kova/protocol/wire_records.h"

namespace kova {

class stream_in;
class stream_out;

namespace proto {

// Longest string (desktop name, refusal reason): "string too long".
inline constexpr std::uint32_t max_string_length = 0x10000;
// Longest cut text: both sides cut clipboard text to 0xFFC00 bytes before converting it, and
// line-end conversion at most doubles it: "cut text too long".
inline constexpr std::uint32_t max_cut_text_length = 0x200000;
// Most encodings in one SetEncodings: "too many encodings".
inline constexpr std::uint32_t max_encodings = 0x400;
// Entries of the viewer's colour map; first + count beyond it: "invalid colour map".
inline constexpr std::uint32_t colour_map_size = 256;

// Handshake.
// Reads the 12-byte "RFB %03d.%03d\n"; a line that does not end in a line feed or whose numbers
// are not three digits each gives -1, -1.
version_number read_version(stream_in& in);
// Writes the 12-byte line; a part outside 0 to 999 raises "internal error".
void write_version(stream_out& out, std::int32_t major, std::int32_t minor);
// A count byte and the type bytes.
void write_security_types(stream_out& out, std::span<const std::uint8_t> types);
std::vector<std::uint8_t> read_security_types(stream_in& in);
// u32 result; for a result other than 0 the reason string follows.
void write_security_result(stream_out& out, std::uint32_t result, std::string_view reason);
security_result read_security_result(stream_in& in);
// Framebuffer width and height (u16 each), PixelFormat, name string. Always classic form.
void write_server_init(stream_out& out, const server_init_msg& init);
server_init_msg read_server_init(stream_in& in);

// Shared structures.
// u32 length and the bytes.
void write_string(stream_out& out, std::string_view text);
std::string read_string(stream_in& in);
// Two 16-bit fields.
void write_size(stream_out& out, const size& s);
size read_size(stream_in& in);
void write_point(stream_out& out, const vantor_abi::Point& p);
vantor_abi::Point read_point(stream_in& in);
// x, y, width, height: four 16-bit fields. On reading, x and y keep the whole field value (the
// pseudo-encodings that carry signed positions decode them with decode_signed, and the code of
// -32768 needs 17 bits); width and height are taken as 16-bit numbers.
void write_rect(stream_out& out, const vantor_abi::Rect& r);
vantor_abi::Rect read_rect(stream_in& in);
// The rectangle and the encoding number as a 32-bit field.
void write_rect_header(stream_out& out, const vantor_abi::Rect& r, std::int32_t encoding);
rect_header read_rect_header(stream_in& in);
// The 16-byte PixelFormat; the reader derives half and mask of each colour.
void write_pixel_format(stream_out& out, const pixel_format& format);
pixel_format read_pixel_format(stream_in& in);

// Viewer to server.
// SetPixelFormat: type 0, 3 padding bytes, PixelFormat.
void write_set_pixel_format(stream_out& out, const pixel_format& format);
pixel_format read_set_pixel_format(stream_in& in);
// The viewer's SetEncodings list for the preferred encoding; -137 only with keyboard_state.
std::vector<std::int32_t> build_encoding_list(std::int32_t preferred, bool keyboard_state);
// SetEncodings: type 2, 1 padding byte, u16 count, count s32 numbers.
void write_set_encodings(stream_out& out, std::span<const std::int32_t> encodings);
std::vector<std::int32_t> read_set_encodings(stream_in& in);
// FramebufferUpdateRequest: type 3, flags byte, rectangle (four u16).
void write_update_request(stream_out& out, const update_request& request);
update_request read_update_request(stream_in& in);
// KeyEvent: type 4, down byte, u16 kind, u32 key.
void write_key_event(stream_out& out, const key_event& key);
key_event read_key_event(stream_in& in);
// Type 5 (mask byte) when the mask fits 8 bits, else type 7 (u16 mask); then u16 x and y.
void write_pointer_event(stream_out& out, const pointer_event& pointer);
// `type` is the message type already read: 5 or 7.
pointer_event read_pointer_event(stream_in& in, std::uint8_t type);
// ClientCutText and ServerCutText: type 6 or 3, flags byte, 2 zero bytes, u32 length, bytes.
void write_cut_text(stream_out& out, const cut_text& message);
cut_text read_cut_text(stream_in& in);

// Server to viewer.
// FramebufferUpdate header: type 0, flags byte (bit 0 = the writer's compact flag), rectangle
// count as a 16-bit field.
void write_update_header(stream_out& out, std::uint16_t count);
// Sets the reader's compact flag for this update and answers the rectangle count.
std::uint16_t read_update_header(stream_in& in);
// SetColourMapEntries: type 1, flags byte, first colour, count, then red, green and blue per
// entry, all 16-bit fields. The reader refuses maps that do not fit colour_map_size entries.
void write_colour_map(stream_out& out, const colour_map_entries& map);
colour_map_entries read_colour_map(stream_in& in);
// "console buffer" (types 15 and 16): 1 byte, u16, three u32; read and ignored.
void read_console_buffer(stream_in& in);
// "drag&drop" (type 12): 2 bytes, a u16 length L stored little-endian, then L - 2 bytes;
// skipped. A length below 2 raises "invalid drag&drop length".
void skip_drag_drop(stream_in& in);

}  // namespace proto
}  // namespace kova
