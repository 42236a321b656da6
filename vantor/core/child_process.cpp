#include "vantor/core/child_process.h"

#include <fcntl.h>
#include <io.h>

#include <vector>

#include "vantor/core/child_process_command.h"
#include "vantor/core/exception.h"
#include "vantor/core/locks.h"
#include "vantor/core/log.h"
#include "vantor/core/netbuf.h"
#include "vantor/core/text_convert.h"

namespace vantor {
namespace {

constexpr log_context child_log{"child process"};

constexpr UINT terminated_exit_code = 3;
constexpr DWORD voluntary_end_wait_ms = 5000;
constexpr unsigned stdin_chunk_size = 8192;

// Holds the global lock for a scope: starts of children are serialised, so that no other start
// hands our inheritable pipe ends to its child.
class global_lock_scope {
public:
    global_lock_scope() { global_lock::lock(); }
    global_lock_scope(const global_lock_scope&) = delete;
    global_lock_scope& operator=(const global_lock_scope&) = delete;
    ~global_lock_scope() { global_unlock_nothrow(); }
};

// The proc-thread attribute functions, bound from "Kernel32.dll" once per process; all three or
// none.
struct attribute_functions {
    decltype(&InitializeProcThreadAttributeList) initialize = nullptr;
    decltype(&UpdateProcThreadAttribute) update = nullptr;
    decltype(&DeleteProcThreadAttributeList) remove = nullptr;

    bool bound() const noexcept { return initialize != nullptr && update != nullptr && remove != nullptr; }
};

const attribute_functions& proc_thread_attribute_functions()
{
    static const attribute_functions functions = [] {
        attribute_functions f;
        HMODULE kernel = GetModuleHandleW(L"Kernel32.dll");
        if (kernel == nullptr) {
            return f;
        }
        auto lookup = [kernel](const char* name) { return reinterpret_cast<void*>(GetProcAddress(kernel, name)); };
        f.initialize = reinterpret_cast<decltype(f.initialize)>(lookup("InitializeProcThreadAttributeList"));
        f.update = reinterpret_cast<decltype(f.update)>(lookup("UpdateProcThreadAttribute"));
        f.remove = reinterpret_cast<decltype(f.remove)>(lookup("DeleteProcThreadAttributeList"));
        if (!f.bound()) {
            f = attribute_functions{};
        }
        return f;
    }();
    return functions;
}

// An attribute list holding one handle list. The handle array must outlive the process start.
class proc_thread_attributes {
public:
    proc_thread_attributes() = default;
    proc_thread_attributes(const proc_thread_attributes&) = delete;
    proc_thread_attributes& operator=(const proc_thread_attributes&) = delete;
    ~proc_thread_attributes()
    {
        if (list_ != nullptr) {
            proc_thread_attribute_functions().remove(list_);
        }
    }

    // Builds the list with the handle-list attribute. False (and no list) when the functions are
    // missing or a step fails: the child then inherits every inheritable handle.
    bool set_handle_list(HANDLE* handles, std::size_t count)
    {
        const attribute_functions& f = proc_thread_attribute_functions();
        if (!f.bound()) {
            return false;
        }
        SIZE_T size = 0;
        if (f.initialize(nullptr, 1, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
            return false;
        }
        storage_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!f.initialize(list, 1, 0, &size)) {
            child_log.log(VANTOR_FMT("attribute list not initialised: %1%"), static_cast<unsigned long>(GetLastError()));
            return false;
        }
        list_ = list;
        if (!f.update(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE), nullptr,
                      nullptr)) {
            child_log.log(VANTOR_FMT("handle list not set: %1%"), static_cast<unsigned long>(GetLastError()));
            return false;
        }
        return true;
    }

    LPPROC_THREAD_ATTRIBUTE_LIST list() const noexcept { return list_; }

private:
    std::vector<unsigned char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

// One pipe: `child_end` stays inheritable for the child; the parent's end is duplicated as a
// non-inheritable handle and the inheritable original is closed.
void make_pipe(bool parent_writes, win_file_handle& child_end, win_file_handle& parent_end, int create_error,
               int duplicate_error)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) {
        throw internal_error(create_error);
    }
    win_file_handle reader(read_end);
    win_file_handle writer(write_end);
    win_file_handle& parent_inheritable = parent_writes ? writer : reader;
    HANDLE duplicate = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), parent_inheritable.get(), GetCurrentProcess(), &duplicate, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        throw internal_error(duplicate_error);
    }
    parent_end.reset(duplicate);
    child_end = std::move(parent_writes ? reader : writer);
}

// The time-out in milliseconds for a wait. -1 is handled by the caller; any other negative value
// and values past the largest finite wait give the largest finite wait.
DWORD wait_milliseconds(std::int64_t timeout_seconds)
{
    constexpr std::int64_t longest = 0xFFFFFFFE;
    if (timeout_seconds < 0 || timeout_seconds > longest / 1000) {
        return static_cast<DWORD>(longest);
    }
    return static_cast<DWORD>(timeout_seconds * 1000);
}

void terminate_logged(HANDLE process)
{
    // A process that has just ended refuses termination (access denied); nothing is left to do.
    if (!TerminateProcess(process, terminated_exit_code)) {
        child_log.log(VANTOR_FMT("TerminateProcess failed: %1%"), static_cast<unsigned long>(GetLastError()));
    }
}

}  // namespace

const child_process::options child_process::options_default{};

std::unique_ptr<child_process> child_process::construct_default(const std::string& program_path,
                                                                const vantor_stl::vector<std::string>& arguments)
{
    return construct(program_path, arguments, options_default);
}

