#include "vantor/core/log.h"

#include <cstdio>
#include <mutex>

#include "vantor/core/host_hooks.h"

namespace vantor {
namespace {

struct local_output {
    std::mutex lock;
    log_line_observer observer = nullptr;
    void* context = nullptr;
    bool echo = true;
};

local_output& output()
{
    static local_output out;
    return out;
}

}  // namespace

void log_context::emit(std::int32_t level, const char* text, std::size_t length) const
{
    if (level > 0) {
        return;
    }
    if (name_ == nullptr || name_[0] == '\0') {
        log_emit_line(text, length);
        return;
    }
    std::string line;
    if (prefix_ != nullptr) {
        line = *prefix_;
    }
    line += name_;
    line += ": ";
    line.append(text, length);
    log_emit_line(line.data(), line.size());
}

void log_emit_line(const char* text, std::size_t length)
{
    if (auto sink = host().log_sink; sink != nullptr) {
        if (sink(text, static_cast<std::int32_t>(length)) == 0) {
            return;
        }
    }
    local_output& out = output();
    std::lock_guard<std::mutex> guard(out.lock);
    if (out.observer != nullptr) {
        out.observer(text, length, out.context);
    } else if (out.echo) {
        std::fprintf(stderr, "%.*s\n", static_cast<int>(length), text);
    }
}

void set_log_line_observer(log_line_observer observer, void* context)
{
    local_output& out = output();
    std::lock_guard<std::mutex> guard(out.lock);
    out.observer = observer;
    out.context = context;
}

void set_log_echo(bool on)
{
    local_output& out = output();
    std::lock_guard<std::mutex> guard(out.lock);
    out.echo = on;
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
