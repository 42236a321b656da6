#include "kova/protocol/window_filter.h"

#include <array>
#include <cstddef>

#include "kova/protocol/debug_mask.h"
#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/packed.h"

namespace kova {

namespace {

const vantor::log_context logger{"filters"};

constexpr std::array<const char*, 7> field_names = {"invalid", "desktop", "path", "class",
                                                    "title",   "style",   "ex_style"};

// The fewest bytes a rule node and a key filter entry take in a packet: every number, boolean
// and string length takes at least one byte.
constexpr std::size_t min_rule_bytes = 4;
constexpr std::size_t min_key_filter_bytes = 3;

[[noreturn]] void refuse_packet()
{
    throw vantor::exception("error parsing packet");
}

// A count read from a peer must fit the bytes left in the packet before anything is sized by
// it.
void check_count(const netbuf& p, std::uint32_t count, std::size_t min_item_bytes)
{
    if (count > p.size() / min_item_bytes) {
        refuse_packet();
    }
}

}  // namespace

std::int32_t filter_field_from_string(std::string_view name)
{
    for (std::size_t k = 0; k < field_names.size(); ++k) {
        if (name == field_names[k]) {
            return static_cast<std::int32_t>(k);
        }
    }
    return filter_field_invalid;
}

std::string filter_field_name(std::int32_t field)
{
    if (field < filter_field_desktop || field > filter_field_ex_style) {
        return {};
    }
    return field_names[static_cast<std::size_t>(field)];
}

void filter_rule::write(netbuf& p) const
{
    namespace packet = tarvojson::packet;
    for (auto child = children.rbegin(); child != children.rend(); ++child) {
        child->write(p);
    }
    packet::write_u32(p, static_cast<std::uint32_t>(children.size()));
    packet::write_string(p, value);
    packet::write_i32(p, field);
    packet::write_i32(p, kind);
}

void filter_rule::read(netbuf& p)
{
    read_at(p, 0);
}

void filter_rule::read_at(netbuf& p, int depth)
{
    namespace packet = tarvojson::packet;
    if (depth > max_depth) {
        refuse_packet();
    }
    kind = packet::read_i32(p);
    field = packet::read_i32(p);
    packet::read_string(p, value);
    std::uint32_t count = packet::read_u32(p);
    check_count(p, count, min_rule_bytes);
    // Children are added as they are read, so that what is allocated stays in proportion to
    // the bytes actually consumed, at every level of the tree.
    children.clear();
    for (std::uint32_t k = 0; k < count; ++k) {
        children.emplace_back().read_at(p, depth + 1);
    }
}

std::int32_t filter_rule::evaluate(filter_window_i& window, int depth) const
{
    log(depth);
    switch (kind) {
        case filter_kind_allow:
            return filter_result_allow;
        case filter_kind_deny:
            return filter_result_deny;
        case filter_kind_and:
            for (const filter_rule& child : children) {
                std::int32_t r = child.evaluate(window, depth + 1);
                if (r == filter_result_allow || r == filter_result_deny) {
                    return r;
                }
                if (r != filter_result_true) {
                    return filter_result_false;
                }
            }
            return filter_result_true;
        case filter_kind_or:
            for (const filter_rule& child : children) {
                std::int32_t r = child.evaluate(window, depth + 1);
                if (r == filter_result_allow || r == filter_result_deny || r == filter_result_true) {
                    return r;
                }
            }
            return filter_result_false;
        case filter_kind_check: {
            std::string text;
            if (window.field_text(field, text) && text == value) {
                return filter_result_true;
            }
            return filter_result_false;
        }
        default:
            return filter_result_false;
    }
}

void filter_rule::log(int depth) const
{
    if (!debug_on(debug_encoder_filters)) {
        return;
    }
    std::string indent(depth > 0 ? static_cast<std::size_t>(depth) : 0, ' ');
    switch (kind) {
        case filter_kind_allow:
            logger.log(VANTOR_FMT("%1%return: allow"), indent);
            break;
        case filter_kind_deny:
            logger.log(VANTOR_FMT("%1%return: deny"), indent);
            break;
        case filter_kind_and:
            logger.log(VANTOR_FMT("%1%logic and on %2% elements"), indent, children.size());
            break;
        case filter_kind_or:
            logger.log(VANTOR_FMT("%1%logic or on %2% elements"), indent, children.size());
            break;
        case filter_kind_check:
            logger.log(VANTOR_FMT("%1%check %2% eq %3%"), indent, filter_field_name(field), value);
            break;
        default:
            break;
    }
}

void key_filter::write(netbuf& p) const
{
    namespace packet = tarvojson::packet;
    packet::write_bool(p, switch_);
    for (auto held = down.rbegin(); held != down.rend(); ++held) {
        packet::write_u32(p, *held);
    }
    packet::write_u32(p, static_cast<std::uint32_t>(down.size()));
    packet::write_u32(p, key);
}

void key_filter::read(netbuf& p)
{
    namespace packet = tarvojson::packet;
    key = packet::read_u32(p);
    std::uint32_t count = packet::read_u32(p);
    check_count(p, count, 1);
    down.clear();
    for (std::uint32_t k = 0; k < count; ++k) {
        down.insert(packet::read_u32(p));
    }
    switch_ = packet::read_bool(p);
}

namespace filter_block {

void write(netbuf& p, const filter_rule& rules, const std::vector<key_filter>& keys)
{
    for (auto entry = keys.rbegin(); entry != keys.rend(); ++entry) {
        entry->write(p);
    }
    tarvojson::packet::write_u32(p, static_cast<std::uint32_t>(keys.size()));
    rules.write(p);
}

void read(netbuf& p, filter_rule& rules, std::vector<key_filter>& keys)
{
    rules.read(p);
    std::uint32_t count = tarvojson::packet::read_u32(p);
    check_count(p, count, min_key_filter_bytes);
    keys.clear();
    for (std::uint32_t k = 0; k < count; ++k) {
        keys.emplace_back().read(p);
    }
}

}  // namespace filter_block

}  // namespace kova
