#pragma once
// The monitor layout that travels with a desktop frame: the monitors' device names and their
// rectangles with a selected mark. The grabbers fill it, the update pass announces it
// (MonitorStreams), and the plug-in sessions and the viewer read it. A plain value used on one
// thread at a time.
#include <string>
#include <vector>

#include "kova/protocol/rect.h"

class netbuf;

namespace kova {

struct monitor_entry {
    vantor_abi::Rect rect;
    bool selected = false;

    bool operator==(const monitor_entry&) const = default;
};

struct monitor_regions {
    std::vector<std::string> names;
    std::vector<monitor_entry> monitors;

    // Exchanges both lists with another record without copying elements.
    void swap(monitor_regions& other) noexcept;
    // The bounding rectangle of the selected monitors' union; {0, 0, 0, 0} when none is
    // selected.
    void selected_bounds(vantor_abi::Rect& out) const;

    // One entry in the packed codec: appended as selected (boolean), h, w, y and x (signed
    // 32-bit each), so that a reader meets x, y, w, h and selected.
    static void write_entry(netbuf& packet, const monitor_entry& entry);
    // Reads one entry from the end of a packet; throws the packed codec's errors.
    static void read_entry(netbuf& packet, monitor_entry& entry);
};

// The bounding rectangle of the union of every rectangle of the list; {0, 0, 0, 0} for an
// empty list.
void rect_list_bounds(const std::vector<vantor_abi::Rect>& rects, vantor_abi::Rect& out);

}  // namespace kova
