#pragma once
// Log lines: every source file writes through a log_context that names its channel. A line is
// the optional log tag, the channel name, ": " and the message. Inside the host every line goes
// to the host's log sink. Without a host (the helper processes) the local writer appends each
// line to the process's log file behind a UTC time stamp, escaping control bytes and folding
// repeated lines; a line observer, when installed, takes the lines instead of the file and the
// standard error stream.
#include <cstddef>
#include <cstdint>
#include <string>

#include "vantor/core/format.h"

namespace vantor {

// Lines of a higher level are dropped; every line of this system is emitted at level 0.
inline constexpr std::int32_t log_max_level = 0;

// One per call site or per object; the channel name is static text and the tag, when given,
// belongs to the object that logs and outlives the context. Any thread may log; logging never
// throws and never waits for the file.
class log_context {
public:
    constexpr explicit log_context(const char* name, const std::string* prefix = nullptr)
        : name_(name), prefix_(prefix)
    {
    }

    void write(const std::string& message) const noexcept { emit(0, message.data(), message.size()); }
    // The level gate and the line assembly: with no name (or an empty one) the line is the
    // text unchanged and the tag is not used either.
    void emit(std::int32_t level, const char* text, std::size_t length) const noexcept;

    // Formats a pre-encoded format (VANTOR_FMT) with the arguments and writes the line.
    template <std::size_t Pieces, typename... Args>
    void log(const format_detail::descriptor<Pieces>& d, const Args&... args) const noexcept
    {
        try {
            write(format(d, args...));
        } catch (...) {
            // Out of memory: the line is lost.
        }
    }

private:
    const char* name_;
    const std::string* prefix_;
};

// Hands one finished line on: to the host's log sink when there is one (a result of 0 means
// the sink took it), otherwise to the local writer.
void log_emit_line(const char* text, std::size_t length) noexcept;

// The local writer's receiver of every line (escaped) in place of the file and the error
// stream; null removes it. Once this returns, the previous observer is no longer called. Lines
// reach the observer before the emitting call returns, except lines that the observer itself
// emits, which follow with the next batch.
using log_line_observer = void (*)(const char* text, std::size_t length, void* context);
void set_log_line_observer(log_line_observer observer, void* context);

// Echo of local lines to the standard error stream: on until the foundation starts.
void set_log_echo(bool on);
// Whether the echo puts the time stamp and a blank in front of each line (on by default).
void set_log_echo_time_stamp(bool on);

// Makes the process's log file the full path of `name` (relative names lie in the current
// directory; an empty name writes no file) and returns the previous path. The helper processes
// call it with their file name ("kova_stream.out", ...) from the module's folder, then set the
// size cap.
std::string set_log_file(const std::string& name);

// The helper processes' cap of their log files; 0 (the default) means no cap. Past the cap a
// file keeps its newest half.
inline constexpr std::uint32_t helper_log_size_cap = 0x80000;
void set_log_size_cap(std::uint32_t bytes);

// Returns once every line emitted before the call has been handled: the host's flush when the
// host offers one, else the local writer's (at once when no line was ever written locally).
// It waits for the writer thread, so it must not be called while the loader lock is held.
void log_flush();
// The last step of every export entry of a helper process. The log file is open only while a
// batch is written, so flushing leaves nothing open.
void log_flush_at_exit();

// prefix + name + "." + number + " "; a non-empty prefix's last character (its blank) becomes
// ".". The number comes from the tagged class's own counter, taken with an atomic
// fetch-and-add, so that the first instance is 0.
std::string make_log_tag(const std::string& prefix, const char* name, unsigned number);

}  // namespace vantor