std::unique_ptr<child_process> child_process::construct(const std::string& program_path,
                                                        const vantor_stl::vector<std::string>& arguments,
                                                        const options& launch)
{
    std::unique_ptr<child_process> child(new child_process());
    child->start(program_path, arguments, launch);
    return child;
}

child_process::~child_process() { kill_and_close(); }

void child_process::start(const std::string& program_path, const vantor_stl::vector<std::string>& arguments,
                          const options& launch)
{
    std::wstring program = to_wide(encoding_utf8, program_path);
    std::wstring command = child_command_line(program_path, arguments);

    global_lock_scope serialised;
    win_file_handle child_stdin;
    win_file_handle parent_stdin;
    make_pipe(true, child_stdin, parent_stdin, 502, 513);
    win_file_handle child_stdout;
    win_file_handle parent_stdout;
    make_pipe(false, child_stdout, parent_stdout, 519, 530);

    win_file_handle child_stderr;
    HANDLE own_stderr = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE duplicate = nullptr;
    if (own_stderr != nullptr && own_stderr != INVALID_HANDLE_VALUE &&
        DuplicateHandle(GetCurrentProcess(), own_stderr, GetCurrentProcess(), &duplicate, 0, TRUE,
                        DUPLICATE_SAME_ACCESS)) {
        child_stderr.reset(duplicate);
    }

    HANDLE inherited[3] = {child_stdout.get(), child_stdin.get(), child_stderr.get()};
    const std::size_t inherited_count = child_stderr ? 3 : 2;
    proc_thread_attributes attributes;
    const bool use_list = launch.restrict_inheritance && attributes.set_handle_list(inherited, inherited_count);

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = use_list ? sizeof(STARTUPINFOEXW) : sizeof(STARTUPINFOW);
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = child_stdin.get();
    startup.StartupInfo.hStdOutput = child_stdout.get();
    startup.StartupInfo.hStdError = child_stderr ? child_stderr.get() : INVALID_HANDLE_VALUE;
    startup.lpAttributeList = use_list ? attributes.list() : nullptr;
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (use_list ? EXTENDED_STARTUPINFO_PRESENT : 0);

    PROCESS_INFORMATION created{};
    if (launch.user_token != nullptr) {
        if (!CreateProcessAsUserW(launch.user_token, program.c_str(), command.data(), nullptr, nullptr, TRUE, flags,
                                  nullptr, nullptr, &startup.StartupInfo, &created)) {
            throw exception::make_win32_error("CreateProcessAsUserW");
        }
    } else if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                               &startup.StartupInfo, &created)) {
        throw exception::make_win32_error("CreateProcessW");
    }
    win_handle thread(created.hThread);
    process_.reset(created.hProcess);
    pid_ = created.dwProcessId;
    stdin_writer_ = std::move(parent_stdin);
    stdout_reader_ = std::move(parent_stdout);
    // The child's ends of the pipes and its standard-error duplicate close here.
}

void child_process::write_all(const void* data, std::size_t length)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        if (!stdin_writer_) {
            throw internal_error(859);
        }
        const DWORD chunk = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
        DWORD written = 0;
        if (!WriteFile(stdin_writer_.get(), bytes, chunk, &written, nullptr) || written == 0) {
            throw internal_error(864);
        }
        bytes += written;
        length -= written;
    }
}

bool child_process::poll_exit()
{
    if (!process_) {
        return true;
    }
    if (WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.get(), &code)) {
        throw internal_error(783);
    }
    process_.reset();
    return true;
}

bool child_process::wait_exit_5s()
{
    if (process_) {
        WaitForSingleObject(process_.get(), voluntary_end_wait_ms);
    }
    return poll_exit();
}

void child_process::terminate() noexcept
{
    if (process_) {
        terminate_logged(process_.get());
        process_.reset();
    }
}

void child_process::kill_and_close() noexcept
{
    stdin_writer_.reset();
    stdout_reader_.reset();
    terminate();
}

std::uint32_t run_process_and_wait(const std::string& program_path, const vantor_stl::vector<std::string>& arguments,
                                   std::int64_t timeout_seconds)
{
    std::wstring program = to_wide(encoding_utf8, program_path);
    std::wstring command = child_command_line(program_path, arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &created)) {
        throw exception::make_win32_error("CreateProcessW");
    }
    win_handle process(created.hProcess);
    win_handle thread(created.hThread);
    thread.reset();
    if (timeout_seconds == -1) {
        return 0;
    }
    // The wait, not the exit code, tells whether the program has ended: a program may end with
    // the code 259 that GetExitCodeProcess also gives while a process runs.
    const DWORD waited = WaitForSingleObject(process.get(), wait_milliseconds(timeout_seconds));
    if (waited == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (!GetExitCodeProcess(process.get(), &code)) {
            throw internal_error(252);
        }
        return code;
    }
    if (waited == WAIT_TIMEOUT) {
        terminate_logged(process.get());
        throw internal_error(261);
    }
    exception failed = exception::make_win32_error("WaitForSingleObject");
    terminate_logged(process.get());
    throw failed;
}

bool read_stdin_chunk(::netbuf& out)
{
    _setmode(0, _O_BINARY);
    char buffer[stdin_chunk_size];
    const int n = _read(0, buffer, stdin_chunk_size);
    if (n < 0) {
        throw internal_error(907);
    }
    if (n == 0) {
        return false;
    }
    out.append_bytes(buffer, static_cast<std::size_t>(n));
    return true;
}

}  // namespace vantor
