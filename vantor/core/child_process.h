#pragma once
// Starting other programs: a long-lived child driven through its standard input, and a program
// run to completion with a time-out. Both build the command line with the system's quoting rules
// and report failures as vantor::exception (Windows errors with the failing function's name,
// broken steps as internal errors).
#include <cstdint>
#include <memory>
#include <string>

#include "vantor/core/vector.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

class netbuf;

namespace vantor {

// A child process whose standard input is a pipe that the owner writes commands into; its
// standard output is a pipe that stays open and unread for the child's life, its standard error
// the parent's. Owned by its creator and used by one thread at a time. Destruction closes the
// pipes first, so that a child blocked on its input sees the end, then terminates a child that
// still runs with exit code 3.
class child_process {
public:
    // Launch options.
    struct options {
        HANDLE user_token = nullptr;        // a primary token: start the child as that user
        bool restrict_inheritance = true;   // the child inherits only its three standard handles
    };
    // No token, inheritance restricted.
    static const options options_default;

    // Start the child at once; throw as start does.
    static std::unique_ptr<child_process> construct_default(const std::string& program_path,
                                                            const vantor_stl::vector<std::string>& arguments);
    static std::unique_ptr<child_process> construct(const std::string& program_path,
                                                    const vantor_stl::vector<std::string>& arguments,
                                                    const options& launch);

    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;
    ~child_process();

    // Writes every byte to the child's standard input, looping over partial writes; 0 bytes
    // write nothing. Internal error 859 once the stdin writer is closed, 864 when a write fails.
    void write_all(const void* data, std::size_t length);

    // True when the child has ended (its handle is then closed) or was already collected;
    // internal error 783 when its exit code cannot be read.
    bool poll_exit();
    // Waits up to 5000 ms for the child to end, then poll_exit.
    bool wait_exit_5s();
    // Ends a child that still runs with exit code 3 and forgets its handle.
    void terminate() noexcept;
    // The destructor's work: closes both pipes, then terminate. Safe to call more than once.
    void kill_and_close() noexcept;

    std::uint32_t pid() const noexcept { return pid_; }

private:
    child_process() = default;
    void start(const std::string& program_path, const vantor_stl::vector<std::string>& arguments,
               const options& launch);

    std::uint32_t pid_ = 0;
    win_file_handle stdin_writer_;
    win_file_handle stdout_reader_;
    win_handle process_;
};

// Runs a program (arguments quoted and joined, no handles inherited, the parent's environment,
// directory and start-up information) and returns its exit code. A time-out of -1 returns 0 at
// once and leaves the program running. Otherwise waits up to timeout_seconds (a negative value
// other than -1 counts as 0, a long one is capped below an unlimited wait); a program still
// running then is terminated with exit code 3 and internal error 261 is raised. Throws the
// Windows error for "CreateProcessW" when the program cannot be started.
std::uint32_t run_process_and_wait(const std::string& program_path, const vantor_stl::vector<std::string>& arguments,
                                   std::int64_t timeout_seconds);

// The child's side: switches the process's standard input to binary mode, reads up to 8192
// bytes and appends them to `out`. False, with `out` unchanged, at the end of input; internal
// error 907 when the read fails.
bool read_stdin_chunk(::netbuf& out);

}  // namespace vantor
