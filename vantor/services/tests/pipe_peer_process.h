#pragma once
// Starting the peer programs of the cross-process tests, which are built beside this test
// program.
#include <cstdint>
#include <string>

#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

namespace peer_test {

// The full path of a program in this test program's folder.
inline std::wstring beside_this_program(const std::wstring& file_name)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, n);
    return folder.substr(0, folder.find_last_of(L"\\/") + 1) + file_name;
}

struct peer_process {
    vantor::win_handle process;
    DWORD id = 0;

    // The exit code once the process ends within `timeout_ms`; STILL_ACTIVE otherwise.
    DWORD wait_exit(DWORD timeout_ms) const
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process.get(), timeout_ms) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process.get(), &code);
        }
        return code;
    }
};

// Starts `program` (a file beside this program) with `arguments`; the given handles (null for
// none) become its standard input and output and must be inheritable. The process object is
// empty when the start failed.
inline peer_process start_peer(const std::wstring& program, const std::wstring& arguments, HANDLE input,
                               HANDLE output)
{
    std::wstring path = beside_this_program(program);
    std::wstring command = L"\"" + path + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    peer_process peer;
    if (CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &info)) {
        CloseHandle(info.hThread);
        peer.process.reset(info.hProcess);
        peer.id = info.dwProcessId;
    }
    return peer;
}

// An anonymous pipe whose one end (`child_end_reads` chooses which) is inheritable.
struct inheritable_pipe {
    vantor::win_file_handle read;
    vantor::win_file_handle write;

    explicit inheritable_pipe(bool child_end_reads)
    {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE r = nullptr;
        HANDLE w = nullptr;
        if (CreatePipe(&r, &w, &inherit, 0)) {
            read.reset(r);
            write.reset(w);
            SetHandleInformation(child_end_reads ? w : r, HANDLE_FLAG_INHERIT, 0);
        }
    }
};

}  // namespace peer_test
