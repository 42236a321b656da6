#include "vantor/services/digest.h"

#include <mbedtls/md5.h>
#include <mbedtls/sha256.h>
#include <mbedtls/sha512.h>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"

namespace xstd {
namespace {

const unsigned char* as_bytes(const void* bytes)
{
    return static_cast<const unsigned char*>(bytes);
}

// mbed TLS reports failures only from hardware back ends, which this build does not use; a
// failure is therefore a broken invariant.
void check(int result)
{
    if (result != 0) {
        throw vantor::internal_error(__LINE__);
    }
}

}  // namespace

void crypto_hash_common::update_netbuf(const netbuf& buffer)
{
    for (netbuf::cursor c(buffer); c.valid(); c.next()) {
        const std::uint8_t* data = nullptr;
        std::size_t length = 0;
        c.data(&data, &length);
        update(data, length);
    }
}

struct md5::context {
    mbedtls_md5_context ctx;
    context() { mbedtls_md5_init(&ctx); }
    ~context() { mbedtls_md5_free(&ctx); }
};

md5::md5() : context_(std::make_unique<context>())
{
    reset();
}
md5::~md5() = default;

void md5::update(const void* bytes, std::size_t length)
{
    check(mbedtls_md5_update_ret(&context_->ctx, as_bytes(bytes), length));
}

void md5::reset()
{
    check(mbedtls_md5_starts_ret(&context_->ctx));
}

std::string md5::final()
{
    unsigned char digest[digest_size];
    check(mbedtls_md5_finish_ret(&context_->ctx, digest));
    reset();
    return std::string(reinterpret_cast<const char*>(digest), digest_size);
}

struct sha256::context {
    mbedtls_sha256_context ctx;
    context() { mbedtls_sha256_init(&ctx); }
    ~context() { mbedtls_sha256_free(&ctx); }
};

sha256::sha256() : context_(std::make_unique<context>())
{
    reset();
}
sha256::~sha256() = default;

void sha256::update(const void* bytes, std::size_t length)
{
    check(mbedtls_sha256_update_ret(&context_->ctx, as_bytes(bytes), length));
}

void sha256::reset()
{
    check(mbedtls_sha256_starts_ret(&context_->ctx, 0));
}

std::string sha256::final()
{
    unsigned char digest[digest_size];
    check(mbedtls_sha256_finish_ret(&context_->ctx, digest));
    reset();
    return std::string(reinterpret_cast<const char*>(digest), digest_size);
}

struct sha512::context {
    mbedtls_sha512_context ctx;
    context() { mbedtls_sha512_init(&ctx); }
    ~context() { mbedtls_sha512_free(&ctx); }
};

sha512::sha512() : context_(std::make_unique<context>())
{
    reset();
}
sha512::~sha512() = default;

void sha512::update(const void* bytes, std::size_t length)
{
    check(mbedtls_sha512_update_ret(&context_->ctx, as_bytes(bytes), length));
}

void sha512::reset()
{
    check(mbedtls_sha512_starts_ret(&context_->ctx, 0));
}

std::string sha512::final()
{
    unsigned char digest[digest_size];
    check(mbedtls_sha512_finish_ret(&context_->ctx, digest));
    reset();
    return std::string(reinterpret_cast<const char*>(digest), digest_size);
}

std::string md5_digest(const std::string& text)
{
    md5 digest;
    digest.update(text.data(), text.size());
    return digest.final();
}

std::string md5_digest_netbuf(const netbuf& buffer)
{
    md5 digest;
    digest.update_netbuf(buffer);
    return digest.final();
}

}  // namespace xstd
