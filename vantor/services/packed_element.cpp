// The packed form of an element: its payload, then its kind as a signed 32-bit number.
#include <cstdint>
#include <string>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/element.h"
#include "vantor/services/json.h"
#include "vantor/services/packed.h"
#include "vantor/services/packed_number.h"

namespace tarvojson {

namespace {

void write_kind(netbuf& p, element_kind k)
{
    packet::write_i32(p, static_cast<std::int32_t>(k));
}

void write_element(netbuf& p, const element& e);

// Unparsed JSON text travels as the element it holds. A scalar that the element cannot hold
// (true, false, a fraction, an integer beyond 64 bits) is parsed back into unparsed text; it
// travels as a string holding its literal.
void write_parsed(netbuf& p, const std::string& json)
{
    element parsed;
    parse_text(parsed, json);
    if (const std::string* literal = parsed.text_if()) {
        packet::write_string(p, *literal);
        write_kind(p, element_kind::string);
        return;
    }
    write_element(p, parsed);
}

void write_element(netbuf& p, const element& e)
{
    switch (e.kind()) {
        case element_kind::null:
            write_kind(p, element_kind::null);
            return;
        case element_kind::string:
            packet::write_string(p, *e.string_if());
            write_kind(p, element_kind::string);
            return;
        case element_kind::array: {
            // Last item first: the reader, taking from the end, meets the first item first.
            const element::array_type& items = *e.array_if();
            for (std::size_t k = items.size(); k > 0; --k) {
                write_element(p, items[k - 1]);
            }
            packet::write_u32(p, static_cast<std::uint32_t>(items.size()));
            write_kind(p, element_kind::array);
            return;
        }
        case element_kind::object: {
            const element::object_type& members = *e.object_if();
            for (const auto& [name, value] : members) {
                write_element(p, value);
                packet::write_string(p, name);
            }
            packet::write_u32(p, static_cast<std::uint32_t>(members.size()));
            write_kind(p, element_kind::object);
            return;
        }
        case element_kind::int64:
            packet::write_i64(p, *e.int64_if());
            write_kind(p, element_kind::int64);
            return;
        case element_kind::text:
            write_parsed(p, *e.text_if());
            return;
        case element_kind::netbuf:
            // A byte block travels as a string.
            packet::write_netbuf(p, *e.netbuf_if());
            write_kind(p, element_kind::string);
            return;
        case element_kind::json_netbuf:
            write_parsed(p, e.json_netbuf_if()->to_string());
            return;
    }
    throw vantor::internal_error(319);
}

// Every item needs at least its kind byte, so a count larger than what remains cannot be
// genuine.
std::uint32_t read_count(netbuf& p)
{
    std::uint32_t count = packet::read_u32(p);
    if (count > p.size()) {
        packed_detail::raise_parse_error();
    }
    return count;
}

void read_element(netbuf& p, element& e, std::size_t depth)
{
    std::int32_t k = packet::read_i32(p);
    switch (k) {
        case static_cast<std::int32_t>(element_kind::null):
            // A fresh element is null already; an existing one keeps its value.
            return;
        case static_cast<std::int32_t>(element_kind::string): {
            // Written as a string or as a byte block: the same bytes either way.
            std::int32_t length = packet::read_i32(p);
            if (length < 0 || static_cast<std::size_t>(length) > p.size()) {
                packed_detail::raise_parse_error();
            }
            std::string bytes;
            p.copy_back_to_string(bytes, static_cast<std::size_t>(length));
            p.trim_back(static_cast<std::size_t>(length));
            e.as_string() = std::move(bytes);
            return;
        }
        case static_cast<std::int32_t>(element_kind::array): {
            if (depth >= max_nesting) {
                packed_detail::raise_parse_error();
            }
            element::array_type& items = e.as_array();
            std::uint32_t count = read_count(p);
            for (std::uint32_t n = 0; n < count; ++n) {
                read_element(p, items.emplace_back(), depth + 1);
            }
            return;
        }
        case static_cast<std::int32_t>(element_kind::object): {
            if (depth >= max_nesting) {
                packed_detail::raise_parse_error();
            }
            element::object_type& members = e.as_object();
            std::uint32_t count = read_count(p);
            std::string name;
            for (std::uint32_t n = 0; n < count; ++n) {
                packet::read_string(p, name);
                read_element(p, members[name], depth + 1);
            }
            return;
        }
        case static_cast<std::int32_t>(element_kind::int64):
            e.as_int64() = packet::read_i64(p);
            return;
        default:
            throw vantor::internal_error(370);
    }
}

}  // namespace

void element::write_packet(netbuf& packet) const
{
    write_element(packet, *this);
}

void element::read_packet(netbuf& packet)
{
    read_element(packet, *this, 0);
}

}  // namespace tarvojson
