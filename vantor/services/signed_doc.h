#pragma once
// Signature checks of signed JSON documents. A signed document carries, in its member
// "signature", the Base64 text of an RSA PKCS#1 v1.5 signature of the SHA-512 digest of the
// document's compact JSON text without that member. The digest is padded as it is (0x00 0x01,
// 0xFF bytes, 0x00, the 64 digest bytes), without the structure that names the hash algorithm.
//
// Public-key blob: the modulus as a 16-bit big-endian length and that many big-endian bytes,
// then the public exponent in the same form; bytes after the exponent are ignored.
//
// No function here throws; every failure gives false. Any thread.
#include <string>
#include <string_view>

struct mbedtls_rsa_context;

namespace tarvojson {
class element;
}

namespace xstd {

// Loads the public key of `blob` into `rsa`, a context initialised for PKCS#1 v1.5 padding.
// False for a short or malformed blob or a key that is not a usable RSA public key.
bool rsa_load_public_key(mbedtls_rsa_context& rsa, std::string_view blob);

// True when `signature`, exactly as long as the key, is the PKCS#1 v1.5 signature of the raw
// `digest` under the key loaded in `rsa`.
bool rsa_verify_pkcs1(mbedtls_rsa_context& rsa, std::string_view signature, std::string_view digest);

// Both of the above on a fresh context.
bool rsa_verify_digest(std::string_view blob, std::string_view signature, std::string_view digest);

}  // namespace xstd

// True when `document`'s member "signature" is a valid signature of the rest of the document
// under the key in `key_blob`. A missing, empty or non-Base64 signature logs "missing signature
// or not base64" on the channel "json_verify"; other failures are silent.
bool json_verify(const tarvojson::element& document, std::string_view key_blob);
