#include "vantor/core/log_dumper.h"

#include <cstdio>

#include "vantor/core/clock.h"
#include "vantor/core/semaphore.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/thread.h"

namespace vantor {
namespace {

// Completion keys of the writer's port.
constexpr ULONG_PTR wake_key = 1;
constexpr ULONG_PTR stop_key = 2;

constexpr int utf8 = 3;

std::atomic<log_dumper*> process_dumper{nullptr};

std::wstring full_path_of(const std::wstring& name)
{
    DWORD needed = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return name;
    }
    std::wstring full(needed, L'\0');
    DWORD length = GetFullPathNameW(name.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return name;
    }
    full.resize(length);
    return full;
}

}  // namespace

// The writer thread: waits for a wake-up on the port, then drains. Unnamed, normal priority.
class log_dumper::flusher : public thread {
public:
    explicit flusher(log_dumper& owner) : thread(false), owner_(owner) {}
    ~flusher() override { join(); }

private:
    void run() override
    {
        for (;;) {
            DWORD bytes = 0;
            ULONG_PTR key = 0;
            OVERLAPPED* overlapped = nullptr;
            if (!GetQueuedCompletionStatus(owner_.port_.get(), &bytes, &key, &overlapped, INFINITE)) {
                // Only a closed port fails a wait without a time-out; nothing can wake us then.
                return;
            }
            if (key == stop_key) {
                owner_.drain();
                return;
            }
            owner_.drain();
        }
    }

    log_dumper& owner_;
};

log_dumper::log_dumper() : clock_(&now_ms)
{
    port_.reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0));
    if (!port_) {
        // Without a port the writer thread could never be woken; lines are then written by the
        // threads that emit them.
        writer_state_.store(writer_failed);
    }
}

log_dumper::~log_dumper()
{
    if (writer_) {
        PostQueuedCompletionStatus(port_.get(), 0, stop_key, nullptr);
        writer_.reset();
    }
}

log_dumper& log_dumper::instance()
{
    static log_dumper* const dumper = [] {
        auto* d = new log_dumper();
        process_dumper.store(d);
        return d;
    }();
    return *dumper;
}

log_dumper* log_dumper::existing() noexcept
{
    return process_dumper.load();
}

bool log_dumper::drains_on_this_thread() const noexcept
{
    return drain_thread_.load() == GetCurrentThreadId();
}

void log_dumper::enqueue(std::string line)
{
    // A line emitted by the observer while this thread drains waits for the next drain; draining
    // it here would re-enter the batch being written.
    const bool nested = drains_on_this_thread();
    const bool self_drain = !nested && (has_observer_.load() || writer_state_.load() == writer_failed);
    bool first = false;
    {
        cs_lock guard(queue_lock_.get());
        first = pending_.empty() && waiters_.empty();
        pending_.emplace_back(std::move(line));
    }
    if (self_drain) {
        drain();
        return;
    }
    if (first) {
        wake();
    }
    start_writer();
    if (writer_state_.load() == writer_failed && !nested) {
        drain();
    }
}

void log_dumper::start_writer()
{
    int expected = writer_idle;
    if (!writer_state_.compare_exchange_strong(expected, writer_starting)) {
        return;
    }
    // Nothing here waits for the new thread: the queued lines and the wake-up packet wait in
    // the port until it runs. A failed start logs through this writer, which then only queues.
    try {
        auto t = std::make_unique<flusher>(*this);
        t->start(0);
        writer_ = std::move(t);
        writer_state_.store(writer_running);
    } catch (...) {
        writer_state_.store(writer_failed);
    }
}

void log_dumper::wake() noexcept
{
    if (port_) {
        PostQueuedCompletionStatus(port_.get(), 0, wake_key, nullptr);
    }
}

void log_dumper::flush()
{
    if (drains_on_this_thread()) {
        return;
    }
    const int state = writer_state_.load();
    if (state != writer_starting && state != writer_running) {
        // No writer thread: whatever is queued is written here.
        drain();
        return;
    }
    semaphore done(0x7fffffff, 0);
    bool first = false;
    {
        cs_lock guard(queue_lock_.get());
        first = pending_.empty() && waiters_.empty();
        waiters_.push_back(&done);
    }
    if (first) {
        wake();
    }
    done.wait();
    // The writer releases the waiters under the queue lock; passing through it makes sure that
    // it has finished with the semaphore before it is destroyed.
    cs_lock pass(queue_lock_.get());
}

void log_dumper::set_observer(log_line_observer observer, void* context)
{
    cs_lock guard(drain_lock_.get());
    observer_ = observer;
    observer_context_ = context;
    has_observer_.store(observer != nullptr);
}

