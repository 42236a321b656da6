#pragma once
// The records in which one process hands the handles of shared-memory rings to another: the
// 64-byte channel block of one ring and the 160-byte channel descriptor of a pair. All numbers
// are little-endian; handle slots are 8 bytes of which the low 4 carry the handle value (the
// upper 4 are 0).
#include <cstddef>
#include <cstdint>

#include "vantor/core/win_api.h"

namespace win_utils {

inline constexpr std::uint32_t shm_magic = 0xFABCDE03;
inline constexpr std::uint32_t shm_guard[3] = {0xFABCDE03, 0xFABCDE04, 0xFABCDE05};
inline constexpr std::uint32_t block_prepared = 0x054321FA;
inline constexpr std::uint32_t descriptor_complete = 0x054321FB;

#pragma pack(push, 1)

// One ring as valid in the receiving process.
struct channel_block {
    std::uint32_t size;  // 64
    std::uint32_t guard_head[3];
    std::uint32_t state;  // 0 empty, block_prepared
    std::uint64_t data_ready;
    std::uint64_t space_freed;
    std::uint64_t section;
    std::uint64_t mutex;
    std::uint32_t guard_tail[3];
};

// Both rings of a pair. The filling side prepares the ring it writes into `filler_writes` and
// the ring it reads into `filler_reads`; the receiver reads the first and writes the second.
struct channel_descriptor {
    std::uint32_t size;  // 160
    std::uint32_t guard_head[3];
    std::uint32_t state;  // 0 empty, descriptor_complete
    channel_block filler_writes;
    channel_block filler_reads;
    std::uint32_t guard_tail[3];
};

#pragma pack(pop)

static_assert(sizeof(channel_block) == 64);
static_assert(offsetof(channel_block, data_ready) == 20);
static_assert(offsetof(channel_block, guard_tail) == 52);
static_assert(sizeof(channel_descriptor) == 160);
static_assert(offsetof(channel_descriptor, filler_writes) == 20);
static_assert(offsetof(channel_descriptor, filler_reads) == 84);
static_assert(offsetof(channel_descriptor, guard_tail) == 148);

// Sizes and guards set; both blocks empty; every handle and state 0.
channel_descriptor make_empty_descriptor() noexcept;
bool is_empty_descriptor(const channel_descriptor& descriptor) noexcept;

// Size 64, both guards, state block_prepared, four non-zero handles whose kernel object types
// are Event, Event, Section and Mutant in slot order.
bool is_valid_block(const channel_block& block) noexcept;
// Size 160, both guards, state descriptor_complete and both blocks valid.
bool is_valid_descriptor(const channel_descriptor& descriptor) noexcept;

std::uint64_t handle_to_slot(HANDLE handle) noexcept;
HANDLE slot_to_handle(std::uint64_t slot) noexcept;

// Whether the kernel object type of `handle` is exactly `type_name` ("Event", "Section",
// "Mutant", "Process"), asked with NtQueryObject bound by name from ntdll.dll. False when the
// function is missing, fails, or reports a type-information size of 0 or of 10240 bytes or more.
bool handle_type_is(HANDLE handle, const wchar_t* type_name) noexcept;

}  // namespace win_utils
