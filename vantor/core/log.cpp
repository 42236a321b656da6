#include "vantor/core/log.h"

#include "vantor/core/host_hooks.h"
#include "vantor/core/log_dumper.h"

namespace vantor {

void log_context::emit(std::int32_t level, const char* text, std::size_t length) const noexcept
{
    if (level > log_max_level) {
        return;
    }
    if (name_ == nullptr || name_[0] == '\0') {
        log_emit_line(text, length);
        return;
    }
    try {
        std::string line;
        if (prefix_ != nullptr) {
            line = *prefix_;
        }
        line += name_;
        line += ": ";
        line.append(text, length);
        log_emit_line(line.data(), line.size());
    } catch (...) {
        // Out of memory: the line is lost.
    }
}

void log_emit_line(const char* text, std::size_t length) noexcept
{
    if (auto sink = host().log_sink; sink != nullptr) {
        if (sink(text, static_cast<std::int32_t>(length)) == 0) {
            return;
        }
    }
    try {
        log_dumper::instance().enqueue(std::string(text, length));
    } catch (...) {
        // Out of memory: the line is lost.
    }
}

void set_log_line_observer(log_line_observer observer, void* context)
{
    log_dumper::instance().set_observer(observer, context);
}

void set_log_echo(bool on)
{
    log_dumper::instance().set_echo(on);
}

void set_log_echo_time_stamp(bool on)
{
    log_dumper::instance().set_echo_time_stamp(on);
}

std::string set_log_file(const std::string& name)
{
    return log_dumper::instance().set_file(name);
}

void set_log_size_cap(std::uint32_t bytes)
{
    log_dumper::instance().set_size_cap(bytes);
}

void log_flush()
{
    if (auto host_flush = host().log_flush; host_flush != nullptr) {
        host_flush();
        return;
    }
    if (log_dumper* d = log_dumper::existing(); d != nullptr) {
        d->flush();
    }
}

void log_flush_at_exit()
{
    log_flush();
}

std::string make_log_tag(const std::string& prefix, const char* name, unsigned number)
{
    std::string tag = prefix;
    if (!tag.empty()) {
        tag.back() = '.';
    }
    tag += name;
    tag += '.';
    tag += std::to_string(number);
    tag += ' ';
    return tag;
}

}  // namespace vantor
