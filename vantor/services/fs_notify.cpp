#include "vantor/services/fs_notify.h"

#include <exception>
#include <utility>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/format.h"
#include "vantor/core/locks.h"
#include "vantor/core/log.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/thread.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

namespace vantor {
namespace {

const log_context logger{"fs_notifier"};

constexpr DWORD default_retry_ms = 10000;
// A signalled directory is reported this long after the signal, so that a burst of changes
// gives one report.
constexpr DWORD settle_ms = 100;
constexpr DWORD change_filter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

struct change_notification_policy {
    using value_type = HANDLE;
    static value_type empty() noexcept { return INVALID_HANDLE_VALUE; }
    static bool is_empty(value_type v) noexcept { return v == INVALID_HANDLE_VALUE || v == nullptr; }
    static BOOL close(value_type v) noexcept { return FindCloseChangeNotification(v); }
};
using change_notification = unique_win_object<change_notification_policy>;

// Holds the process-wide lock for a scope.
class process_lock_scope {
public:
    process_lock_scope() { process_lock(); }
    process_lock_scope(const process_lock_scope&) = delete;
    process_lock_scope& operator=(const process_lock_scope&) = delete;
    ~process_lock_scope() { process_unlock(); }
};


}  // namespace

// One entry of a notifier's wait list. Only the notifier's thread arms, resets and closes
// entries; the list itself only grows.
class notify_struct : public refc_obj_class {
public:
    const std::string& path() const noexcept { return path_; }
    // The handle to wait on; null or INVALID_HANDLE_VALUE while not armed.
    virtual HANDLE handle() const noexcept = 0;
    bool armed() const noexcept
    {
        HANDLE h = handle();
        return h != nullptr && h != INVALID_HANDLE_VALUE;
    }
    virtual void reset() = 0;
    virtual void close() noexcept = 0;
    virtual void arm() = 0;

protected:
    explicit notify_struct(std::string path) : path_(std::move(path)) {}
    ~notify_struct() override = default;

private:
    std::string path_;
};

namespace {

// The wake-up entry: a manual-reset event that add_directory and stopping set.
class notify_struct_base final : public notify_struct {
public:
    notify_struct_base() : notify_struct(std::string()), event_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        if (!event_) {
            throw exception::make_win32_error("CreateEventW");
        }
    }
    HANDLE handle() const noexcept override { return event_.get(); }
    void reset() override { ResetEvent(event_.get()); }
    void close() noexcept override {}
    void arm() override {}
    void wake() noexcept { SetEvent(event_.get()); }

private:
    ~notify_struct_base() override = default;

    win_event event_;
};

// One watched directory.
class notify_struct_dir final : public notify_struct {
public:
    explicit notify_struct_dir(const std::string& path) : notify_struct(path) {}
    HANDLE handle() const noexcept override { return handle_.get(); }
    void reset() override {}
    void close() noexcept override { handle_.reset(); }
    void arm() override
    {
        if (!handle_) {
            handle_.reset(
                FindFirstChangeNotificationW(to_wide(encoding_utf8, path()).c_str(), FALSE, change_filter));
            if (!handle_) {
                throw exception::make_win32_error("notify_struct_dir::FindFirstChangeNotification");
            }
        } else if (!FindNextChangeNotification(handle_.get())) {
            throw exception::make_win32_error("notify_struct_dir::FindNextChangeNotification");
        }
    }

private:
    ~notify_struct_dir() override = default;

    change_notification handle_;
};

}  // namespace

// The thread of one notifier. The watch list and the running flag are guarded by the process
// lock; the watches themselves are touched only by this thread, and the callbacks run with no
// lock held.
class fs_notifier_thread final : public thread {
public:
    fs_notifier_thread(const refc_obj<fs_notifier_cb>& callback, DWORD retry_ms)
        : thread(false, {"fs_notifier"}),
          callback_(callback),
          retry_ms_(retry_ms),
          wake_(new notify_struct_base())
    {
        list_.emplace_back(wake_.get());
    }
    ~fs_notifier_thread() override { join(); }

    void add(const refc_obj<notify_struct>& watch)
    {
        {
            process_lock_scope hold;
            if (list_.size() > fs_notifier_ex::max_directories) {
                throw exception("too many watched directories");
            }
            list_.push_back(watch);
        }
        wake_->wake();
    }

