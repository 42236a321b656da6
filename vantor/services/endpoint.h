#pragma once
// The request/reply endpoint on a named pipe: one server instance, an accept loop that serves
// one client at a time (one request and at most one reply per connection), and the one-shot
// client exchange that talks to it.
#include <cstdint>
#include <string>

#include "vantor/core/refc_obj.h"
#include "vantor/core/win_api.h"

namespace vantor {

class pipe_server;

// A request/reply endpoint; the base of the session service's endpoint. Construction creates
// the pipe instance and starts the accept loop as one long task on the default executor, so the
// object serves at once; the handler operations run on that task's thread, one call at a time.
// When the pipe cannot be created the object exists without a server and never retries.
//
// Requests can arrive as soon as the constructor has run; a derived class calls stop_server
// first in its own destructor, so that no request reaches it while it is being destroyed.
class ipc {
public:
    // `flags`: bit 2 (ipc_user_scope) makes the endpoint user-scoped.
    explicit ipc(const std::string& name, std::uint32_t flags = 0);
    ipc(const ipc&) = delete;
    ipc& operator=(const ipc&) = delete;
    // Stops the server (stop_server).
    virtual ~ipc();

    // Answers one request; `pipe` is the server end, for asking who is calling. The default
    // forwards to process. An empty reply sends nothing. What it throws is logged and the client
    // gets no reply; the loop goes on.
    virtual std::string on_request(HANDLE pipe, const std::string& request);
    virtual std::string process(const std::string& request) = 0;

    // One exchange as a client: opens the endpoint `name` in the scope of `flags` (waiting up to
    // pipe_busy_wait_ms while it is busy), writes the request and, when `reply` is given, reads
    // one reply into it (a failed read leaves it unchanged). True when the whole request was
    // written.
    static bool transact(const std::string& name, const std::string& request, std::uint32_t flags,
                         std::string* reply);

    // Detaches the server, ends its loop with the stop token and returns once the loop has ended
    // (after the request being served, if any). Nothing happens without a server.
    void stop_server();

    const std::string& name() const noexcept { return name_; }
    bool has_server() const noexcept { return static_cast<bool>(server_); }

    std::string stop_token_for_testing() const;

private:
    std::string name_;
    refc_obj<pipe_server> server_;
};

}  // namespace vantor
