#pragma once
// Log lines: every source file writes through a log_context that names its channel. A line is
// the optional log tag, the channel name, ": " and the message. Inside the host every line goes
// to the host's log sink; otherwise to the line observer when one is installed, else to the
// standard error stream while the echo is on.
#include <atomic>
#include <cstdint>
#include <string>

#include "vantor/core/format.h"

namespace vantor {

class log_context {
public:
    constexpr explicit log_context(const char* name, const std::string* prefix = nullptr)
        : name_(name), prefix_(prefix)
    {
    }

    void write(const std::string& message) const { emit(0, message.data(), message.size()); }
    void emit(std::int32_t level, const char* text, std::size_t length) const;

    // Formats a pre-encoded format (VANTOR_FMT) with the arguments and writes the line.
    template <std::size_t Pieces, typename... Args>
    void log(const format_detail::descriptor<Pieces>& d, const Args&... args) const
    {
        write(format(d, args...));
    }

private:
    const char* name_;
    const std::string* prefix_;
};

// Hands one finished line on (host sink, observer or error stream).
void log_emit_line(const char* text, std::size_t length);

// A per-process receiver of every line in place of the local output; null removes it.
using log_line_observer = void (*)(const char* text, std::size_t length, void* context);
void set_log_line_observer(log_line_observer observer, void* context);

// Echo of local lines to the standard error stream (on until the foundation starts).
void set_log_echo(bool on);

// prefix + name + "." + number + " "; a non-empty prefix's trailing character becomes ".".
std::string make_log_tag(const std::string& prefix, const char* name, unsigned number);

}  // namespace vantor
