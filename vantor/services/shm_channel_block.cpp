#include "vantor/services/shm_channel_block.h"

#include <cwchar>

namespace win_utils {
namespace {

constexpr ULONG object_type_information = 2;
constexpr ULONG type_information_limit = 10240;

// The leading UNICODE_STRING of the record that NtQueryObject fills for ObjectTypeInformation.
struct object_type_name {
    USHORT length;  // bytes
    USHORT maximum_length;
    PWSTR buffer;
};

using nt_query_object_fn = LONG(NTAPI*)(HANDLE handle, ULONG information_class, PVOID information,
                                        ULONG length, PULONG return_length);

nt_query_object_fn nt_query_object()
{
    // ntdll is loaded in every process; the binding happens once.
    static const nt_query_object_fn bound = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll == nullptr ? nullptr
                                : reinterpret_cast<nt_query_object_fn>(
                                      reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryObject")));
    }();
    return bound;
}

bool guards_hold(const std::uint32_t (&guard)[3]) noexcept
{
    return guard[0] == shm_guard[0] && guard[1] == shm_guard[1] && guard[2] == shm_guard[2];
}

void set_guards(std::uint32_t (&guard)[3]) noexcept
{
    for (int i = 0; i < 3; ++i) {
        guard[i] = shm_guard[i];
    }
}

channel_block make_empty_block() noexcept
{
    channel_block block{};
    block.size = sizeof(channel_block);
    set_guards(block.guard_head);
    set_guards(block.guard_tail);
    return block;
}

bool is_empty_block(const channel_block& block) noexcept
{
    return block.size == sizeof(channel_block) && guards_hold(block.guard_head) &&
           guards_hold(block.guard_tail) && block.state == 0 && block.data_ready == 0 &&
           block.space_freed == 0 && block.section == 0 && block.mutex == 0;
}

}  // namespace

channel_descriptor make_empty_descriptor() noexcept
{
    channel_descriptor descriptor{};
    descriptor.size = sizeof(channel_descriptor);
    set_guards(descriptor.guard_head);
    set_guards(descriptor.guard_tail);
    descriptor.filler_writes = make_empty_block();
    descriptor.filler_reads = make_empty_block();
    return descriptor;
}

bool is_empty_descriptor(const channel_descriptor& descriptor) noexcept
{
    return descriptor.size == sizeof(channel_descriptor) && guards_hold(descriptor.guard_head) &&
           guards_hold(descriptor.guard_tail) && descriptor.state == 0 &&
           is_empty_block(descriptor.filler_writes) && is_empty_block(descriptor.filler_reads);
}

bool is_valid_block(const channel_block& block) noexcept
{
    if (block.size != sizeof(channel_block) || !guards_hold(block.guard_head) ||
        !guards_hold(block.guard_tail) || block.state != block_prepared) {
        return false;
    }
    if (block.data_ready == 0 || block.space_freed == 0 || block.section == 0 || block.mutex == 0) {
        return false;
    }
    return handle_type_is(slot_to_handle(block.data_ready), L"Event") &&
           handle_type_is(slot_to_handle(block.space_freed), L"Event") &&
           handle_type_is(slot_to_handle(block.section), L"Section") &&
           handle_type_is(slot_to_handle(block.mutex), L"Mutant");
}

bool is_valid_descriptor(const channel_descriptor& descriptor) noexcept
{
    return descriptor.size == sizeof(channel_descriptor) && guards_hold(descriptor.guard_head) &&
           guards_hold(descriptor.guard_tail) && descriptor.state == descriptor_complete &&
           is_valid_block(descriptor.filler_writes) && is_valid_block(descriptor.filler_reads);
}

std::uint64_t handle_to_slot(HANDLE handle) noexcept
{
    // Kernel handle values fit in 32 bits in every process of either word size.
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle));
}

HANDLE slot_to_handle(std::uint64_t slot) noexcept
{
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(slot)));
}

bool handle_type_is(HANDLE handle, const wchar_t* type_name) noexcept
{
    nt_query_object_fn query = nt_query_object();
    if (query == nullptr) {
        return false;
    }
    ULONG needed = 0;
    query(handle, object_type_information, nullptr, 0, &needed);
    if (needed == 0 || needed >= type_information_limit || needed < sizeof(object_type_name)) {
        return false;
    }
    // Aligned for the pointer inside the record.
    alignas(8) unsigned char buffer[type_information_limit];
    if (query(handle, object_type_information, buffer, needed, &needed) < 0) {
        return false;
    }
    const auto* name = reinterpret_cast<const object_type_name*>(buffer);
    std::size_t length = name->length / sizeof(wchar_t);
    return name->buffer != nullptr && length == std::wcslen(type_name) &&
           std::wmemcmp(name->buffer, type_name, length) == 0;
}

}  // namespace win_utils
