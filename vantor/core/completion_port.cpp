#include "vantor/core/completion_port.h"

#include "vantor/core/exception.h"
#include "vantor/core/log.h"

namespace vantor {
namespace {

constexpr log_context port_log{"native_port"};

}  // namespace

native_port::native_port() : port_(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0))
{
    if (!port_) {
        port_log.log(VANTOR_FMT("CreateIoCompletionPort failed: %1%"), last_error_message());
    }
}

native_port::native_port(no_port) noexcept {}

native_port::~native_port()
{
    post();
}

std::unique_ptr<native_port> native_port::without_port_for_testing()
{
    return std::unique_ptr<native_port>(new native_port(no_port{}));
}

void native_port::post() noexcept
{
    if (!port_) {
        return;
    }
    if (!PostQueuedCompletionStatus(port_.get(), 0, 0, nullptr)) {
        try {
            port_log.log(VANTOR_FMT("PostQueuedCompletionStatus failed: %1%"), last_error_message());
        } catch (...) {
        }
    }
}

void native_port::run()
{
    if (!port_) {
        throw exception("null IOCP handle");
    }
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    if (!GetQueuedCompletionStatus(port_.get(), &bytes, &key, &overlapped, INFINITE)) {
        throw exception::make_win32_error("GetQueuedCompletionStatus");
    }
}

}  // namespace vantor
