#pragma once
// The executor that all decoders share.
#include "vantor/core/job.h"

namespace kova {

// A thread pool of as many workers as the machine has processors, with a 3000 ms idle
// time-out; made on first use (thread-safe) and kept for the life of the process. Its jobs run
// several at once, so each decoder puts its own serial queue on top of it.
vantor::executor_handle shared_executor();

}  // namespace kova
