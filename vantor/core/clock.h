#pragma once
// The process's clocks: a monotonic millisecond clock for durations and due times, the wall
// clock and the time-stamp clock of log lines and records, and the steady clock of frame and
// rate measurements. The host's clock entries replace the local ones when it offers them.
#include <cstdint>

namespace vantor {

// Creates the local time base: binds GetTickCount64 from "Kernel32.dll" when it exists and
// takes the start-up readings. Run by the foundation start; every clock also creates the time
// base on first use, so calling it again changes nothing.
void time_base_init();

// Milliseconds of a monotonic clock; callers use only differences. The host's monotonic clock
// when it offers one, else milliseconds since the time base was created: GetTickCount64 when it
// exists, otherwise GetTickCount extended past its 32-bit wrap (reads less than 49.7 days
// apart). Any thread.
std::int64_t monotonic_ms();

// Milliseconds since 1970-01-01 UTC: the host's wall clock when it offers one, else the
// system time.
std::int64_t unix_time_ms();

// The time stamp of log lines and records, in milliseconds since 1970-01-01 UTC: the host's
// time-stamp clock when it offers one, else unix_time_ms read under the time-base lock.
std::int64_t now_ms();

// The runtime library's steady clock in microseconds and in milliseconds.
std::int64_t steady_clock_us();
std::int64_t steady_clock_ms();

// Replaces the tick source of the local monotonic clock: while one is set, the clock extends
// its 32-bit readings as it does without GetTickCount64. Null restores the system's source. The
// clock continues from its current value across a change in either direction.
using tick_source = std::uint32_t (*)();
void set_tick_source_for_testing(tick_source source);

}  // namespace vantor
