// The messages that the viewer sends to the encoder: SetPixelFormat, SetEncodings,
// FramebufferUpdateRequest, KeyEvent, PointerEvent and ClientCutText (with ServerCutText, which
// has the same form). All use the classic integer forms.
#include "kova/protocol/stream_in.h"
#include "kova/protocol/stream_out.h"
#include "kova/protocol/wire_proto.h"
#include "vantor/core/exception.h"

namespace kova::proto {
namespace {

enum : std::uint8_t {
    msg_set_pixel_format = 0,
    msg_set_encodings = 2,
    msg_update_request = 3,
    msg_key_event = 4,
    msg_pointer_event = 5,
    msg_client_cut_text = 6,
    msg_extended_pointer_event = 7,
    msg_server_cut_text = 3,
};

enum : std::uint8_t {
    request_incremental = 0x01,
    request_force = 0x02,
    request_quality_shift = 2,
    request_quality_mask = 0x07,
    request_lossy = 0x20,
    request_focus_off = 0x40,
    request_clipboard_off = 0x80,
};

// The encodings every viewer announces, in this order, around the optional keyboard state.
constexpr std::int32_t leading_encodings[] = {-239, -223, -207, -175, -143, -142, -139, -138};
constexpr std::int32_t keyboard_state_encoding = -137;
constexpr std::int32_t trailing_encodings[] = {-140, 123, -159, 1};
constexpr std::int32_t zrle = 16;
constexpr std::int32_t jpg = 19;

}  // namespace

void write_set_pixel_format(stream_out& out, const pixel_format& format)
{
    out.write_u8(msg_set_pixel_format);
    out.pad(3);
    write_pixel_format(out, format);
}

pixel_format read_set_pixel_format(stream_in& in)
{
    in.skip(3);
    return read_pixel_format(in);
}

std::vector<std::int32_t> build_encoding_list(std::int32_t preferred, bool keyboard_state)
{
    std::vector<std::int32_t> list(std::begin(leading_encodings), std::end(leading_encodings));
    if (keyboard_state) {
        list.push_back(keyboard_state_encoding);
    }
    list.insert(list.end(), std::begin(trailing_encodings), std::end(trailing_encodings));
    // The first of ZRLE and JPG in the list is the encoding the encoder uses for changed
    // rectangles.
    if (preferred == zrle) {
        list.insert(list.end(), {zrle, jpg});
    } else if (preferred == 0 || preferred == jpg) {
        list.insert(list.end(), {jpg, zrle});
    } else {
        list.insert(list.end(), {preferred, jpg, zrle});
    }
    return list;
}

void write_set_encodings(stream_out& out, std::span<const std::int32_t> encodings)
{
    out.write_u8(msg_set_encodings);
    out.pad(1);
    out.write_u16(static_cast<std::uint16_t>(encodings.size()));
    for (std::int32_t e : encodings) {
        out.write_u32(static_cast<std::uint32_t>(e));
    }
}

std::vector<std::int32_t> read_set_encodings(stream_in& in)
{
    in.skip(1);
    std::uint16_t count = in.read_u16();
    if (count > max_encodings) {
        throw vantor::exception("too many encodings");
    }
    in.ensure(std::size_t{count} * 4);
    std::vector<std::int32_t> encodings;
    encodings.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        encodings.push_back(static_cast<std::int32_t>(in.read_u32()));
    }
    return encodings;
}

void write_update_request(stream_out& out, const update_request& request)
{
    std::uint8_t flags =
        static_cast<std::uint8_t>((request.quality_step & request_quality_mask) << request_quality_shift);
    if (request.incremental) {
        flags |= request_incremental;
    }
    if (request.force) {
        flags |= request_force;
    }
    if (request.lossy) {
        flags |= request_lossy;
    }
    if (request.focus_off) {
        flags |= request_focus_off;
    }
    if (request.clipboard_off) {
        flags |= request_clipboard_off;
    }
    out.write_u8(msg_update_request);
    out.write_u8(flags);
    out.write_u16(static_cast<std::uint16_t>(request.rect.x));
    out.write_u16(static_cast<std::uint16_t>(request.rect.y));
    out.write_u16(static_cast<std::uint16_t>(request.rect.w));
    out.write_u16(static_cast<std::uint16_t>(request.rect.h));
}

update_request read_update_request(stream_in& in)
{
    std::uint8_t flags = in.read_u8();
    update_request request;
    request.incremental = (flags & request_incremental) != 0;
    request.force = (flags & request_force) != 0;
    request.quality_step = (flags >> request_quality_shift) & request_quality_mask;
    request.lossy = (flags & request_lossy) != 0;
    request.focus_off = (flags & request_focus_off) != 0;
    request.clipboard_off = (flags & request_clipboard_off) != 0;
    request.rect.x = in.read_u16();
    request.rect.y = in.read_u16();
    request.rect.w = in.read_u16();
    request.rect.h = in.read_u16();
    return request;
}

void write_key_event(stream_out& out, const key_event& key)
{
    out.write_u8(msg_key_event);
    out.write_u8(key.down ? 1 : 0);
    out.write_u16(key.kind);
    out.write_u32(key.key);
}

key_event read_key_event(stream_in& in)
{
    key_event key;
    key.down = in.read_u8() != 0;
    key.kind = in.read_u16();
    key.key = in.read_u32();
    return key;
}

void write_pointer_event(stream_out& out, const pointer_event& pointer)
{
    if (pointer.buttons <= 0xFF) {
        out.write_u8(msg_pointer_event);
        out.write_u8(static_cast<std::uint8_t>(pointer.buttons));
    } else {
        out.write_u8(msg_extended_pointer_event);
        out.write_u16(pointer.buttons);
    }
    out.write_u16(pointer.x);
    out.write_u16(pointer.y);
}

pointer_event read_pointer_event(stream_in& in, std::uint8_t type)
{
    pointer_event pointer;
    pointer.buttons = type == msg_extended_pointer_event ? in.read_u16() : in.read_u8();
    pointer.x = in.read_u16();
    pointer.y = in.read_u16();
    return pointer;
}

void write_cut_text(stream_out& out, const cut_text& message)
{
    out.write_u8(message.kind == cut_text_from_server ? msg_server_cut_text : msg_client_cut_text);
    out.write_u8(message.flags);
    out.pad(2);
    out.write_u32(static_cast<std::uint32_t>(message.text.size()));
    out.write_bytes(message.text.data(), message.text.size());
}

cut_text read_cut_text(stream_in& in)
{
    cut_text message;
    message.flags = in.read_u8();
    in.skip(2);
    std::uint32_t length = in.read_u32();
    // Checked before the bytes are waited for: a peer must not make the receiver buffer an
    // unbounded message.
    if (length > max_cut_text_length) {
        throw vantor::exception("cut text too long");
    }
    in.ensure(length);
    message.text.resize(length);
    in.read_bytes(message.text.data(), length);
    return message;
}

}  // namespace kova::proto
