#pragma once
// kova::desktop_frame: one grab of the desktop. It carries the picture's description together
// with what changed since the previous grab (its change-tracker base, which the grabber feeds),
// where the cursor is and what it looks like, new clipboard text and the monitor layout.
//
// A frame is counted: the grabber that makes it holds a reference while it fills it on the
// grabbing thread, and the desktop driver hands a reference to the encoder's update pass, which
// reads it on the encoder's executor within one pass; the driver's hand-over orders the two.
// A grabber may reuse its frame after reset. Frames have no lock.
#include <cstdint>
#include <string>

#include "kova/protocol/change_tracker.h"
#include "kova/protocol/cursor_shape.h"
#include "kova/protocol/monitor_regions.h"
#include "kova/protocol/pixel_format.h"
#include "kova/protocol/rect.h"
#include "kova/protocol/region.h"
#include "vantor/core/refc_obj.h"

namespace kova {

// The cursor part of a frame.
struct mouse_tracker {
    // Cursor position in frame coordinates; valid when has_position is set.
    vantor_abi::Point position;
    bool has_position = false;
    cursor_shape shape;
    // The grabber put a new shape into this frame.
    bool shape_changed = false;
};

// The clipboard part of a frame: local clipboard text the grabber saw.
struct clipboard_tracker {
    std::string clipboard_text;
    bool clipboard_changed = false;
};

// Grabbers derive from it and supply the pixel buffer.
class desktop_frame : public vantor::refc_obj_class,
                      public change_tracker,
                      public mouse_tracker,
                      public clipboard_tracker {
public:
    // Set by the grabbers: the grabber kind that made the frame.
    std::int32_t grabber_type = 0;
    // Set by the grabbers.
    Region frame_region;
    // The frame's rectangle; w and h of -1 mean none.
    vantor_abi::Rect frame_rect{-1, -1, -1, -1};
    // Where the frame lies on the desktop: the update pass adds it to the cursor position and
    // moves the regions by it.
    vantor_abi::Point offset;
    // Format of the frame's pixels.
    kova::pixel_format format;
    // Handed by the update pass to the tracker's region query.
    std::int32_t tracker_hint = 0;
    // Set by the grabbers when the viewer is to receive the whole frame.
    bool whole_region = false;
    monitor_regions monitors;
    // The layout is new; the update pass clears it when it announces the layout.
    bool monitors_changed = false;

    // False: a frame does not keep itself alive past its last reference.
    virtual bool keep_alive() const { return false; }
    // The focus rectangle, or null when the frame has none (always null here).
    virtual const vantor_abi::Rect* focus_rect() const { return nullptr; }
    // The first byte of the frame's pixels and, in `stride`, the bytes per row; null when the
    // frame holds no pixels.
    virtual std::uint8_t* pixel_buffer(std::int32_t& stride) = 0;

    // Before a grabber refills a reused frame: clears the shape-changed, has-position and
    // clipboard-changed marks and the clipboard text, then empties the change tracker (not the
    // full clear). Monitors, pixel format and frame rectangle stay.
    void reset();

protected:
    desktop_frame() = default;
    ~desktop_frame() override = default;
};

// A rectangle with the region it stands for; used by the grabbers.
struct rect_region {
    vantor_abi::Rect rect;
    Region region;
};

}  // namespace kova
