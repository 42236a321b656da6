#pragma once
// A future that a timer completes.
#include <cstdint>

#include "vantor/core/fut.h"
#include "vantor/core/timers.h"

namespace vantor {

// A future completed with 1 on the timer thread when `due` (monotonic ms) arrives. The timer's
// id is stored through `id_out` when given; cancelling it before it is due fails the future with
// a default vantor::exception. Throws what timers::schedule_once throws (the future is then not
// made).
fut<int> timer_fut(std::int64_t due, timers::timer_id* id_out);

}  // namespace vantor
