#include "kova/protocol/desktop_frame.h"

namespace kova {

void desktop_frame::reset()
{
    shape_changed = false;
    has_position = false;
    clipboard_changed = false;
    clipboard_text.clear();
    change_tracker::clear();
}

}  // namespace kova
