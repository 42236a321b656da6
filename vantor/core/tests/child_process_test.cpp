#include "vantor/core/child_process.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/tests/child_programs.h"
#include "vantor/core/win_handle.h"

namespace {

using args = vantor_stl::vector<std::string>;

std::string child() { return test_children::program("vantor_test_child.exe"); }

std::string error_text(const std::function<void()>& action)
{
    try {
        action();
    } catch (const vantor::exception& e) {
        return e.what();
    }
    return "(nothing raised)";
}

// The number of handles this process holds. Wine answers GetProcessHandleCount with 0, so the
// system's handle list is counted there.
DWORD handle_count()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) {
        return count;
    }
    struct handle_entry {
        ULONG owner;  // process id (16 bits and a zero back-trace index on Windows)
        UCHAR type;
        UCHAR flags;
        USHORT value;
        PVOID object;
        ACCESS_MASK access;
    };
    using query_fn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<query_fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    constexpr ULONG system_handle_information = 16;
    constexpr LONG length_mismatch = static_cast<LONG>(0xC0000004);
    std::vector<char> buffer(1 << 20);
    ULONG needed = 0;
    LONG status;
    while ((status = query(system_handle_information, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           length_mismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) {
        return 0;
    }
    const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entry = reinterpret_cast<const handle_entry*>(buffer.data() + sizeof(void*));
    for (ULONG k = 0; k < entries; ++k) {
        count += entry[k].owner == GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

// The process id that a sleeping child wrote, waiting up to 10 s for the file.
DWORD wait_for_pid(const test_children::scratch_folder& folder, const char* name)
{
    for (int k = 0; k < 1000; ++k) {
        std::string text = folder.read(name);
        if (!text.empty()) {
            return static_cast<DWORD>(std::stoul(text));
        }
        Sleep(10);
    }
    return 0;
}

// Waits up to 10 s for the process to be gone; its exit code when it could still be opened.
// A process that no handle keeps any longer cannot be opened, which also shows it has ended.
bool ended(DWORD pid, DWORD* exit_code)
{
    vantor::win_handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return true;
    }
    if (WaitForSingleObject(process.get(), 10000) != WAIT_OBJECT_0) {
        return false;
    }
    GetExitCodeProcess(process.get(), exit_code);
    return true;
}

TEST(run_process_and_wait, returns_the_exit_code)
{
    // 259 is also what GetExitCodeProcess answers while a process runs: a program that really
    // ends with it is reported with it.
    for (std::uint32_t code : {0u, 5u, 259u, 0xC0000135u}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(vantor::run_process_and_wait(child(), {"exit", std::to_string(code)}, 60), code);
    }
}

TEST(run_process_and_wait, arguments_reach_the_child_unchanged)
{
    test_children::scratch_folder folder{"vantor_child"};
    const args passed{"plain", "with blank", "", "say \"hi\"", "ends\\", "tab\there", "back\\\"slash"};
    args line{"args-to-file", folder.file("args.txt")};
    for (const std::string& a : passed) {
        line.push_back(a);
    }
    ASSERT_EQ(vantor::run_process_and_wait(child(), line, 60), 0u);
    std::string expected;
    for (const std::string& a : passed) {
        expected += a + "\n";
    }
    EXPECT_EQ(folder.read("args.txt"), expected);
}

TEST(run_process_and_wait, time_out_ends_the_child)
{
    test_children::scratch_folder folder{"vantor_child"};
    const std::string text =
        error_text([&] { vantor::run_process_and_wait(child(), {"sleep", "60000", folder.file("pid.txt")}, 1); });
    EXPECT_EQ(text, ":Error in line 261");
    const DWORD pid = wait_for_pid(folder, "pid.txt");
    ASSERT_NE(pid, 0u);
    DWORD code = 3;
    EXPECT_TRUE(ended(pid, &code));
    EXPECT_EQ(code, 3u);
}

TEST(run_process_and_wait, minus_one_returns_at_once_and_leaves_the_child_running)
{
    test_children::scratch_folder folder{"vantor_child"};
    EXPECT_EQ(vantor::run_process_and_wait(child(), {"sleep", "3000", folder.file("pid.txt")}, -1), 0u);
    const DWORD pid = wait_for_pid(folder, "pid.txt");
    ASSERT_NE(pid, 0u);
    vantor::win_handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    ASSERT_TRUE(process);
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_EQ(WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
}

TEST(run_process_and_wait, missing_program_is_a_windows_error)
{
    const std::string missing = test_children::program("no_such_program.exe");
    EXPECT_EQ(error_text([&] { vantor::run_process_and_wait(missing, {}, 5); }).rfind(":Error from 'CreateProcessW': 2, ", 0),
              0u);
    EXPECT_EQ(error_text([&] { vantor::child_process::construct_default(missing, {}); })
                  .rfind(":Error from 'CreateProcessW': 2, ", 0),
              0u);
}

TEST(child_process, no_handle_is_left_open_on_any_path)
{
    const std::string missing = test_children::program("no_such_program.exe");
    auto every_path = [&] {
        vantor::run_process_and_wait(child(), {"exit", "4"}, 60);
        error_text([&] { vantor::run_process_and_wait(child(), {"sleep", "60000"}, 0); });
        vantor::run_process_and_wait(child(), {"exit", "0"}, -1);
        error_text([&] { vantor::run_process_and_wait(missing, {}, 5); });
        error_text([&] { vantor::child_process::construct_default(missing, {}); });
        auto running = vantor::child_process::construct_default(child(), {"sleep", "60000"});
        auto finished = vantor::child_process::construct_default(child(), {"exit", "0"});
        finished->wait_exit_5s();
    };
    every_path();  // first use binds functions and loads what stays loaded
    const DWORD before = handle_count();
    ASSERT_NE(before, 0u) << "the handle count cannot be read here";
    every_path();
    EXPECT_EQ(handle_count(), before);
}

TEST(child_process, commands_reach_the_child_byte_for_byte)
{
    test_children::scratch_folder folder{"vantor_child"};
    auto child_process = vantor::child_process::construct_default(child(), {"stdin-to-file", folder.file("in.bin")});
    EXPECT_NE(child_process->pid(), 0u);
    EXPECT_FALSE(child_process->poll_exit());

    // Line ends, NUL and Ctrl+Z pass in binary mode; the large block spans many pipe writes
    // and reads.
    std::string sent("a\r\nb\n\0c\x1a d", 11);
    std::string block(300000, 'x');
    for (std::size_t k = 0; k < block.size(); ++k) {
        block[k] = static_cast<char>('a' + k % 26);
    }
    sent += block;
    child_process->write_all(sent.data(), 11);
    child_process->write_all(nullptr, 0);
    child_process->write_all(sent.data() + 11, sent.size() - 11);
    child_process->write_all("quit\n", 5);
    ASSERT_TRUE(child_process->wait_exit_5s());
    EXPECT_TRUE(child_process->poll_exit());
    EXPECT_EQ(folder.read("in.bin"), sent + "quit\n");
}

TEST(child_process, terminate_and_close)
{
    auto sleeper = vantor::child_process::construct_default(child(), {"sleep", "60000"});
    vantor::win_handle observed(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, sleeper->pid()));
    ASSERT_TRUE(observed);
    EXPECT_FALSE(sleeper->poll_exit());
    sleeper->terminate();
    EXPECT_TRUE(sleeper->poll_exit());
    ASSERT_EQ(WaitForSingleObject(observed.get(), 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(observed.get(), &code);
    EXPECT_EQ(code, 3u);

    sleeper->kill_and_close();
    EXPECT_EQ(error_text([&] { sleeper->write_all("x", 1); }), ":Error in line 859");

    // Destruction ends a child that still runs.
    auto second = vantor::child_process::construct_default(child(), {"sleep", "60000"});
    vantor::win_handle second_observed(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, second->pid()));
    ASSERT_TRUE(second_observed);
    second.reset();
    ASSERT_EQ(WaitForSingleObject(second_observed.get(), 10000), WAIT_OBJECT_0);
    GetExitCodeProcess(second_observed.get(), &code);
    EXPECT_EQ(code, 3u);
}

TEST(child_process, writing_to_an_ended_child_fails)
{
    auto finished = vantor::child_process::construct_default(child(), {"exit", "0"});
    ASSERT_TRUE(finished->wait_exit_5s());
    EXPECT_EQ(error_text([&] { finished->write_all("x", 1); }), ":Error in line 864");
}

TEST(child_process, inherits_only_its_standard_handles_unless_told)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    for (bool restrict : {true, false}) {
        SCOPED_TRACE(restrict ? "restricted" : "unrestricted");
        vantor::win_event event(CreateEventW(&inheritable, TRUE, FALSE, nullptr));
        ASSERT_TRUE(event);
        vantor::child_process::options launch;
        launch.restrict_inheritance = restrict;
        auto setter = vantor::child_process::construct(
            child(), {"set-event", std::to_string(reinterpret_cast<std::uintptr_t>(event.get()))}, launch);
        ASSERT_TRUE(setter->wait_exit_5s());
        EXPECT_EQ(WaitForSingleObject(event.get(), 0), restrict ? static_cast<DWORD>(WAIT_TIMEOUT) : WAIT_OBJECT_0);
    }
}

TEST(child_process, starts_as_the_user_of_a_token)
{
    HANDLE own = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &own));
    vantor::win_handle own_token(own);
    HANDLE primary = nullptr;
    ASSERT_TRUE(DuplicateTokenEx(own_token.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                                 &primary));
    vantor::win_handle token(primary);

    test_children::scratch_folder folder{"vantor_child"};
    vantor::child_process::options launch;
    launch.user_token = token.get();
    auto child_process = vantor::child_process::construct(child(), {"stdin-to-file", folder.file("in.txt")}, launch);
    child_process->write_all("hello quit\n", 11);
    ASSERT_TRUE(child_process->wait_exit_5s());
    EXPECT_EQ(folder.read("in.txt"), "hello quit\n");
}

TEST(read_stdin_chunk, end_of_input_leaves_the_buffer_unchanged)
{
    // The child reads through a pipe whose writer this test closes; it ends with 0 only when the
    // read that reported the end left its buffer as it was.
    test_children::scratch_folder folder{"vantor_child"};
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    ASSERT_TRUE(CreatePipe(&read_end, &write_end, &inheritable, 0));
    vantor::win_file_handle child_input(read_end);
    vantor::win_file_handle writer(write_end);
    SetHandleInformation(writer.get(), HANDLE_FLAG_INHERIT, 0);

    std::wstring command = vantor::to_wide(vantor::encoding_utf8, "\"" + child() + "\" stdin-to-file \"" +
                                                                      folder.file("in.txt") + "\"");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_input.get();
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION created{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &created));
    vantor::win_handle process(created.hProcess);
    vantor::win_handle thread(created.hThread);
    child_input.reset();

    DWORD written = 0;
    ASSERT_TRUE(WriteFile(writer.get(), "abc\r\n", 5, &written, nullptr));
    writer.reset();
    ASSERT_EQ(WaitForSingleObject(process.get(), 20000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(folder.read("in.txt"), "abc\r\n");
}

}  // namespace
