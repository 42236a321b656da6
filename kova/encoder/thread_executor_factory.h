#pragma once
// The choice of an encoder's executor thread.
#include "kova/encoder/thread_executor.h"
#include "vantor/core/job.h"
#include "vantor/core/refc_obj.h"

namespace kova {

class thread_executor_deprecated;

// The executor an encoder runs every operation on, owned by the encoder. With the feature flag
// "adapt kova lib for v3" on (the caller reads the flag and passes its value) it is a
// thread_executor, which can also wait on native objects; with it off, the deprecated executor
// thread. Destroying it stops the thread: the jobs already posted still run.
class encoder_executor {
public:
    explicit encoder_executor(bool adapt_kova_lib_v3);
    encoder_executor(const encoder_executor&) = delete;
    encoder_executor& operator=(const encoder_executor&) = delete;
    ~encoder_executor();

    vantor::executor_handle executor() const noexcept { return handle_; }

    // The executor that can wait on natives, or null with the deprecated thread.
    thread_executor* native_waiter() const noexcept { return current_.get(); }

private:
    vantor::refc_obj<thread_executor> current_;
    thread_executor_deprecated* deprecated_ = nullptr;  // never deleted; see its class
    vantor::executor_handle handle_;
};

}  // namespace kova
