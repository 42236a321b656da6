#pragma once
// Named pipes between the processes of the system: endpoint names and their pipe paths, the
// creation of one server instance, the opening of a client end with its retry rules, and the
// single-message read and write used by the request/reply endpoints.
//
// Endpoint names and paths are narrow (ANSI) texts handed to the "A" functions unchanged.
#include <cstdint>
#include <string>

#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

namespace vantor {

// Bit 2 of an endpoint's flag word selects the user scope; every other bit is ignored here.
inline constexpr std::uint32_t ipc_user_scope = 4;

// The largest message that one read takes, and the size of both pipe buffers.
inline constexpr std::uint32_t pipe_message_limit = 131072;

// How long a client keeps trying to open an endpoint whose one instance is busy.
inline constexpr std::int64_t pipe_busy_wait_ms = 3000;

// System scope: "\\?\pipe\ipc2_" + name. User scope: "\\?\pipe\ipc3_" + the session number of
// the calling process in lowercase hexadecimal + "_" + name (session 0 when it cannot be had).
std::string ipc_pipe_name(const std::string& name, bool user_scope);
// The same for a given session number.
std::string ipc_pipe_name_in_session(const std::string& name, bool user_scope, std::uint32_t session);

// One read of up to pipe_message_limit bytes on a synchronous handle: true when it succeeded
// with at least one byte; `text` then holds exactly the bytes read (it is unchanged otherwise).
bool pipe_read_message(HANDLE pipe, std::string& text);

// One write of the whole text on a synchronous handle, then FlushFileBuffers whatever the
// outcome (which returns once the other end has read the message). True only when every byte
// was written.
bool pipe_write_message(HANDLE pipe, const std::string& text);

}  // namespace vantor

namespace ipc_priv {

// Creates one server instance of `path` in message mode (read mode message, at most 255
// instances, buffers of pipe_message_limit bytes, remote clients rejected from Vista on) with
// the given security attributes. An overlapped instance lets its owner bound every wait; it is
// not connected yet. Logs "new pipe %2% (%1%) %3%" for every attempt; an empty owner on failure.
vantor::win_file_handle init_ipc_server(const std::string& path, SECURITY_ATTRIBUTES* security,
                                        bool overlapped);

// Opens a client end of `path` (anonymous impersonation level, overlapped unless `synchronous`).
// While the one instance is busy it retries for pipe_busy_wait_ms; an empty owner when the pipe
// does not exist, stays busy or cannot be opened (the last logged as "error1").
vantor::win_file_handle init_ipc_client(const std::string& path, bool synchronous);

}  // namespace ipc_priv