    void stop()
    {
        {
            process_lock_scope hold;
            running_ = false;
        }
        wake_->wake();
        join();
    }

protected:
    void run() override
    {
        try {
            loop();
        } catch (...) {
            logger.log(VANTOR_FMT("notifier thread failed: %1%"), current_exception_text());
        }
    }

private:
    bool running()
    {
        process_lock_scope hold;
        return running_;
    }

    void loop()
    {
        for (;;) {
            std::vector<refc_obj<notify_struct>> watches;
            {
                process_lock_scope hold;
                if (!running_) {
                    return;
                }
                watches = list_;
            }
            std::vector<HANDLE> handles;
            std::vector<notify_struct*> waited;
            bool failures = false;
            for (const refc_obj<notify_struct>& watch : watches) {
                if (!watch->armed() && !arm_first(*watch)) {
                    failures = true;
                    continue;
                }
                handles.push_back(watch->handle());
                waited.push_back(watch.get());
            }
            DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                                  failures ? retry_ms_ : INFINITE);
            if (result == WAIT_TIMEOUT) {
                continue;
            }
            if (result == WAIT_FAILED || result >= WAIT_OBJECT_0 + handles.size()) {
                logger.log(VANTOR_FMT("wait failed: %1%"), static_cast<unsigned long>(GetLastError()));
                // Pausing on the wake-up event keeps a broken handle from spinning the thread
                // while a stop still gets through at once.
                WaitForSingleObject(wake_->handle(), retry_ms_);
                continue;
            }
            std::size_t index = result - WAIT_OBJECT_0;
            if (index != 0) {
                Sleep(settle_ms);
            }
            if (!running()) {
                return;
            }
            report(*waited[index]);
        }
    }

    // Arms a watch that has no handle and reports the outcome; false when it failed.
    bool arm_first(notify_struct& watch)
    {
        try {
            watch.arm();
            callback_->watching(watch.path());
            return true;
        } catch (...) {
            logger.log(VANTOR_FMT("cannot watch %1%: %2%"), watch.path(), current_exception_text());
        }
        try {
            callback_->failed(watch.path());
        } catch (...) {
            logger.log(VANTOR_FMT("failure report for %1% failed: %2%"), watch.path(),
                       current_exception_text());
        }
        return false;
    }

    void report(notify_struct& watch)
    {
        try {
            watch.reset();
            if (!watch.path().empty()) {
                callback_->changed(watch.path());
            }
            watch.arm();
        } catch (...) {
            logger.log(VANTOR_FMT("change report for %1% failed: %2%"), watch.path(),
                       current_exception_text());
            // The next round arms the watch anew (and reports a failure if that fails too).
            watch.close();
        }
    }

    refc_obj<fs_notifier_cb> callback_;
    DWORD retry_ms_;
    refc_obj<notify_struct_base> wake_;
    std::vector<refc_obj<notify_struct>> list_;  // entry 0 is the wake-up entry
    bool running_ = true;
};

void fs_notifier_cb::watching(const std::string&) {}

void fs_notifier_cb::failed(const std::string&) {}

refc_obj<fs_notifier_ex> fs_notifier_ex::make(const refc_obj<fs_notifier_cb>& callback,
                                              std::int64_t retry_timeout_ms)
{
    return refc_obj<fs_notifier_ex>(new fs_notifier_ex(callback, retry_timeout_ms));
}

fs_notifier_ex::fs_notifier_ex(const refc_obj<fs_notifier_cb>& callback, std::int64_t retry_timeout_ms)
    : callback_(callback),
      thread_(std::make_unique<fs_notifier_thread>(
          callback,
          retry_timeout_ms <= 0 ? default_retry_ms : static_cast<DWORD>(retry_timeout_ms & 0xFFFFFFFF)))
{
    thread_->start();
}

fs_notifier_ex::~fs_notifier_ex()
{
    thread_->stop();
    thread_.reset();
    callback_.reset();
}

void fs_notifier_ex::add_directory(const std::string& path)
{
    thread_->add(refc_obj<notify_struct>(new notify_struct_dir(path)));
}

}  // namespace vantor
