#pragma once
// The one exception type of the foundation and the engine, and the fixed ways in which
// failure texts are composed.
#include <exception>
#include <string>

namespace vantor_stl {

class stringstream;

// Base of every foundation exception; its own text is empty.
class exception {
public:
    virtual ~exception() = default;
    virtual const char* what() const noexcept { return ""; }
};

}  // namespace vantor_stl

namespace vantor {

// Text = message followed by everything written to the message stream. Reading the text
// (what, or a copy) moves the stream's text onto the message and drops the stream.
class exception : public vantor_stl::exception {
public:
    exception();  // message ":"
    explicit exception(const char* message);
    explicit exception(const std::string& message);
    explicit exception(std::string&& message);
    exception(const exception& other);
    exception(exception&& other) noexcept;
    exception& operator=(const exception& other);
    exception& operator=(exception&& other) noexcept;
    ~exception() override;

    const char* what() const noexcept override;
    // The message stream, created empty on first use.
    vantor_stl::stringstream& stream();
    // Appends through the stream and returns *this, for building texts in one expression.
    template <typename T>
    exception& operator<<(const T& value);

    static exception make_win32_error(const char* function);
    static exception make_win32_error_for(const char* function, const std::string& context);
    // The exception of a wait whose time ran out: "/timeout".
    static exception make_timeout();

private:
    void flush() const noexcept;

    mutable std::string message_;
    mutable vantor_stl::stringstream* stream_ = nullptr;
};

// The text of an exception for a log line: what() of a vantor::exception or a std::exception,
// "unknown exception" for anything else. The first form must be called inside a catch block.
std::string current_exception_text();
std::string exception_text(std::exception_ptr e);

// A broken internal invariant: the text is ":Error in line " and the check's line number.
exception internal_error(int line);

// The system's message for the calling thread's last error, without trailing line ends; the
// code in decimal when the system has none.
std::string last_error_message();
std::string last_error_message(unsigned long code);

// Throws `message` + ", function: " + function (when given) + ", error: 0x" + last error (hex).
[[noreturn]] void raise_win32_error(const char* function, const std::string& message);

// The runtime library's text for an errno value, or "".
std::string errno_text(int value);

// Throws domain + ":" + detail, the detail expanded as a var_text with no variables.
[[noreturn]] void throw_error_at(const char* domain, const std::string& detail);

}  // namespace vantor

#include "vantor/core/stringstream.h"

template <typename T>
vantor::exception& vantor::exception::operator<<(const T& value)
{
    stream() << value;
    return *this;
}
