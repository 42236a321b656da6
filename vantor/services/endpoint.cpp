#include "vantor/services/endpoint.h"

#include <atomic>
#include <exception>
#include <utility>
#include <vector>

#include "vantor/core/default_executor.h"
#include "vantor/core/exception.h"
#include "vantor/core/format.h"
#include "vantor/core/log.h"
#include "vantor/core/win_handle.h"
#include "vantor/services/endpoint_stop_token.h"
#include "vantor/services/pipe.h"
#include "vantor/services/pipe_security.h"

namespace vantor {
namespace {

const log_context loop_log{"vantor::ipc::run"};
const log_context endpoint_log{"vantor::ipc"};

// How long the loop waits for each step of one client: its request, the write of the reply and
// the client's closing of its end after reading it. A client that is silent for longer is
// dropped, so that it cannot hold the one instance against everyone else.
constexpr DWORD client_step_timeout_ms = 1000;

// How long stop_server waits for the loop before it sends the stop token again.
constexpr DWORD stop_wait_ms = 5000;

enum class io_result { done, failed, timed_out };

// Completes an overlapped operation that was just started on `pipe` (`started` is what the
// starting call returned). When the time runs out the operation is cancelled, and the function
// returns only once the cancellation has completed, so the buffer is free again.
io_result finish_io(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, DWORD& transferred, DWORD timeout_ms)
{
    if (!started) {
        if (GetLastError() != ERROR_IO_PENDING) {
            return io_result::failed;
        }
        if (WaitForSingleObject(overlapped.hEvent, timeout_ms) != WAIT_OBJECT_0) {
            CancelIo(pipe);
            GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
            return io_result::timed_out;
        }
    }
    return GetOverlappedResult(pipe, &overlapped, &transferred, FALSE) ? io_result::done : io_result::failed;
}

}  // namespace

// The server side of one endpoint: its pipe instance and the state of its accept loop. Counted:
// the endpoint holds one reference until stop_server, the loop's task another until the loop
// has ended. The loop runs on a thread of the default executor; stop_server writes `running`
// from the stopping thread.
class pipe_server final : public refc_obj_class {
public:
    static refc_obj<pipe_server> make(win_file_handle pipe, ipc* handler, std::uint32_t flags,
                                      std::string name)
    {
        return refc_obj<pipe_server>(new pipe_server(std::move(pipe), handler, flags, std::move(name)));
    }

    // Posts the loop to the default executor, holding a reference for it.
    void start()
    {
        add_ref();
        default_executor().post_job(&run_job, &release_job, this);
    }

    // Ends the loop and returns once it has ended. From the loop's own thread (a handler that
    // stops its endpoint) it only clears `running`: the loop then ends after this client.
    void stop()
    {
        running_.store(0);
        if (loop_thread_.load() == GetCurrentThreadId()) {
            return;
        }
        for (;;) {
            ipc::transact(name_, stop_token_, flags_, nullptr);
            if (WaitForSingleObject(ended_.get(), stop_wait_ms) == WAIT_OBJECT_0) {
                return;
            }
            endpoint_log.log(VANTOR_FMT("pipe loop of %1% still busy"), name_);
        }
    }

    const std::string& stop_token() const noexcept { return stop_token_; }

private:
    pipe_server(win_file_handle pipe, ipc* handler, std::uint32_t flags, std::string name)
        : pipe_(std::move(pipe)),
          handler_(handler),
          flags_(flags),
          stop_token_(make_stop_token()),
          name_(std::move(name)),
          io_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          ended_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          buffer_(pipe_message_limit)
    {
        if (!io_event_ || !ended_) {
            throw exception::make_win32_error("CreateEventW");
        }
    }
    ~pipe_server() override = default;

    static void __cdecl run_job(void* self) { static_cast<pipe_server*>(self)->run(); }
    static void __cdecl release_job(void* self) { static_cast<pipe_server*>(self)->release(); }

    // The task body; nothing escapes it.
    void run()
    {
        loop_thread_.store(GetCurrentThreadId());
        loop_log.write("pipe loop");
        bool stop_seen = false;
        while (running_.load() != 0 && !stop_seen) {
            DWORD error = connect();
            if (error != 0) {
                loop_log.log(VANTOR_FMT("failed to connect pipe %1%"), static_cast<unsigned long>(error));
                // A client that came and went before the connect leaves the instance closing;
                // only a disconnect makes it listen again.
                DisconnectNamedPipe(pipe_.get());
                Sleep(10);
                continue;
            }
            try {
                stop_seen = serve_client();
            } catch (...) {
                // Only memory can run out here; the next client may fare better.
                loop_log.write("client failed: out of memory");
            }
            DisconnectNamedPipe(pipe_.get());
        }
        loop_log.write("exiting pipe loop");
        pipe_.reset();
        loop_thread_.store(0);
        SetEvent(ended_.get());
    }

    // Blocks until a client has opened the instance; 0 on success, else the error.
    DWORD connect()
    {
        OVERLAPPED overlapped{};
        overlapped.hEvent = io_event_.get();
        ResetEvent(io_event_.get());
        if (ConnectNamedPipe(pipe_.get(), &overlapped)) {
            return 0;
        }
        DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED) {
            return 0;
        }
        if (error != ERROR_IO_PENDING) {
            return error;
        }
        DWORD ignored = 0;
        return GetOverlappedResult(pipe_.get(), &overlapped, &ignored, TRUE) ? 0 : GetLastError();
    }

