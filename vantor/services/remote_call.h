#pragma once
// Matching of replies to requests over any packet transport. The caller writes its arguments
// into a packet with the packed codec, registers the call here (which appends the call id and,
// when given, a method name) and sends the packet its own way; the transport's dispatcher hands
// each reply packet to on_reply, which completes the waiting call's future. The object neither
// sends nor receives bytes and runs no thread.
//
// Packets (items in writing order; a reader meets them in reverse):
// - request: the caller's arguments; call id (unsigned 64-bit); method name (string), when given;
// - reply:   the result; status ('T' or 'F'), only with status; call id; the string "-".
// A dispatcher that carries both kinds on one channel reads the trailing name first and passes
// the rest of a "-" packet to on_reply.
#include <cstdint>
#include <map>
#include <string>

#include "vantor/core/fut.h"
#include "vantor/core/netbuf.h"
#include "vantor/core/win_api.h"

namespace vantor {

// Shared by the threads of its owner: begin_call, on_reply and fail_all may run on different
// threads. The pending map and the id counter are touched only under the owner's lock; futures
// are completed after the lock is left, so their continuations may take that lock again.
class rpc_call {
public:
    // `lock` is the owner's critical section; it must outlive this object. `with_status`: replies
    // carry a status byte.
    rpc_call(CRITICAL_SECTION* lock, bool with_status);
    rpc_call(const rpc_call&) = delete;
    rpc_call& operator=(const rpc_call&) = delete;
    // Fails every pending call with "clearing".
    virtual ~rpc_call();

    // Registers a new pending call under the next id (the first is 1) and appends the id and,
    // when `method` is not null, the method name to the request.
    fut<netbuf> begin_call(netbuf& request, const char* method = nullptr);

    // Completes the call that the reply (trailing name already removed) answers: with the rest of
    // the packet, or with "call failed" for an empty rest or the status 'F'. A reply to an id that
    // is not pending is dropped. Throws the codec's error for a malformed call id before any call
    // is touched; for a malformed status byte the call fails with "call failed" first and the
    // codec's error is then thrown as well.
    void on_reply(netbuf& reply);

    // Appends the reply trailer to a result that the callee has written.
    void write_reply_header(netbuf& result, std::uint64_t call_id, bool success) const;

    // Fails every pending call, in ascending id order, with `reason`.
    void fail_all(const std::string& reason);

    std::size_t pending_count() const;

private:
    CRITICAL_SECTION* lock_;
    bool with_status_;
    std::uint64_t next_id_ = 1;
    std::map<std::uint64_t, fut<netbuf>> pending_;
};

}  // namespace vantor
