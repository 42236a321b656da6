#pragma once
// The stop token of a request/reply endpoint: the secret request that ends its accept loop.
#include <cstddef>
#include <string>

namespace vantor {

inline constexpr std::size_t stop_token_size = 255;

// Fills `data` from the system's cryptographic random source (BCryptGenRandom with the system's
// preferred generator, else RtlGenRandom, both bound by name from the system folder). False when
// neither source is there or the source fails.
bool crypto_random_bytes(void* data, std::size_t length) noexcept;

// stop_token_size bytes from crypto_random_bytes; throws "no cryptographic random source" when
// they cannot be had.
std::string make_stop_token();

}  // namespace vantor
