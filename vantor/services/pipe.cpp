#include "vantor/services/pipe.h"

#include <cstdio>
#include <vector>

#include "vantor/core/clock.h"
#include "vantor/core/format.h"
#include "vantor/core/log.h"
#include "vantor/core/stringstream.h"
#include "vantor/core/windows_version.h"

namespace vantor {

std::string ipc_pipe_name_in_session(const std::string& name, bool user_scope, std::uint32_t session)
{
    if (!user_scope) {
        return "\\\\?\\pipe\\ipc2_" + name;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(session));
    return "\\\\?\\pipe\\ipc3_" + std::string(hex) + "_" + name;
}

std::string ipc_pipe_name(const std::string& name, bool user_scope)
{
    DWORD session = 0;
    if (user_scope && !ProcessIdToSessionId(GetCurrentProcessId(), &session)) {
        session = 0;
    }
    return ipc_pipe_name_in_session(name, user_scope, session);
}

bool pipe_read_message(HANDLE pipe, std::string& text)
{
    std::vector<char> buffer(pipe_message_limit);
    DWORD got = 0;
    if (!ReadFile(pipe, buffer.data(), pipe_message_limit, &got, nullptr) || got == 0) {
        return false;
    }
    text.assign(buffer.data(), got);
    return true;
}

bool pipe_write_message(HANDLE pipe, const std::string& text)
{
    DWORD written = 0;
    BOOL ok = WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    DWORD error = GetLastError();
    FlushFileBuffers(pipe);
    SetLastError(error);
    return ok && written == text.size();
}

}  // namespace vantor

namespace ipc_priv {
namespace {

const vantor::log_context server_log{"ipc_priv::init_ipc_server"};
const vantor::log_context client_log{"ipc_priv::init_ipc_client"};

}  // namespace

vantor::win_file_handle init_ipc_server(const std::string& path, SECURITY_ATTRIBUTES* security,
                                        bool overlapped)
{
    DWORD open_mode = PIPE_ACCESS_DUPLEX | (overlapped ? FILE_FLAG_OVERLAPPED : 0);
    DWORD pipe_mode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;
    if (vantor::windows_at_least_vista()) {
        pipe_mode |= PIPE_REJECT_REMOTE_CLIENTS;
    }
    vantor::win_file_handle pipe(CreateNamedPipeA(path.c_str(), open_mode, pipe_mode,
                                                  PIPE_UNLIMITED_INSTANCES, vantor::pipe_message_limit,
                                                  vantor::pipe_message_limit, 0, security));
    DWORD error = GetLastError();
    vantor::packed_format line(VANTOR_FMT("new pipe %2% (%1%) %3%"));
    line.add_pointer(pipe.valid() ? pipe.get() : nullptr);
    line.add_arg(path);
    line.add_arg(static_cast<unsigned long>(error));
    server_log.write(line.render());
    SetLastError(error);
    return pipe;
}

vantor::win_file_handle init_ipc_client(const std::string& path, bool synchronous)
{
    std::int64_t start = vantor::monotonic_ms();
    DWORD flags = FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS;
    if (!synchronous) {
        flags |= FILE_FLAG_OVERLAPPED;
    }
    for (;;) {
        vantor::win_file_handle pipe(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                 OPEN_EXISTING, flags, nullptr));
        if (pipe.valid()) {
            return pipe;
        }
        DWORD error = GetLastError();
        if (error != ERROR_PIPE_BUSY) {
            client_log.log(VANTOR_FMT("pipe %1% error1: 0x%2%"), path, vantor::hex_text(error));
            SetLastError(error);
            return {};
        }
        Sleep(20);
        if (!WaitNamedPipeA(path.c_str(), NMPWAIT_USE_DEFAULT_WAIT)) {
            DWORD wait_error = GetLastError();
            if (wait_error == 0 || wait_error == ERROR_FILE_NOT_FOUND) {
                return {};
            }
        }
        if (vantor::monotonic_ms() - start > vantor::pipe_busy_wait_ms) {
            SetLastError(ERROR_PIPE_BUSY);
            return {};
        }
    }
}

}  // namespace ipc_priv
