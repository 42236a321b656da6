// A child program for the process tests. The first argument selects what it does:
//   exit CODE              ends with CODE
//   sleep MS [PID_FILE]    writes its process id to PID_FILE (when given), then sleeps MS
//   args-to-file FILE ...  writes every further argument to FILE, each followed by "\n"
//   stdin-to-file FILE     reads its standard input until the end or until the data read ends
//                          with "quit\n", then writes it to FILE; ends with 1 when the read that
//                          reported the end changed the buffer, else 0
//   set-event HANDLE       sets the event whose handle value (decimal) it was given; 0 when that
//                          worked, 1 when the handle is not valid here
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vantor/core/child_process.h"
#include "vantor/core/netbuf.h"
#include "vantor/core/win_api.h"

namespace {

bool write_file(const char* path, const std::string& bytes)
{
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

int copy_stdin_to_file(const char* path)
{
    // Without a host the buffers run on the foundation's own table, as in a helper process.
    netbuf::install_local_table();
    netbuf received;
    for (;;) {
        const std::size_t before = received.size();
        if (!vantor::read_stdin_chunk(received)) {
            if (received.size() != before) {
                return 1;
            }
            break;
        }
        const std::string text = received.to_string();
        if (text.size() >= 5 && text.compare(text.size() - 5, 5, "quit\n") == 0) {
            break;
        }
    }
    return write_file(path, received.to_string()) ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        return 100;
    }
    const std::string mode = argv[1];
    if (mode == "exit" && argc == 3) {
        return static_cast<int>(std::strtoul(argv[2], nullptr, 10));
    }
    if (mode == "sleep" && argc >= 3) {
        if (argc >= 4 && !write_file(argv[3], std::to_string(GetCurrentProcessId()))) {
            return 101;
        }
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
        return 0;
    }
    if (mode == "args-to-file" && argc >= 3) {
        std::string lines;
        for (int k = 3; k < argc; ++k) {
            lines += argv[k];
            lines += '\n';
        }
        return write_file(argv[2], lines) ? 0 : 102;
    }
    if (mode == "stdin-to-file" && argc == 3) {
        return copy_stdin_to_file(argv[2]);
    }
    if (mode == "set-event" && argc == 3) {
        auto handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::strtoull(argv[2], nullptr, 10)));
        return SetEvent(handle) ? 0 : 1;
    }
    return 100;
}
