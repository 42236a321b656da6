#pragma once
// The packed codec: the binary form in which components exchange structured values. A packet
// is used as a stack: every writer appends its bytes at the end, every reader takes its bytes
// from the end, so values come back in the reverse order of writing and every variable-length
// item carries its length after its content.
//
// Forms (bytes in the order they stand in the packet):
// - number: the magnitude's significant bytes, least significant first (none for 0), then a
//   count byte holding their number, with 0x80 added for a negative value of a signed type;
// - boolean: 'T' or 'F';
// - string: the bytes, then their count as an unsigned 32-bit number;
// - byte block: the bytes, then their count as a signed 32-bit number (the same bytes as a
//   string of that content);
// - element: the payload, then the kind as a signed 32-bit number (see element.h).
//
// Readers throw vantor::exception "error parsing packet" for too few bytes, a length that runs
// past the start of the packet, a negative length, a boolean byte other than 'T' or 'F', or an
// element nested deeper than max_nesting; and "number too big to be stored in native variable"
// for a count byte above the type's width or a signed value outside its type. The element
// reader raises internal error 370 for a kind it does not know. A failed netbuf reader may
// already have removed bytes; callers drop such a packet.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "vantor/core/map.h"
#include "vantor/core/vector.h"

class netbuf;

namespace tarvojson {

// An item of read_5int_record_list: the text is not carried in the packet and stays empty.
struct int_record {
    std::int32_t a = 0;
    std::int32_t b = 0;
    std::int32_t c = 0;
    std::int32_t d = 0;
    std::int32_t e = 0;
    std::string text;
};

namespace packet {

void write_u8(netbuf& p, std::uint8_t value);
void write_u32(netbuf& p, std::uint32_t value);
void write_i32(netbuf& p, std::int32_t value);
void write_u64(netbuf& p, std::uint64_t value);
void write_i64(netbuf& p, std::int64_t value);
void write_bool(netbuf& p, bool value);
void write_string(netbuf& p, std::string_view value);
// A zero-terminated text without its terminator; null writes the empty string.
void write_cstr(netbuf& p, const char* value);
// The block's bytes are shared, not copied; `block` must not be `p`.
void write_netbuf(netbuf& p, const netbuf& block);

std::uint8_t read_u8(netbuf& p);
std::uint32_t read_u32(netbuf& p);
std::int32_t read_i32(netbuf& p);
std::uint64_t read_u64(netbuf& p);
std::int64_t read_i64(netbuf& p);
bool read_bool(netbuf& p);
void read_string(netbuf& p, std::string& out);
// `out` becomes a new buffer sharing the block's bytes with the packet's chunks.
void read_netbuf(netbuf& p, netbuf& out);

// Counted collections: each reader takes the count (unsigned 32-bit), clears the target, then
// appends the items in the order they come out of the packet.

// Per item the text comes out first, then the number (a writer writes the number, then the
// text).
void read_string_int_list(netbuf& p, vantor_stl::vector<std::pair<std::string, std::int32_t>>& out);
// Per item the numbers come out in the order e, d, b, c, a (a writer writes a, c, b, d, e).
void read_5int_record_list(netbuf& p, vantor_stl::vector<int_record>& out);
void read_string_list(netbuf& p, vantor_stl::vector<std::string>& out);
// For each entry in key order the key, then the value; then the entry count. A reader meets
// the count, then per entry the value before the key.
void write_string_map(netbuf& p, const vantor_stl::map<std::string, std::string>& values);

}  // namespace packet

// The same forms over a byte string changed in place. Its readers check before they remove
// anything: a failing number or boolean reader leaves the string unchanged (read_string has
// already removed the length when it finds too few bytes for the content).
namespace strpacket {

void write_u32(std::string& p, std::uint32_t value);
void write_i32(std::string& p, std::int32_t value);
void write_u64(std::string& p, std::uint64_t value);
void write_bool(std::string& p, bool value);
void write_string(std::string& p, std::string_view value);
void write_cstr(std::string& p, const char* value);

std::uint32_t read_u32(std::string& p);
std::int32_t read_i32(std::string& p);
std::uint64_t read_u64(std::string& p);
bool read_bool(std::string& p);
void read_string(std::string& p, std::string& out);

}  // namespace strpacket

}  // namespace tarvojson
