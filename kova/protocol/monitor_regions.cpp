#include "kova/protocol/monitor_regions.h"

#include "kova/protocol/region.h"
#include "vantor/core/netbuf.h"
#include "vantor/services/packed.h"

namespace kova {

void monitor_regions::swap(monitor_regions& other) noexcept
{
    names.swap(other.names);
    monitors.swap(other.monitors);
}

void monitor_regions::selected_bounds(vantor_abi::Rect& out) const
{
    Region all;
    for (const monitor_entry& m : monitors) {
        if (m.selected) {
            all.add_rect(m.rect);
        }
    }
    out = all.bounds();
}

void monitor_regions::write_entry(netbuf& p, const monitor_entry& entry)
{
    namespace packet = tarvojson::packet;
    packet::write_bool(p, entry.selected);
    packet::write_i32(p, entry.rect.h);
    packet::write_i32(p, entry.rect.w);
    packet::write_i32(p, entry.rect.y);
    packet::write_i32(p, entry.rect.x);
}

void monitor_regions::read_entry(netbuf& p, monitor_entry& entry)
{
    namespace packet = tarvojson::packet;
    entry.rect.x = packet::read_i32(p);
    entry.rect.y = packet::read_i32(p);
    entry.rect.w = packet::read_i32(p);
    entry.rect.h = packet::read_i32(p);
    entry.selected = packet::read_bool(p);
}

void rect_list_bounds(const std::vector<vantor_abi::Rect>& rects, vantor_abi::Rect& out)
{
    Region all;
    for (const vantor_abi::Rect& r : rects) {
        all.add_rect(r);
    }
    out = all.bounds();
}

}  // namespace kova