    // Serves the connected client; true when it delivered the stop token or the loop is to end.
    bool serve_client()
    {
        std::string request;
        if (!read_request(request)) {
            return false;
        }
        if (request == stop_token_ || running_.load() == 0) {
            return true;
        }
        std::string reply;
        try {
            reply = handler_->on_request(pipe_.get(), request);
        } catch (const exception& e) {
            loop_log.log(VANTOR_FMT("request failed: %1%"), std::string(e.what()));
            return false;
        } catch (const std::exception& e) {
            loop_log.log(VANTOR_FMT("request failed: %1%"), std::string(e.what()));
            return false;
        } catch (...) {
            loop_log.write("request failed");
            return false;
        }
        if (!reply.empty() && write_reply(reply)) {
            wait_for_client_close();
        }
        return false;
    }

    bool read_request(std::string& request)
    {
        OVERLAPPED overlapped{};
        overlapped.hEvent = io_event_.get();
        ResetEvent(io_event_.get());
        DWORD got = 0;
        BOOL started = ReadFile(pipe_.get(), buffer_.data(), pipe_message_limit, &got, &overlapped);
        switch (finish_io(pipe_.get(), overlapped, started, got, client_step_timeout_ms)) {
            case io_result::timed_out:
                loop_log.log(VANTOR_FMT("no request within %1% ms"),
                             static_cast<unsigned long>(client_step_timeout_ms));
                return false;
            case io_result::failed:
                // A request longer than one read fails here with ERROR_MORE_DATA.
                loop_log.log(VANTOR_FMT("cannot read request: %1%"),
                             static_cast<unsigned long>(GetLastError()));
                return false;
            case io_result::done:
                break;
        }
        if (got == 0) {
            return false;
        }
        request.assign(buffer_.data(), got);
        return true;
    }

    bool write_reply(const std::string& reply)
    {
        OVERLAPPED overlapped{};
        overlapped.hEvent = io_event_.get();
        ResetEvent(io_event_.get());
        DWORD written = 0;
        BOOL started =
            WriteFile(pipe_.get(), reply.data(), static_cast<DWORD>(reply.size()), &written, &overlapped);
        io_result result = finish_io(pipe_.get(), overlapped, started, written, client_step_timeout_ms);
        if (result != io_result::done || written != reply.size()) {
            loop_log.log(VANTOR_FMT("cannot write reply: %1%"), static_cast<unsigned long>(GetLastError()));
            return false;
        }
        return true;
    }

    // A disconnect drops what the client has not read yet; the client closes its end once it has
    // read the reply, which ends this wait.
    void wait_for_client_close()
    {
        OVERLAPPED overlapped{};
        overlapped.hEvent = io_event_.get();
        ResetEvent(io_event_.get());
        DWORD got = 0;
        BOOL started = ReadFile(pipe_.get(), buffer_.data(), pipe_message_limit, &got, &overlapped);
        finish_io(pipe_.get(), overlapped, started, got, client_step_timeout_ms);
    }

    win_file_handle pipe_;
    ipc* handler_;  // the owning endpoint, which outlives the loop (stop waits for its end)
    std::uint32_t flags_;
    std::string stop_token_;
    std::string name_;
    std::atomic<int> running_{1};
    std::atomic<DWORD> loop_thread_{0};
    win_event io_event_;
    win_event ended_;
    std::vector<char> buffer_;
};

ipc::ipc(const std::string& name, std::uint32_t flags) : name_(name)
{
    bool user_scope = (flags & ipc_user_scope) != 0;
    try {
        pipe_security_attributes security(user_scope);
        win_file_handle pipe =
            ipc_priv::init_ipc_server(ipc_pipe_name(name, user_scope), security.get(), true);
        if (!pipe) {
            return;
        }
        server_ = pipe_server::make(std::move(pipe), this, flags & ipc_user_scope, name);
        server_->start();
    } catch (const exception& e) {
        server_.reset();
        endpoint_log.log(VANTOR_FMT("endpoint %1% not served: %2%"), name, std::string(e.what()));
    }
}

ipc::~ipc()
{
    stop_server();
}

std::string ipc::on_request(HANDLE, const std::string& request)
{
    return process(request);
}

void ipc::stop_server()
{
    refc_obj<pipe_server> server = std::move(server_);
    if (server) {
        server->stop();
    }
}

std::string ipc::stop_token_for_testing() const
{
    return server_ ? server_->stop_token() : std::string();
}

bool ipc::transact(const std::string& name, const std::string& request, std::uint32_t flags,
                   std::string* reply)
{
    win_file_handle pipe =
        ipc_priv::init_ipc_client(ipc_pipe_name(name, (flags & ipc_user_scope) != 0), true);
    if (!pipe) {
        return false;
    }
    bool written = pipe_write_message(pipe.get(), request);
    if (written && reply != nullptr) {
        pipe_read_message(pipe.get(), *reply);
    }
    return written;
}

}  // namespace vantor
