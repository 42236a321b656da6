#include "vantor/core/impersonation.h"

#include <cstdio>
#include <string>

#include "vantor/core/log.h"

namespace vantor {
namespace {

constexpr log_context recording_log{"recording"};

// WTSQueryUserToken lives in wtsapi32.dll, which only LocalSystem processes need; it is bound
// by name so that other processes never load it.
using wts_query_user_token_fn = BOOL(WINAPI*)(ULONG session, HANDLE* token);

wts_query_user_token_fn bind_wts_query_user_token() noexcept
{
    static wts_query_user_token_fn bound = [] {
        wchar_t system[MAX_PATH];
        UINT n = GetSystemDirectoryW(system, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) {
            return static_cast<wts_query_user_token_fn>(nullptr);
        }
        std::wstring dll = std::wstring(system, n) + L"\\wtsapi32.dll";
        // The library stays loaded for the life of the process.
        HMODULE module = LoadLibraryW(dll.c_str());
        if (module == nullptr) {
            return static_cast<wts_query_user_token_fn>(nullptr);
        }
        return reinterpret_cast<wts_query_user_token_fn>(
            reinterpret_cast<void*>(GetProcAddress(module, "WTSQueryUserToken")));
    }();
    return bound;
}

std::string hex_code(DWORD code)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%lx", static_cast<unsigned long>(code));
    return text;
}

void log_failure(const char* function) noexcept
{
    DWORD code = GetLastError();
    try {
        recording_log.write(std::string("cannot ") + function + " [0x" + hex_code(code) + "]");
    } catch (...) {
        // Logging is best effort; the caller goes on under its own identity either way.
    }
}

}  // namespace

bool is_local_system() noexcept
{
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return false;
    }
    win_handle token(raw);
    alignas(TOKEN_USER) unsigned char buffer[256];
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof(buffer), &size)) {
        return false;
    }
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    PSID system_sid = nullptr;
    if (!AllocateAndInitializeSid(&nt_authority, 1, SECURITY_LOCAL_SYSTEM_RID, 0, 0, 0, 0, 0, 0, 0,
                                  &system_sid)) {
        return false;
    }
    bool same = EqualSid(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, system_sid) != FALSE;
    FreeSid(system_sid);
    return same;
}

void user_token::open(win_handle& out) noexcept
{
    HANDLE raw = nullptr;
    if (is_local_system()) {
        DWORD session = 0;
        wts_query_user_token_fn query = bind_wts_query_user_token();
        if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && query != nullptr &&
            query(session, &raw)) {
            out.reset(raw);
        }
        return;
    }
    if (!OpenProcessToken(GetCurrentProcess(), GENERIC_ALL, &raw)) {
        log_failure("OpenProcessToken");
        return;
    }
    out.reset(raw);
}

void impersonation::begin() noexcept
{
    user_token::open(token_);
    impersonating_ = false;
    if (!token_ || !is_local_system()) {
        return;
    }
    impersonating_ = true;
    // The cached HKEY_CURRENT_USER handle belongs to the process's identity; closing it makes
    // the next use open the impersonated user's hive.
    RegCloseKey(HKEY_CURRENT_USER);
    if (!ImpersonateLoggedOnUser(token_.get())) {
        log_failure("ImpersonateLoggedOnUser");
    }
}

void impersonation::end() noexcept
{
    if (!token_) {
        return;
    }
    if (!RevertToSelf()) {
        log_failure("RevertToSelf");
    }
    if (impersonating_) {
        RegCloseKey(HKEY_CURRENT_USER);
    }
    token_.reset();
}

}  // namespace vantor
