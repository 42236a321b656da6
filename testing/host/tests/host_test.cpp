// Loads the real plug-in DLLs into the test host program, one process per start, and checks
// what the plug-ins report back through the host.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vantor/core/win_api.h"

namespace {

std::wstring own_folder()
{
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/") + 1);
}

std::wstring plugin_path(const wchar_t* name)
{
    const std::wstring folder = std::wstring(name) == L"desk_module.dll" ? L"desktop" : L"file_transfer";
    return own_folder() + L"..\\..\\plugins\\" + folder + L"\\" + name;
}

// Runs the test host and returns its standard output split into lines.
std::vector<std::string> run_host(const std::wstring& dll, const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &sa, 0)) return {"pipe failed"};
    SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write_end;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    const std::wstring exe = own_folder() + L"kova_test_host.exe";
    std::wstring command = L"\"" + exe + L"\" \"" + dll + L"\" " + arguments;
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &si, &pi);
    CloseHandle(write_end);
    if (!started) {
        CloseHandle(read_end);
        return {"start failed"};
    }
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read_end, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
    CloseHandle(read_end);
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < out.size()) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool has(const std::vector<std::string>& lines, const std::string& wanted)
{
    for (const auto& l : lines) {
        if (l == wanted) return true;
    }
    return false;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string s;
    for (const auto& l : lines) s += l + "\n";
    return s;
}

class PluginStart : public testing::TestWithParam<const wchar_t*> {};

TEST_P(PluginStart, OldTablesAreRefusedWithTheReasonInTheHostLog)
{
    for (int version : {-1, 15}) {
        const auto out = run_host(plugin_path(GetParam()), std::to_wstring(version));
        EXPECT_TRUE(has(out, "result: 1")) << joined(out);
        EXPECT_TRUE(has(out, "log: vantor::init: invalid api provided (want=16, got=" + std::to_string(version) + ")"))
            << joined(out);
    }
}

TEST_P(PluginStart, CurrentTableStartsOnceAndAsksForItsInterfaces)
{
    const auto out = run_host(plugin_path(GetParam()), L"16 twice");
    EXPECT_TRUE(has(out, "result: 0")) << joined(out);
    EXPECT_TRUE(has(out, "second: 1")) << "a second start is refused\n" << joined(out);
    EXPECT_TRUE(has(out, "call: find_interface vantor_flag_api")) << joined(out);
    EXPECT_TRUE(has(out, "call: find_interface metrics_ifc")) << joined(out);

    const auto old_abi = run_host(plugin_path(GetParam()), L"24 abi=8");
    EXPECT_TRUE(has(old_abi, "result: 0")) << joined(old_abi);
    for (const auto& line : old_abi) EXPECT_EQ(line.rfind("call: find_interface", 0), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(BothPlugins, PluginStart, testing::Values(L"desk_module.dll", L"transfer_module.dll"));

}  // namespace
