#include "vantor/core/job.h"

namespace vantor {

void job::execute() noexcept
{
    try {
        if (run) run(arg);
    } catch (...) {
    }
    try {
        if (release) release(arg);
    } catch (...) {
    }
}

}  // namespace vantor
