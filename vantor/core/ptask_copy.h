#pragma once
// Tasks that wait for one source future and hand on its outcome: pcopytask completes its own
// future with the source's value or fails it with the source's exception; pcatchtask turns either
// outcome into a value.
#include <utility>

#include "vantor/core/exception.h"
#include "vantor/core/fut.h"
#include "vantor/core/ptask.h"
#include "vantor/core/svar2.h"

namespace vantor {
namespace ptask_detail {

// A task of result R waiting for one source future of T. The constructor attaches the task to
// the source; a failed source detaches it again, so that it runs as soon as its creator lets go.
template <typename R, typename T>
class single_source_task : public ptask<R> {
public:
    single_source_task(const executor_handle& executor, fut<T> source)
        : ptask<R>(executor), source_(std::move(source))
    {
        bool already_failed = false;
        this->attach_to(*source_.state(), already_failed);
        if (already_failed) {
            this->detach_from(*source_.state());
        }
    }

protected:
    void on_source_failed() override { this->detach_from(*source_.state()); }

    fut<T> source_;
};

}  // namespace ptask_detail

// Completes its own future with the value of the source, or fails it with the source's exception.
template <typename T>
class pcopytask final : public ptask_detail::single_source_task<T, T> {
public:
    using ptask_detail::single_source_task<T, T>::single_source_task;

protected:
    void run() override
    {
        if (this->forward_error(*this->source_.state())) {
            return;
        }
        this->complete_with([this] { return this->source_.get(); });
    }
};

// Completes its own future with an svar2 holding the source's value (index 0) or its exception
// (index 1); its future never fails on the source's account.
template <typename T>
class pcatchtask final : public ptask_detail::single_source_task<svar2<T, exception>, T> {
public:
    using ptask_detail::single_source_task<svar2<T, exception>, T>::single_source_task;

protected:
    void run() override
    {
        using result = svar2<T, exception>;
        this->complete_with([this]() -> result {
            try {
                return result(std::in_place_index<0>, this->source_.get());
            } catch (const exception& e) {
                return result(std::in_place_index<1>, e);
            } catch (...) {
                return result(std::in_place_index<1>, exception());
            }
        });
    }
};

}  // namespace vantor