std::string log_dumper::set_file(const std::string& name)
{
    std::string full;
    if (!name.empty()) {
        full = from_wide(utf8, full_path_of(to_wide(utf8, name)));
    }
    cs_lock guard(path_lock_.get());
    std::swap(path_, full);
    return full;
}

std::string log_dumper::file() const
{
    cs_lock guard(path_lock_.get());
    return path_;
}

void log_dumper::drain() noexcept
{
    cs_lock guard(drain_lock_.get());
    drain_thread_.store(GetCurrentThreadId());
    vantor_stl::vector<std::string> lines;
    vantor_stl::vector<semaphore*> waiters;
    {
        cs_lock queue_guard(queue_lock_.get());
        lines.swap(pending_);
        waiters.swap(waiters_);
    }
    if (!lines.empty()) {
        try {
            write_lines(lines);
        } catch (...) {
            // Out of memory: the rest of the batch is lost.
        }
    }
    drain_thread_.store(0);
    if (!waiters.empty()) {
        cs_lock queue_guard(queue_lock_.get());
        for (semaphore* s : waiters) {
            try {
                s->release();
            } catch (...) {
                // A semaphore at its maximum is already released.
            }
        }
    }
}

void log_dumper::write_lines(vantor_stl::vector<std::string>& lines)
{
    if (observer_ != nullptr) {
        for (const std::string& line : lines) {
            try {
                std::string escaped = escape_log_line(line);
                observer_(escaped.data(), escaped.size(), observer_context_);
            } catch (...) {
                // The line is lost; the next one is handled.
            }
        }
        return;
    }
    std::wstring path;
    try {
        std::string narrow = file();
        if (!narrow.empty()) {
            path = to_wide(utf8, narrow);
        }
    } catch (...) {
        path.clear();
    }
    if (!path.empty()) {
        write_file(path, lines);
    }
    if (echo_.load()) {
        const bool stamped = echo_time_stamp_.load();
        for (const std::string& line : lines) {
            try {
                std::string escaped = escape_log_line(line);
                if (stamped) {
                    std::string stamp = log_time_stamp(clock_.load());
                    std::fprintf(stderr, "%s %s\n", stamp.c_str(), escaped.c_str());
                } else {
                    std::fprintf(stderr, "%s\n", escaped.c_str());
                }
            } catch (...) {
                // The line is lost; the next one is handled.
            }
        }
    }
}

void log_dumper::write_file(const std::wstring& path, vantor_stl::vector<std::string>& lines)
{
    win_file_handle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    try {
        // A counter line rewrites the end of the file in place, so folding may only go on in
        // the file that holds the folded record, and only while nobody else has changed its
        // length (another path, a removed or truncated file, another writer).
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file.get(), &size) || path != folded_path_ || size.QuadPart != folded_end_) {
            folder_.reset();
        }
        folded_path_ = path;
        folded_end_ = -1;
        std::int64_t end = size.QuadPart;

        // The records of a batch are collected and written with one call, up to 64 KiB at a
        // time. A counter line that is rewritten lies at the end of what is collected, or, when
        // nothing is collected yet, at the end of the file.
        std::string pending;
        std::uint32_t file_seek_back = 0;
        auto write_pending = [&] {
            if (!pending.empty() || file_seek_back != 0) {
                end = write_log_bytes(file.get(), pending, file_seek_back);
                pending.clear();
                file_seek_back = 0;
            }
        };
        const log_clock clock = clock_.load();
        for (const std::string& line : lines) {
            try {
                std::string stamp = log_time_stamp(clock);
                std::string record = stamp;
                record += ' ';
                record += escape_log_line(line);
                record += "\r\n";
                log_repeat_folder::output out = folder_.fold(record, stamp.size());
                if (out.seek_back > pending.size()) {
                    write_pending();
                    file_seek_back = out.seek_back;
                } else {
                    pending.resize(pending.size() - out.seek_back);
                }
                pending.append(out.bytes);
                if (pending.size() >= 64 * 1024) {
                    write_pending();
                }
            } catch (...) {
                // The line, or the records collected with it, are lost. What reached the file is
                // unknown, so no later line may be folded into it.
                pending.clear();
                file_seek_back = 0;
                folder_.reset();
            }
        }
        write_pending();
        if (std::uint32_t cap = size_cap_.load(); cap != 0) {
            end = cap_log_file(file.get(), path, cap);
        }
        folded_end_ = end;
    } catch (...) {
        folder_.reset();
    }
}

}  // namespace vantor
