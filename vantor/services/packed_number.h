#pragma once
// The number form shared by both packed codecs (netbuf and byte string); internal to them.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace tarvojson::packed_detail {

// A number takes at most 8 magnitude bytes and the count byte.
inline constexpr std::size_t max_number_bytes = 9;
inline constexpr std::uint8_t negative_flag = 0x80;

[[noreturn]] void raise_parse_error();
[[noreturn]] void raise_too_big();

// Writes the number form of `value` into `out` and returns its length.
template <typename T>
std::size_t encode(T value, std::uint8_t (&out)[max_number_bytes]) noexcept
{
    using U = std::make_unsigned_t<T>;
    bool negative = false;
    // The most negative value's magnitude is its own unsigned bit pattern.
    U magnitude = static_cast<U>(value);
    if constexpr (std::is_signed_v<T>) {
        if (value < 0) {
            negative = true;
            magnitude = static_cast<U>(0 - magnitude);
        }
    }
    std::size_t n = 0;
    while (magnitude != 0) {
        out[n++] = static_cast<std::uint8_t>(magnitude & 0xFF);
        magnitude = static_cast<U>(magnitude >> 8);
    }
    out[n] = static_cast<std::uint8_t>(n | (negative ? negative_flag : 0));
    return n + 1;
}

// The count byte split into magnitude length and sign; unsigned types take it as it is.
template <typename T>
std::size_t magnitude_length(std::uint8_t count_byte, bool& negative) noexcept
{
    negative = false;
    if constexpr (std::is_signed_v<T>) {
        if (count_byte >= negative_flag) {
            negative = true;
            return count_byte - negative_flag;
        }
    }
    return count_byte;
}

// Raises "number too big" when `length` magnitude bytes cannot fit T.
template <typename T>
void check_length(std::size_t length)
{
    if (length > sizeof(T)) {
        raise_too_big();
    }
}

// The value of a magnitude and sign, or "number too big" when T cannot hold it (a negative
// zero included).
template <typename T>
T to_value(std::uint64_t magnitude, bool negative)
{
    if constexpr (std::is_signed_v<T>) {
        constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
        if (!negative) {
            if (magnitude > max) {
                raise_too_big();
            }
            return static_cast<T>(magnitude);
        }
        if (magnitude == 0 || magnitude > max + 1) {
            raise_too_big();
        }
        return static_cast<T>(static_cast<std::make_unsigned_t<T>>(0 - magnitude));
    } else {
        return static_cast<T>(magnitude);
    }
}

}  // namespace tarvojson::packed_detail
