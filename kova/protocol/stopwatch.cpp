#include "kova/protocol/stopwatch.h"

#include "vantor/core/clock.h"

namespace kova {

stopwatch::stopwatch() : last_us_(vantor::steady_clock_us()) {}

std::int64_t stopwatch::lap()
{
    std::int64_t now = vantor::steady_clock_us();
    std::int64_t elapsed = now - last_us_;
    last_us_ = now;
    return elapsed;
}

}  // namespace kova
