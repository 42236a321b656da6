#pragma once
// Message digests (MD5, SHA-256, SHA-512) over mbed TLS. One object computes one digest at a
// time; it is used by one thread at a time.
#include <cstddef>
#include <memory>
#include <string>

class netbuf;

namespace xstd {

// The abstract digest. Its virtual operations keep this order: destructor, update, reset,
// final.
class crypto_hash_common {
public:
    virtual ~crypto_hash_common() = default;
    // Feeds `length` bytes.
    virtual void update(const void* bytes, std::size_t length) = 0;
    // Starts a new digest, dropping what was fed.
    virtual void reset() = 0;
    // The raw digest of everything fed since construction or the last reset. The object then
    // starts a new digest, as after reset.
    virtual std::string final() = 0;

    // Feeds every chunk of `buffer`, in order; the buffer is not changed.
    void update_netbuf(const netbuf& buffer);
};

// 16-byte digests.
class md5 final : public crypto_hash_common {
public:
    static constexpr std::size_t digest_size = 16;

    md5();
    ~md5() override;
    void update(const void* bytes, std::size_t length) override;
    void reset() override;
    std::string final() override;

private:
    struct context;
    std::unique_ptr<context> context_;
};

// 32-byte digests (SHA-256, not SHA-224).
class sha256 final : public crypto_hash_common {
public:
    static constexpr std::size_t digest_size = 32;

    sha256();
    ~sha256() override;
    void update(const void* bytes, std::size_t length) override;
    void reset() override;
    std::string final() override;

private:
    struct context;
    std::unique_ptr<context> context_;
};

// 64-byte digests (SHA-512, not SHA-384).
class sha512 final : public crypto_hash_common {
public:
    static constexpr std::size_t digest_size = 64;

    sha512();
    ~sha512() override;
    void update(const void* bytes, std::size_t length) override;
    void reset() override;
    std::string final() override;

private:
    struct context;
    std::unique_ptr<context> context_;
};

// The 16-byte MD5 of a text's bytes, or of a buffer's bytes.
std::string md5_digest(const std::string& text);
std::string md5_digest_netbuf(const netbuf& buffer);

}  // namespace xstd
