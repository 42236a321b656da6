#include "vantor/core/timer_fut.h"

#include <memory>

#include "vantor/core/exception.h"

namespace vantor {
namespace {

// The timer's job argument: the future it settles.
struct timer_fut_record {
    fut<int> result;
    bool ran = false;
};

void __cdecl complete_timer_fut(void* arg)
{
    auto* record = static_cast<timer_fut_record*>(arg);
    record->ran = true;
    record->result.set_value(1);
}

// A timer's job is released without a run only when it was cancelled first.
void __cdecl release_timer_fut(void* arg)
{
    std::unique_ptr<timer_fut_record> record(static_cast<timer_fut_record*>(arg));
    if (!record->ran) {
        record->result.set_exception(exception());
    }
}

}  // namespace

fut<int> timer_fut(std::int64_t due, timers::timer_id* id_out)
{
    auto record = std::make_unique<timer_fut_record>();
    fut<int> result = record->result;
    timers::schedule_once(id_out, due, job{&complete_timer_fut, &release_timer_fut, record.get()});
    static_cast<void>(record.release());
    return result;
}

}  // namespace vantor
