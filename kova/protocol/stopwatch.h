#pragma once
// Times the work of the rectangle coders, the viewer and the clipboard-write confirmation in
// microseconds of the steady clock. Used by one thread at a time.
#include <cstdint>

namespace kova {

class stopwatch {
public:
    // Starts at the current time.
    stopwatch();

    // Microseconds since the previous lap (or the start); the current time becomes the new
    // start.
    std::int64_t lap();

private:
    std::int64_t last_us_;
};

}  // namespace kova
