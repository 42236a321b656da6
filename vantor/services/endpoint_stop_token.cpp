#include "vantor/services/endpoint_stop_token.h"

#include <climits>

#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/core/win_api.h"

namespace vantor {
namespace {

const log_context logger{"crypto_random"};

// BCryptGenRandom's flag for the system's preferred generator (no algorithm handle needed).
constexpr ULONG use_system_preferred_rng = 0x00000002;

using bcrypt_gen_random_fn = LONG(WINAPI*)(void* algorithm, PUCHAR buffer, ULONG length, ULONG flags);
using rtl_gen_random_fn = BOOLEAN(WINAPI*)(PVOID buffer, ULONG length);

// Loads a library from the system folder only, never from the program's folder or the path.
HMODULE load_system_library(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return nullptr;
    }
    std::wstring path(folder, n);
    path += L"\\";
    path += name;
    return LoadLibraryW(path.c_str());
}

// The random sources, bound once per process; the libraries stay loaded for its life.
struct random_sources {
    bcrypt_gen_random_fn bcrypt_gen_random = nullptr;
    rtl_gen_random_fn rtl_gen_random = nullptr;

    random_sources()
    {
        if (HMODULE bcrypt = load_system_library(L"bcrypt.dll")) {
            bcrypt_gen_random = reinterpret_cast<bcrypt_gen_random_fn>(
                reinterpret_cast<void*>(GetProcAddress(bcrypt, "BCryptGenRandom")));
        }
        if (HMODULE advapi = load_system_library(L"advapi32.dll")) {
            // RtlGenRandom is exported under this name only.
            rtl_gen_random = reinterpret_cast<rtl_gen_random_fn>(
                reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")));
        }
    }
};

const random_sources& sources()
{
    static const random_sources bound;
    return bound;
}

}  // namespace

bool crypto_random_bytes(void* data, std::size_t length) noexcept
{
    if (length > ULONG_MAX) {
        return false;
    }
    const random_sources& s = sources();
    auto* bytes = static_cast<PUCHAR>(data);
    if (s.bcrypt_gen_random != nullptr &&
        s.bcrypt_gen_random(nullptr, bytes, static_cast<ULONG>(length), use_system_preferred_rng) >= 0) {
        return true;
    }
    // Windows versions before 7 refuse the preferred-generator flag.
    return s.rtl_gen_random != nullptr && s.rtl_gen_random(bytes, static_cast<ULONG>(length));
}

std::string make_stop_token()
{
    std::string token(stop_token_size, '\0');
    if (!crypto_random_bytes(token.data(), token.size())) {
        logger.write("no cryptographic random source");
        throw exception("no cryptographic random source");
    }
    return token;
}

}  // namespace vantor
