#include "kova/protocol/zlib_checkpoint.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/packed.h"

// zlib's internal state record. Its layout belongs to the exact zlib build, which is why a
// checkpoint carries the version and every size and is refused by any other build.
#include <deflate.h>
#undef local

namespace kova::zlib_checkpoint {
namespace {

constexpr char zlib_version_text[] = "1.3.1";

// Matches are never farther back than the window.
constexpr std::uint32_t max_match_distance = 32768;

void check_linked_version()
{
    if (std::strcmp(zlibVersion(), zlib_version_text) != 0) {
        throw vantor::exception("invalid zlib version linked");
    }
}

[[noreturn]] void sizes_failed()
{
    throw vantor::exception("zlib_stream: sizes restore failed");
}

[[noreturn]] void restore_failed()
{
    throw vantor::exception("zlib_stream: restore failed");
}

std::string_view bytes_of(const void* p, std::size_t n)
{
    return {static_cast<const char*>(p), n};
}

// The sizes of the four buffers of a state.
struct buffer_sizes {
    std::size_t window;
    std::size_t prev;
    std::size_t head;
    std::size_t pending;
};

buffer_sizes sizes_of(const deflate_state& s)
{
    return {std::size_t{s.w_size} * 2, std::size_t{s.w_size} * sizeof(Pos),
            std::size_t{s.hash_size} * sizeof(Pos), static_cast<std::size_t>(s.pending_buf_size)};
}

// The recorded geometry must be the fresh stream's: the same build with the same parameters.
void check_geometry(const deflate_state& saved, const deflate_state& fresh)
{
    if (saved.w_size != fresh.w_size || saved.w_bits != fresh.w_bits || saved.w_mask != fresh.w_mask ||
        saved.window_size != fresh.window_size || saved.hash_size != fresh.hash_size ||
        saved.hash_bits != fresh.hash_bits || saved.hash_mask != fresh.hash_mask ||
        saved.hash_shift != fresh.hash_shift || saved.lit_bufsize != fresh.lit_bufsize ||
        saved.pending_buf_size != fresh.pending_buf_size || saved.sym_end != fresh.sym_end) {
        sizes_failed();
    }
}

// The positions and counters that zlib uses as indices, checked before any of them is trusted:
// a state from elsewhere must not make zlib read or write outside its buffers.
void check_positions(const deflate_state& s, std::uintptr_t pending_offset)
{
    const std::uint64_t window = s.window_size;
    bool ok = (s.status == INIT_STATE || s.status == BUSY_STATE) && s.wrap == 1 && s.method == Z_DEFLATED &&
              s.level >= 0 && s.level <= 9 && s.strategy >= 0 && s.strategy <= Z_FIXED &&
              pending_offset <= s.pending_buf_size && s.pending <= s.pending_buf_size - pending_offset &&
              s.strstart <= window && s.lookahead <= window - s.strstart && s.insert <= s.strstart &&
              s.match_start <= window && s.high_water <= window &&
              s.block_start <= static_cast<long>(s.strstart) && s.block_start >= -static_cast<long>(window) &&
              s.match_length <= MAX_MATCH && s.prev_length <= MAX_MATCH && s.bi_valid >= 0 &&
              s.bi_valid <= Buf_size && s.sym_next <= s.sym_end && s.sym_next % 3 == 0 &&
              s.last_flush >= -2 && s.last_flush <= Z_BLOCK;
    if (ok && s.match_length >= MIN_MATCH) {
        // The next step may emit this match as the distance strstart - match_start.
        ok = s.match_start < s.strstart && s.strstart - s.match_start <= max_match_distance;
    }
    if (!ok) {
        restore_failed();
    }
}

// Every buffered symbol's distance must stay inside the window, or the tree coder would index
// past its tables. `symbols` is the saved symbol buffer.
void check_symbols(const deflate_state& s, const std::uint8_t* symbols)
{
    for (uInt i = 0; i < s.sym_next; i += 3) {
        std::uint32_t dist = symbols[i] | (std::uint32_t{symbols[i + 1]} << 8);
        if (dist > max_match_distance) {
            restore_failed();
        }
    }
}

// One length-prefixed item of the packet; a packet too short or malformed for it is refused.
void read_item(netbuf& packet, std::string& out)
{
    try {
        tarvojson::packet::read_string(packet, out);
    } catch (const vantor::exception&) {
        restore_failed();
    }
}

void read_block(netbuf& packet, std::string& out, std::size_t expected)
{
    read_item(packet, out);
    if (out.size() != expected) {
        sizes_failed();
    }
}

std::uintptr_t offset_of(const void* p, const void* base)
{
    return reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(base);
}

}  // namespace

netbuf save(z_stream& record)
{
    check_linked_version();
    const auto* s = reinterpret_cast<const deflate_state*>(record.state);
    if (s == nullptr) {
        throw vantor::internal_error(__LINE__);
    }
    buffer_sizes sizes = sizes_of(*s);
    netbuf out;
    tarvojson::packet::write_string(out, bytes_of(s->pending_buf, sizes.pending));
    tarvojson::packet::write_string(out, bytes_of(s->head, sizes.head));
    tarvojson::packet::write_string(out, bytes_of(s->prev, sizes.prev));
    tarvojson::packet::write_string(out, bytes_of(s->window, sizes.window));
    tarvojson::packet::write_string(out, bytes_of(s, sizeof(deflate_state)));
    tarvojson::packet::write_string(out, bytes_of(&record, sizeof(z_stream)));
    tarvojson::packet::write_cstr(out, zlibVersion());
    return out;
}

void restore(z_stream& record, const netbuf& state)
{
    check_linked_version();
    auto* fresh = reinterpret_cast<deflate_state*>(record.state);
    if (fresh == nullptr) {
        throw vantor::internal_error(__LINE__);
    }
    // The packet is read from a copy: the packed readers consume what they read.
    netbuf packet(state);
    std::string version;
    std::string stream_bytes;
    std::string state_bytes;
    std::string window;
    std::string prev;
    std::string head;
    std::string pending;
    const buffer_sizes sizes = sizes_of(*fresh);
    read_item(packet, version);
    if (version != zlib_version_text) {
        throw vantor::exception("invalid zlib version linked");
    }
    read_block(packet, stream_bytes, sizeof(z_stream));
    read_block(packet, state_bytes, sizeof(deflate_state));
    read_block(packet, window, sizes.window);
    read_block(packet, prev, sizes.prev);
    read_block(packet, head, sizes.head);
    read_block(packet, pending, sizes.pending);
    if (!packet.is_empty()) {
        restore_failed();
    }

    deflate_state saved;
    std::memcpy(static_cast<void*>(&saved), state_bytes.data(), sizeof saved);
    z_stream saved_stream;
    std::memcpy(static_cast<void*>(&saved_stream), stream_bytes.data(), sizeof saved_stream);
    check_geometry(saved, *fresh);
    std::uintptr_t pending_offset = offset_of(saved.pending_out, saved.pending_buf);
    std::uintptr_t symbols_offset = offset_of(fresh->sym_buf, fresh->pending_buf);
    if (offset_of(saved.sym_buf, saved.pending_buf) != symbols_offset) {
        restore_failed();
    }
    check_positions(saved, pending_offset);
    check_symbols(saved, reinterpret_cast<const std::uint8_t*>(pending.data()) + symbols_offset);

    // The saved record's pointers belong to the saving process; the fresh stream's own buffers,
    // back-pointer and static tree descriptions take their place.
    deflate_state linked = *fresh;
    *fresh = saved;
    fresh->strm = linked.strm;
    fresh->gzhead = nullptr;
    fresh->window = linked.window;
    fresh->prev = linked.prev;
    fresh->head = linked.head;
    fresh->pending_buf = linked.pending_buf;
    fresh->pending_out = linked.pending_buf + pending_offset;
    fresh->sym_buf = linked.sym_buf;
    fresh->l_desc = linked.l_desc;
    fresh->d_desc = linked.d_desc;
    fresh->bl_desc = linked.bl_desc;
    std::memcpy(fresh->window, window.data(), sizes.window);
    std::memcpy(fresh->prev, prev.data(), sizes.prev);
    std::memcpy(fresh->head, head.data(), sizes.head);
    std::memcpy(fresh->pending_buf, pending.data(), sizes.pending);

    record.total_in = saved_stream.total_in;
    record.total_out = saved_stream.total_out;
    record.adler = saved_stream.adler;
    record.data_type = saved_stream.data_type;
    record.reserved = saved_stream.reserved;
}

}  // namespace kova::zlib_checkpoint
