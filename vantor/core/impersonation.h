#pragma once
// Acting as the session's user: the LocalSystem test, the user token of the process's session,
// and a scope that impersonates that user while it lives. A process that does not run as
// LocalSystem keeps its own identity and only holds its own token.
#include "vantor/core/win_handle.h"

namespace vantor {

// True when the process token's user is LocalSystem (S-1-5-18); any failure gives false.
bool is_local_system() noexcept;

struct user_token {
    // As LocalSystem: the user token of the process's session (WTSQueryUserToken); otherwise the
    // process's own token. `out` stays empty when no token can be had; a failure to open the
    // process's own token is logged on "recording". Never raises.
    static void open(win_handle& out) noexcept;
};

// While it lives, the calling thread acts as the session's user (only in a LocalSystem
// process). HKEY_CURRENT_USER is closed on the way in and out, so that the thread's view of it
// follows the identity. Must end on the thread that began it. Failures are logged on
// "recording" and the thread goes on under the process's identity. Never raises.
class impersonation {
public:
    impersonation() noexcept { begin(); }
    impersonation(const impersonation&) = delete;
    impersonation& operator=(const impersonation&) = delete;
    ~impersonation() { end(); }

    bool impersonating() const noexcept { return impersonating_; }
    bool has_token() const noexcept { return token_.valid(); }

private:
    void begin() noexcept;
    void end() noexcept;

    win_handle token_;
    bool impersonating_ = false;
};

}  // namespace vantor
