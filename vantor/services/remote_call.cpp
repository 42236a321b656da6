#include "vantor/services/remote_call.h"

#include <utility>

#include "vantor/core/exception.h"
#include "vantor/core/locks.h"
#include "vantor/services/packed.h"

namespace vantor {
namespace {

const char* const call_failed = "call failed";
const char* const reply_name = "-";

}  // namespace

rpc_call::rpc_call(CRITICAL_SECTION* lock, bool with_status) : lock_(lock), with_status_(with_status) {}

rpc_call::~rpc_call()
{
    fail_all("clearing");
}

fut<netbuf> rpc_call::begin_call(netbuf& request, const char* method)
{
    fut<netbuf> result;
    std::uint64_t id = 0;
    {
        cs_lock hold(lock_);
        id = next_id_++;
        pending_.emplace(id, result);
    }
    tarvojson::packet::write_u64(request, id);
    if (method != nullptr) {
        tarvojson::packet::write_cstr(request, method);
    }
    return result;
}

void rpc_call::on_reply(netbuf& reply)
{
    std::uint64_t id = tarvojson::packet::read_u64(reply);
    fut<netbuf> call(fut<netbuf>::adopt(nullptr));
    {
        cs_lock hold(lock_);
        auto it = pending_.find(id);
        if (it == pending_.end()) {
            return;
        }
        call = std::move(it->second);
        pending_.erase(it);
    }
    if (reply.is_empty()) {
        call.set_exception(exception(call_failed));
        return;
    }
    if (with_status_) {
        bool success = false;
        try {
            success = tarvojson::packet::read_bool(reply);
        } catch (...) {
            // The call is out of the map already: without this it would wait for ever.
            call.set_exception(exception(call_failed));
            throw;
        }
        if (!success) {
            call.set_exception(exception(call_failed));
            return;
        }
    }
    call.set_value(reply);
}

void rpc_call::write_reply_header(netbuf& result, std::uint64_t call_id, bool success) const
{
    if (with_status_) {
        tarvojson::packet::write_bool(result, success);
    }
    tarvojson::packet::write_u64(result, call_id);
    tarvojson::packet::write_cstr(result, reply_name);
}

void rpc_call::fail_all(const std::string& reason)
{
    std::map<std::uint64_t, fut<netbuf>> taken;
    {
        cs_lock hold(lock_);
        taken.swap(pending_);
    }
    for (auto& entry : taken) {
        entry.second.set_exception(exception(reason));
    }
}

std::size_t rpc_call::pending_count() const
{
    cs_lock hold(lock_);
    return pending_.size();
}

}  // namespace vantor
