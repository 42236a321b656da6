#pragma once
// The local log writer of processes without a host: a queue of finished lines and one writer
// thread that appends them to the process's log file behind a UTC time stamp, escapes control
// bytes, folds repeated lines, keeps the file under its size cap and echoes the lines to the
// standard error stream. A line observer, when installed, takes every line instead.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "vantor/core/locks.h"
#include "vantor/core/log_record.h"
#include "vantor/core/vector.h"
#include "vantor/core/win_handle.h"

namespace vantor {

class semaphore;

// Receives every drained line (escaped, without time stamp or line end) in place of the file
// and the error stream.
using log_line_observer = void (*)(const char* text, std::size_t length, void* context);

// The process's writer is made on first use by instance() and never destroyed; tests make
// their own. Any thread may enqueue, flush and change the settings.
//
// The writer thread is started by the first enqueued line, which does not wait for it: a line
// emitted while the loader lock is held (from a DLL's start-up) must not wait for a new thread,
// whose start needs that lock. Lines stay queued until the thread runs.
//
// Lines are drained one batch at a time, in the order they were enqueued, under the drain lock.
// The writer thread drains; the emitting thread drains itself while an observer is installed
// (so that the observer has every line when the emitting call returns) and when the writer
// thread cannot be started.
class log_dumper {
public:
    log_dumper();
    log_dumper(const log_dumper&) = delete;
    log_dumper& operator=(const log_dumper&) = delete;
    // Stops the writer thread after the lines queued before; the process's writer never ends.
    ~log_dumper();

    static log_dumper& instance();
    // The process's writer when it has been made, else null.
    static log_dumper* existing() noexcept;

    // Queues one finished line; never touches the file on the writer thread's path.
    void enqueue(std::string line);

    // Returns once every line enqueued before the call has been handled. Called from inside a
    // drain (by the observer), it returns at once: the drain cannot wait for itself. Throws
    // when no semaphore can be made.
    void flush();

    // Installs or (with null) removes the observer; waits for a drain in progress, so that the
    // previous observer is not called once this returns.
    void set_observer(log_line_observer observer, void* context);
    void set_echo(bool on) noexcept { echo_.store(on); }
    void set_echo_time_stamp(bool on) noexcept { echo_time_stamp_.store(on); }
    // Makes `name` a full path (relative names lie in the current directory) and returns the
    // previous path; an empty name stops writing to a file. Throws when the name cannot be
    // converted.
    std::string set_file(const std::string& name);
    std::string file() const;
    // 0 turns the cap off.
    void set_size_cap(std::uint32_t bytes) noexcept { size_cap_.store(bytes); }
    void set_clock(log_clock clock) noexcept { clock_.store(clock); }

private:
    class flusher;
    enum writer_state : int { writer_idle, writer_starting, writer_running, writer_failed };

    void start_writer();
    void wake() noexcept;
    void drain() noexcept;
    void write_lines(vantor_stl::vector<std::string>& lines);
    void write_file(const std::wstring& path, vantor_stl::vector<std::string>& lines);
    bool drains_on_this_thread() const noexcept;

    // Queue state, under queue_lock_.
    critical_section queue_lock_;
    vantor_stl::vector<std::string> pending_;
    vantor_stl::vector<semaphore*> waiters_;

    win_handle port_;  // only wakes the writer thread
    std::atomic<int> writer_state_{writer_idle};
    std::unique_ptr<flusher> writer_;

    // Drain state, under drain_lock_.
    critical_section drain_lock_;
    std::atomic<DWORD> drain_thread_{0};
    log_line_observer observer_ = nullptr;
    void* observer_context_ = nullptr;
    log_repeat_folder folder_;
    std::wstring folded_path_;         // the file the folding state refers to
    std::int64_t folded_end_ = -1;     // that file's length after the last drain

    // Settings.
    std::atomic<bool> has_observer_{false};
    std::atomic<bool> echo_{true};
    std::atomic<bool> echo_time_stamp_{true};
    std::atomic<std::uint32_t> size_cap_{0};
    std::atomic<log_clock> clock_;
    mutable critical_section path_lock_;
    std::string path_;
};

}  // namespace vantor
