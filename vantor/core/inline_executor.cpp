#include "vantor/core/inline_executor.h"

namespace vantor {

void __cdecl run_job_inline(void* /*context*/, job_fn run, job_fn release, void* arg)
{
    job{run, release, arg}.execute();
}

}  // namespace vantor
