#include "vantor/services/signed_doc.h"

#include <cstdint>

#include <mbedtls/rsa.h>

#include "vantor/core/exception.h"
#include "vantor/core/log.h"
#include "vantor/services/base64.h"
#include "vantor/services/digest.h"
#include "vantor/services/element.h"

namespace {

constexpr vantor::log_context verify_log{"json_verify"};

}  // namespace

namespace xstd {
namespace {

// Takes one length-prefixed big-endian number off the front of `blob`.
bool take_number(std::string_view& blob, std::string_view& number)
{
    if (blob.size() < 2) {
        return false;
    }
    std::size_t length = static_cast<std::size_t>(static_cast<unsigned char>(blob[0])) << 8 |
                         static_cast<unsigned char>(blob[1]);
    blob.remove_prefix(2);
    if (length == 0 || length > blob.size()) {
        return false;
    }
    number = blob.substr(0, length);
    blob.remove_prefix(length);
    return true;
}

const unsigned char* as_bytes(std::string_view text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

// An RSA context for the duration of one check.
class rsa_context {
public:
    rsa_context() { mbedtls_rsa_init(&rsa_, MBEDTLS_RSA_PKCS_V15, 0); }
    ~rsa_context() { mbedtls_rsa_free(&rsa_); }
    rsa_context(const rsa_context&) = delete;
    rsa_context& operator=(const rsa_context&) = delete;

    mbedtls_rsa_context& get() { return rsa_; }

private:
    mbedtls_rsa_context rsa_;
};

}  // namespace

bool rsa_load_public_key(mbedtls_rsa_context& rsa, std::string_view blob)
{
    std::string_view modulus;
    std::string_view exponent;
    if (!take_number(blob, modulus) || !take_number(blob, exponent)) {
        return false;
    }
    if (mbedtls_rsa_import_raw(&rsa, as_bytes(modulus), modulus.size(), nullptr, 0, nullptr, 0, nullptr, 0,
                               as_bytes(exponent), exponent.size()) != 0) {
        return false;
    }
    // Completion sets the key length to the modulus's size in bytes; the public-key check
    // refuses degenerate keys (even or tiny exponents, too short a modulus) that the
    // verification would otherwise accept.
    return mbedtls_rsa_complete(&rsa) == 0 && mbedtls_rsa_check_pubkey(&rsa) == 0;
}

bool rsa_verify_pkcs1(mbedtls_rsa_context& rsa, std::string_view signature, std::string_view digest)
{
    if (signature.size() != mbedtls_rsa_get_len(&rsa) || digest.size() > UINT32_MAX) {
        return false;
    }
    return mbedtls_rsa_pkcs1_verify(&rsa, nullptr, nullptr, MBEDTLS_RSA_PUBLIC, MBEDTLS_MD_NONE,
                                    static_cast<unsigned int>(digest.size()), as_bytes(digest),
                                    as_bytes(signature)) == 0;
}

bool rsa_verify_digest(std::string_view blob, std::string_view signature, std::string_view digest)
{
    rsa_context rsa;
    return rsa_load_public_key(rsa.get(), blob) && rsa_verify_pkcs1(rsa.get(), signature, digest);
}

}  // namespace xstd

bool json_verify(const tarvojson::element& document, std::string_view key_blob)
{
    std::string signature;
    bool readable =
        tarvojson::try_get_string(document.find_path("signature"), signature) && !signature.empty();
    if (readable) {
        try {
            xstd::base64::decode(signature);
        } catch (const vantor::exception&) {
            readable = false;
        }
    }
    if (!readable) {
        verify_log.write("missing signature or not base64");
        return false;
    }
    try {
        // The signed text is the document without its signature, in the compact form whose
        // member order does not depend on how the document was written.
        tarvojson::element unsigned_document(document);
        unsigned_document.as_object().erase("signature");
        std::string text = unsigned_document.to_json();
        xstd::sha512 digest;
        digest.update(text.data(), text.size());
        return xstd::rsa_verify_digest(key_blob, signature, digest.final());
    } catch (...) {
        // Every failure of the check is a refusal; none is the caller's to handle.
        return false;
    }
}
