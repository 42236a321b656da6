#include "kova/encoder/decoder_pool.h"

#include "vantor/core/sysinfo.h"
#include "vantor/core/thread_pool.h"

namespace kova {
namespace {

constexpr std::int64_t decoder_idle_timeout_ms = 3000;

}  // namespace

vantor::executor_handle shared_executor()
{
    static vantor::thread_pool* const pool = [] {
        vantor::refc_obj<vantor::thread_pool> p =
            vantor::thread_pool::create(vantor::processor_count(), decoder_idle_timeout_ms);
        // The process keeps this reference until it ends.
        p->add_ref();
        return p.get();
    }();
    return pool->executor();
}

}  // namespace kova
