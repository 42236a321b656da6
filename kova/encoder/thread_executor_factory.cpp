#include "kova/encoder/thread_executor_factory.h"

#include "kova/encoder/thread_executor_deprecated.h"

namespace kova {

encoder_executor::encoder_executor(bool adapt_kova_lib_v3)
{
    if (adapt_kova_lib_v3) {
        current_ = make_exe_impl();
        handle_ = current_->executor();
    } else {
        handle_ = make_deprecated_executor();
        deprecated_ = static_cast<thread_executor_deprecated*>(handle_.context);
    }
}

encoder_executor::~encoder_executor()
{
    if (deprecated_ != nullptr) {
        deprecated_->stop();
    }
    // Dropping the thread executor's reference stops it.
    current_.reset();
}

}  // namespace kova
