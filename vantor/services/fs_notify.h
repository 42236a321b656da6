#pragma once
// Watching directories for changes. All watches of one notifier share one thread, which waits on
// the Windows change-notification handles of the watched directories and on a wake-up event and
// reports per directory, not per file: the callback learns which watched directory changed and
// looks for itself. Subdirectories are not watched.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "vantor/core/refc_obj.h"

namespace vantor {

// The receiver of a notifier's reports, implemented by the user. Every operation runs on the
// notifier's thread with no lock of the notifier held, so it may take any lock and call into the
// notifier (add_directory). What it throws is logged; from changed it also re-arms that watch.
class fs_notifier_cb : public virtual refc_obj_class {
public:
    // A watched directory (the path as added) changed; a burst of changes within about 100 ms
    // is reported once.
    virtual void changed(const std::string& path) = 0;
    // A watch was armed for the first time, or again after a failure.
    virtual void watching(const std::string& path);
    // Arming a watch failed; it is tried again after the retry time-out.
    virtual void failed(const std::string& path);

protected:
    fs_notifier_cb() = default;
    ~fs_notifier_cb() override = default;
};

class fs_notifier_thread;

// A set of directory watches with their thread. Counted; made by make. Any thread may add
// directories. The last reference must not be dropped on the notifier's own thread (that is,
// from inside a callback), since the destructor waits for the thread to end.
class fs_notifier_ex : public refc_obj_class {
public:
    // At most this many directories per notifier (one wait covers 64 handles with the wake-up).
    static constexpr std::size_t max_directories = 63;

    // Starts the thread. A retry time-out of 0 or less means 10000 ms; otherwise its low 32 bits
    // are used.
    static refc_obj<fs_notifier_ex> make(const refc_obj<fs_notifier_cb>& callback,
                                         std::int64_t retry_timeout_ms);

    // Adds a watch (armed by the thread, which then calls watching or failed). Throws "too many
    // watched directories" beyond max_directories.
    void add_directory(const std::string& path);

protected:
    // Stops the thread, waits for it and releases the callback.
    ~fs_notifier_ex() override;

private:
    explicit fs_notifier_ex(const refc_obj<fs_notifier_cb>& callback, std::int64_t retry_timeout_ms);

    refc_obj<fs_notifier_cb> callback_;
    std::unique_ptr<fs_notifier_thread> thread_;
};

}  // namespace vantor
