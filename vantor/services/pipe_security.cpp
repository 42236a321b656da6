#include "vantor/services/pipe_security.h"

#include "vantor/core/exception.h"
#include "vantor/core/win_handle.h"

namespace vantor {
namespace {

std::vector<std::uint8_t> well_known_sid(WELL_KNOWN_SID_TYPE type)
{
    std::vector<std::uint8_t> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) {
        throw exception::make_win32_error("CreateWellKnownSid");
    }
    sid.resize(size);
    return sid;
}

struct ace_entry {
    bool allow;
    DWORD access;
    const std::vector<std::uint8_t>* sid;
};

}  // namespace

std::vector<std::uint8_t> process_user_sid()
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        throw exception::make_win32_error("OpenProcessToken");
    }
    win_handle token(raw);
    DWORD needed = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &needed);
    if (needed == 0) {
        throw exception::make_win32_error("GetTokenInformation");
    }
    std::vector<std::uint8_t> buffer(needed);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), needed, &needed)) {
        throw exception::make_win32_error("GetTokenInformation");
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
    DWORD length = GetLengthSid(sid);
    std::vector<std::uint8_t> result(length);
    if (!CopySid(length, result.data(), sid)) {
        throw exception::make_win32_error("CopySid");
    }
    return result;
}

pipe_security_attributes::pipe_security_attributes(bool user_scope)
{
    std::vector<std::uint8_t> user = process_user_sid();
    std::vector<std::uint8_t> network = well_known_sid(WinNetworkSid);
    std::vector<std::uint8_t> system;
    std::vector<std::uint8_t> administrators;
    std::vector<std::uint8_t> authenticated;
    // Deny entries come first: Windows checks entries in order and a denied network logon must
    // not be admitted through any group it also belongs to.
    std::vector<ace_entry> aces{{false, FILE_ALL_ACCESS, &network}};
    if (!user_scope) {
        system = well_known_sid(WinLocalSystemSid);
        administrators = well_known_sid(WinBuiltinAdministratorsSid);
        authenticated = well_known_sid(WinAuthenticatedUserSid);
        aces.push_back({true, FILE_ALL_ACCESS, &system});
        aces.push_back({true, FILE_ALL_ACCESS, &administrators});
        aces.push_back({true, client_access, &authenticated});
    }
    aces.push_back({true, FILE_ALL_ACCESS, &user});

    DWORD size = sizeof(ACL);
    for (const ace_entry& ace : aces) {
        size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) +
                GetLengthSid(const_cast<std::uint8_t*>(ace.sid->data()));
    }
    size = (size + 3) & ~3u;
    acl_.assign(size, 0);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!InitializeAcl(acl, size, ACL_REVISION)) {
        throw exception::make_win32_error("InitializeAcl");
    }
    for (const ace_entry& ace : aces) {
        PSID sid = const_cast<std::uint8_t*>(ace.sid->data());
        BOOL ok = ace.allow ? AddAccessAllowedAce(acl, ACL_REVISION, ace.access, sid)
                            : AddAccessDeniedAce(acl, ACL_REVISION, ace.access, sid);
        if (!ok) {
            throw exception::make_win32_error(ace.allow ? "AddAccessAllowedAce" : "AddAccessDeniedAce");
        }
    }
    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION)) {
        throw exception::make_win32_error("InitializeSecurityDescriptor");
    }
    if (!SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE)) {
        throw exception::make_win32_error("SetSecurityDescriptorDacl");
    }
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
}

}  // namespace vantor
