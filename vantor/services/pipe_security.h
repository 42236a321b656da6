#pragma once
// The security of the system's pipe endpoints: a descriptor that admits only the local accounts
// that the endpoint's callers need.
#include <cstdint>
#include <vector>

#include "vantor/core/win_api.h"

namespace vantor {

// A SECURITY_ATTRIBUTES record (handle not inheritable) with its own security descriptor.
// Every DACL first denies network logons. A system-scope endpoint, which the plug-ins in user
// sessions call, admits authenticated users to read and write (not to create instances) and
// gives LocalSystem, the administrators and the creating process's user full access; anonymous
// logons are not admitted. A user-scope endpoint admits only the creating process's user. The
// record points into the object, which therefore neither moves nor copies.
class pipe_security_attributes {
public:
    // Throws the Windows error of the failing call when the process's user or the descriptor
    // cannot be had; there is no fallback to an open descriptor.
    explicit pipe_security_attributes(bool user_scope);
    pipe_security_attributes(const pipe_security_attributes&) = delete;
    pipe_security_attributes& operator=(const pipe_security_attributes&) = delete;

    SECURITY_ATTRIBUTES* get() noexcept { return &attributes_; }

    // What a client of a system-scope endpoint may do: read, write and set the handle state.
    static constexpr DWORD client_access =
        (FILE_GENERIC_READ | FILE_GENERIC_WRITE) & ~FILE_CREATE_PIPE_INSTANCE;

private:
    std::vector<std::uint8_t> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

// The user SID of the process token, as bytes. Throws the Windows error of the failing call.
std::vector<std::uint8_t> process_user_sid();

}  // namespace vantor
