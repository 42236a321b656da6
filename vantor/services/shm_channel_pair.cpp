#include "vantor/services/shm_channel_pair.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "vantor/core/clock.h"

namespace win_utils {
namespace {

constexpr std::uint32_t pipe_descriptor_timeout_ms = 60000;
constexpr std::size_t push_buffer_size = 1024;
constexpr int push_polls = 600;
constexpr DWORD push_poll_ms = 100;

}  // namespace

void mem_ipc::pair::set_log_callback(shm_log_callback callback, void* context) noexcept
{
    log_callback_ = callback;
    log_context_ = context;
    read_.set_log_callback(callback, context);
    write_.set_log_callback(callback, context);
}

void mem_ipc::pair::log(const char* format, ...) const noexcept
{
    if (log_callback_ == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    log_callback_(log_context_, format, args);
    va_end(args);
}

bool mem_ipc::pair::send_descriptor(HANDLE child, HANDLE pipe) noexcept
{
    log("anon ipc pipe prepare to handle");
    channel_descriptor descriptor = make_empty_descriptor();
    if (!read_.prepare_for_process(child, descriptor.filler_reads) ||
        !write_.prepare_for_process(child, descriptor.filler_writes)) {
        return false;
    }
    descriptor.state = descriptor_complete;
    DWORD written = 0;
    if (!WriteFile(pipe, &descriptor, sizeof descriptor, &written, nullptr) || written != sizeof descriptor) {
        log("cannot write ipc pipe descriptor [0x%x]", static_cast<unsigned>(GetLastError()));
        return false;
    }
    return true;
}

bool mem_ipc::pair::open_from_pipe(HANDLE pipe) noexcept
{
    return open_from_pipe_within(pipe, pipe_descriptor_timeout_ms);
}

bool mem_ipc::pair::open_from_pipe_for_testing(HANDLE pipe, std::uint32_t timeout_ms) noexcept
{
    return open_from_pipe_within(pipe, timeout_ms);
}

bool mem_ipc::pair::open_from_pipe_within(HANDLE pipe, std::uint32_t timeout_ms) noexcept
{
    log("anon ipc pipe open from handle");
    std::int64_t start = vantor::monotonic_ms();
    channel_descriptor descriptor{};
    auto* bytes = reinterpret_cast<std::uint8_t*>(&descriptor);
    std::size_t have = 0;
    while (have < sizeof descriptor) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            log("ipc pipe peek failed [0x%x]", static_cast<unsigned>(GetLastError()));
            return false;
        }
        if (available == 0) {
            if (vantor::monotonic_ms() - start >= timeout_ms) {
                log("ipc pipe read timeout");
                return false;
            }
            Sleep(50);
            continue;
        }
        DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(available, sizeof descriptor - have));
        DWORD got = 0;
        if (!ReadFile(pipe, bytes + have, wanted, &got, nullptr) || got == 0) {
            log("cannot read ipc pipe descriptor [0x%x]", static_cast<unsigned>(GetLastError()));
            return false;
        }
        have += got;
    }
    if (!is_valid_descriptor(descriptor)) {
        log("invalid ipc pipe descriptor");
        return false;
    }
    return open_rings(descriptor);
}

bool mem_ipc::pair::open_rings(const channel_descriptor& descriptor) noexcept
{
    return read_.open_from_block(descriptor.filler_writes) && write_.open_from_block(descriptor.filler_reads);
}

bool mem_ipc::pair::wait_open(const std::function<bool(void* buffer)>& launcher) noexcept
{
    log("anon ipc pipe waitopen");
    void* buffer = VirtualAlloc(nullptr, push_buffer_size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (buffer == nullptr) {
        log("anon ipc pipe wait open failed: 0x%x", static_cast<unsigned>(GetLastError()));
        return false;
    }
    channel_descriptor empty = make_empty_descriptor();
    std::memcpy(buffer, &empty, sizeof empty);
    bool launched = false;
    try {
        launched = launcher && launcher(buffer);
    } catch (...) {
        launched = false;
    }
    bool timed_out = false;
    bool opened = false;
    if (launched) {
        log("anon waiting on our buffer");
        // The child writes the descriptor with WriteProcessMemory; the state word is read through
        // a volatile view so that every poll sees the memory.
        const volatile std::uint32_t* state = reinterpret_cast<const volatile std::uint32_t*>(
            static_cast<std::uint8_t*>(buffer) + offsetof(channel_descriptor, state));
        int polls = 0;
        while (*state != descriptor_complete && polls < push_polls) {
            Sleep(push_poll_ms);
            ++polls;
        }
        timed_out = *state != descriptor_complete;
        // The descriptor is written in one call, but not necessarily in order.
        Sleep(10);
        channel_descriptor filled{};
        std::memcpy(&filled, buffer, sizeof filled);
        if (!timed_out) {
            if (!is_valid_descriptor(filled)) {
                log("invalid ipc pipe descriptor");
            } else {
                opened = open_rings(filled);
            }
        }
    }
    if (opened) {
        VirtualFree(buffer, push_buffer_size, MEM_DECOMMIT);
        return true;
    }
    if (timed_out) {
        log("anon timeout");
    }
    log("anon ipc pipe wait open failed: 0x%x", static_cast<unsigned>(GetLastError()));
    return false;
}

bool mem_ipc::pair::prepare_push(HANDLE parent, std::uint64_t buffer_address) noexcept
{
    log("anon ipc pipe prepare push");
    bool representable = true;
    if constexpr (sizeof(std::uintptr_t) < sizeof(std::uint64_t)) {
        representable = buffer_address <= static_cast<std::uint64_t>(static_cast<std::uintptr_t>(-1));
    }
    if (buffer_address == 0 || !representable) {
        log("invalid memory [0x%x]", static_cast<unsigned>(ERROR_INVALID_ADDRESS));
        return false;
    }
    void* address = reinterpret_cast<void*>(static_cast<std::uintptr_t>(buffer_address));
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQueryEx(parent, address, &region, sizeof region) == 0) {
        log("invalid memory [0x%x]", static_cast<unsigned>(GetLastError()));
        return false;
    }
    if (region.Protect > 15) {
        log("invalid memory protect");
        return false;
    }
    std::uintptr_t offset =
        static_cast<std::uintptr_t>(buffer_address) - reinterpret_cast<std::uintptr_t>(region.BaseAddress);
    if (offset > region.RegionSize || region.RegionSize - offset < sizeof(channel_descriptor)) {
        log("invalid memory size");
        return false;
    }
    channel_descriptor descriptor{};
    SIZE_T got = 0;
    if (!ReadProcessMemory(parent, address, &descriptor, sizeof descriptor, &got) ||
        got != sizeof descriptor) {
        log("cannot prepare ipc pipe from remote program [0x%x]", static_cast<unsigned>(GetLastError()));
        return false;
    }
    if (!is_empty_descriptor(descriptor)) {
        log("invalid ipc space provided");
        return false;
    }
    log("preparing read pipe");
    if (!read_.prepare_for_process(parent, descriptor.filler_reads)) {
        return false;
    }
    log("preparing write pipe");
    if (!write_.prepare_for_process(parent, descriptor.filler_writes)) {
        return false;
    }
    descriptor.state = descriptor_complete;
    SIZE_T written = 0;
    if (!WriteProcessMemory(parent, address, &descriptor, sizeof descriptor, &written) ||
        written != sizeof descriptor) {
        log("cannot prepare ipc pipe in remote program [0x%x]", static_cast<unsigned>(GetLastError()));
        return false;
    }
    return true;
}

}  // namespace win_utils
