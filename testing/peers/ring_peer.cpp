// The other process of the shared-memory channel tests. It takes a channel pair in one of the
// two hand-overs, echoes every message back with its tag until the other side closes its ring,
// then closes its own ring and exits.
//
//   ring_peer stdin                                  the descriptor arrives on standard input
//   ring_peer push PARENT_PID ADDRESS READ_CAPACITY WRITE_CAPACITY
//                                                    creates the rings and pushes the descriptor
//                                                    into the parent's buffer at ADDRESS
//
// Exit codes: 0 clean end after the other side closed; 2 bad arguments; 3 hand-over failed;
// 4 no message for 30 seconds; 5 a read failed on an open ring; 6 an echo could not be written.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vantor/core/netbuf.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"
#include "vantor/services/shm_channel_pair.h"

namespace {

using win_utils::mem_ipc;

// Tags are never 0xFFFFFFFF on the wire (writers turn it into their process id), so it marks
// "no message read".
constexpr std::uint32_t no_tag = 0xFFFFFFFFu;
constexpr DWORD idle_limit_ms = 30000;

void log_to_stderr(void*, const char* format, va_list args)
{
    std::fputs("ring_peer: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

int echo(mem_ipc::pair& channel)
{
    mem_ipc& in = channel.read_ring();
    mem_ipc& out = channel.write_ring();
    for (;;) {
        if (WaitForSingleObject(in.data_ready_event(), idle_limit_ms) != WAIT_OBJECT_0) {
            return 4;
        }
        for (;;) {
            mem_ipc::message message;
            message.tag = no_tag;
            int result = in.read_netbuf(message);
            if (result < 0) {
                if (!in.ring_open()) {
                    out.close();
                    return 0;
                }
                return 5;
            }
            if (result == 0 && message.tag == no_tag) {
                break;
            }
            std::string body = message.data.to_string();
            if (out.write_message(message.tag, body.data(), static_cast<int>(body.size())) !=
                static_cast<int>(body.size())) {
                return 6;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    netbuf::install_local_table();
    mem_ipc::pair channel;
    channel.set_log_callback(&log_to_stderr, nullptr);
    if (argc == 2 && std::strcmp(argv[1], "stdin") == 0) {
        if (!channel.open_from_pipe(GetStdHandle(STD_INPUT_HANDLE))) {
            return 3;
        }
        return echo(channel);
    }
    if (argc == 6 && std::strcmp(argv[1], "push") == 0) {
        auto parent_id = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
        std::uint64_t address = std::strtoull(argv[3], nullptr, 10);
        auto read_capacity = static_cast<std::uint32_t>(std::strtoul(argv[4], nullptr, 10));
        auto write_capacity = static_cast<std::uint32_t>(std::strtoul(argv[5], nullptr, 10));
        vantor::win_handle parent(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_DUP_HANDLE |
                                                  PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION |
                                                  SYNCHRONIZE,
                                              FALSE, parent_id));
        if (!parent || !channel.read_ring().create_anonymous(read_capacity) ||
            !channel.write_ring().create_anonymous(write_capacity) ||
            !channel.prepare_push(parent.get(), address)) {
            return 3;
        }
        return echo(channel);
    }
    return 2;
}
