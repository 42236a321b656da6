#include "vantor/core/exception.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include "vantor/core/stringstream.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/var_text.h"
#include "vantor/core/win_api.h"

namespace vantor {

exception::exception() : message_(":") {}
exception::exception(const char* message) : message_(message) {}
exception::exception(const std::string& message) : message_(message) {}
exception::exception(std::string&& message) : message_(std::move(message)) {}

exception::exception(const exception& other) : vantor_stl::exception(other)
{
    other.flush();
    message_ = other.message_;
}

exception::exception(exception&& other) noexcept
    : message_(std::move(other.message_)), stream_(std::exchange(other.stream_, nullptr))
{
}

exception& exception::operator=(const exception& other)
{
    if (this != &other) {
        other.flush();
        std::string text = other.message_;
        delete stream_;
        stream_ = nullptr;
        message_ = std::move(text);
    }
    return *this;
}

exception& exception::operator=(exception&& other) noexcept
{
    if (this != &other) {
        delete stream_;
        message_ = std::move(other.message_);
        stream_ = std::exchange(other.stream_, nullptr);
    }
    return *this;
}

exception::~exception() { delete stream_; }

void exception::flush() const noexcept
{
    if (stream_ != nullptr) {
        try {
            message_ += stream_->str();
        } catch (...) {
            // Out of memory while joining: the message keeps what it had.
        }
        delete stream_;
        stream_ = nullptr;
    }
}

const char* exception::what() const noexcept
{
    flush();
    return message_.c_str();
}

vantor_stl::stringstream& exception::stream()
{
    if (stream_ == nullptr) {
        stream_ = new vantor_stl::stringstream;
    }
    return *stream_;
}

exception exception::make_win32_error(const char* function)
{
    DWORD code = GetLastError();
    exception e;
    e << "Error from '" << function << "': " << static_cast<unsigned long>(code) << ", "
      << last_error_message(code);
    return e;
}

exception exception::make_timeout()
{
    return exception("/timeout");
}

exception exception::make_win32_error_for(const char* function, const std::string& context)
{
    DWORD code = GetLastError();
    exception e;
    e << "Error from '" << function << "': [" << context << "] " << static_cast<unsigned long>(code)
      << ", " << last_error_message(code);
    return e;
}

exception internal_error(int line)
{
    exception e;
    e << "Error in line " << line;
    return e;
}

std::string last_error_message() { return last_error_message(GetLastError()); }

std::string last_error_message(unsigned long code)
{
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_ALLOCATE_BUFFER,
                             nullptr, code, 0x400, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (n == 0 || buffer == nullptr) {
        return decimal_text(static_cast<long long>(static_cast<long>(code)));
    }
    std::wstring wide(buffer, n);
    LocalFree(buffer);
    std::string text = from_wide(encoding_utf8, wide);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    return text;
}

void raise_win32_error(const char* function, const std::string& message)
{
    DWORD code = GetLastError();
    exception e(message);
    if (function != nullptr) {
        e << ", function: " << function;
    }
    e << ", error: 0x" << hex_text(code);
    throw e;
}

std::string errno_text(int value)
{
    const char* text = std::strerror(value);
    return text != nullptr ? std::string(text) : std::string();
}

void throw_error_at(const char* domain, const std::string& detail)
{
    var_text v;
    v.assign(detail);
    throw exception(std::string(domain) + ":" + v.expand());
}

std::string exception_text(std::exception_ptr e)
{
    try {
        std::rethrow_exception(e);
    } catch (const exception& x) {
        return x.what();
    } catch (const std::exception& x) {
        return x.what();
    } catch (...) {
        return "unknown exception";
    }
}

std::string current_exception_text() { return exception_text(std::current_exception()); }

}  // namespace vantor
