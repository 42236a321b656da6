#pragma once
// Runs this test program again as a child process: only the given test (usually a disabled one
// that acts on the mode), with the mode in an environment variable and the child's output sent
// to NUL. Returns the child's exit code, 0 with a test failure when it cannot run or end.
#include <gtest/gtest.h>

#include <string>

#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

inline DWORD run_self_child(const wchar_t* test_filter, const wchar_t* mode_variable, const wchar_t* mode,
                            const wchar_t* extra_arguments = L"")
{
    wchar_t path[2048] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, 2048);
    EXPECT_GT(length, 0u);
    std::wstring command = L"\"" + std::wstring(path, length) + L"\" --gtest_filter=" + test_filter +
                           L" --gtest_also_run_disabled_tests" + extra_arguments;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    vantor::win_file_handle nul(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                            OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (nul) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = nul.get();
        si.hStdError = nul.get();
    }
    PROCESS_INFORMATION pi{};
    SetEnvironmentVariableW(mode_variable, mode);
    const BOOL created = CreateProcessW(nullptr, command.data(), nullptr, nullptr, nul ? TRUE : FALSE, 0, nullptr,
                                        nullptr, &si, &pi);
    SetEnvironmentVariableW(mode_variable, nullptr);
    if (!created) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return 0;
    }
    vantor::win_handle process(pi.hProcess);
    vantor::win_handle thread(pi.hThread);
    if (WaitForSingleObject(process.get(), 60000) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        ADD_FAILURE() << "the child did not end";
        return 0;
    }
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.get(), &code));
    return code;
}
