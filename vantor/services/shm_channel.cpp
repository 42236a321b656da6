#include "vantor/services/shm_channel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace win_utils {
namespace {

std::atomic<unsigned> instance_counter{0};

constexpr int write_attempts = 10;
constexpr DWORD room_wait_ms = 1000;
constexpr std::uint32_t state_closed_bits = 0xF0;

std::uint32_t get_u32(const std::uint8_t* in) noexcept
{
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

void put_u32(std::uint8_t* out, std::uint32_t value) noexcept
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

bool is_supported_capacity(std::uint32_t capacity) noexcept
{
    return capacity >= shm_min_capacity && capacity <= shm_max_capacity && (capacity & (capacity - 1)) == 0;
}

// The shared header; every access goes through a volatile view because the other process
// changes it (under the mutex).
struct mem_ipc::header {
    std::uint32_t magic;
    std::uint32_t capacity;
    std::uint32_t state;
    std::uint32_t read_count;
    std::uint32_t write_count;
};
static_assert(sizeof(std::uint32_t) * 5 == shm_header_size);

// Holds the ring's mutex for one read, write or close. A mutex abandoned by a dead peer counts
// as owned. Releasing keeps the thread's last error, so a result's error code survives it.
class mem_ipc::lock {
public:
    explicit lock(const mem_ipc& ring) noexcept : ring_(ring)
    {
        if (!ring.mutex_) {
            ring.log("ipc not opened ...");
            return;
        }
        DWORD result = WaitForSingleObject(ring.mutex_.get(), INFINITE);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            owned_ = true;
            return;
        }
        DWORD error = GetLastError();
        ring.log("failed to lock shared mem %x err: 0x%x", static_cast<unsigned>(result),
                 static_cast<unsigned>(error));
        SetLastError(result == WAIT_TIMEOUT ? shm_error_lock_timeout : shm_error_closed);
    }
    lock(const lock&) = delete;
    lock& operator=(const lock&) = delete;
    ~lock() { unlock(); }

    bool owned() const noexcept { return owned_; }

    void unlock() noexcept
    {
        if (owned_) {
            owned_ = false;
            DWORD error = GetLastError();
            ReleaseMutex(ring_.mutex_.get());
            SetLastError(error);
        }
    }

private:
    const mem_ipc& ring_;
    bool owned_ = false;
};

mem_shared::mem_shared() noexcept : instance_(instance_counter.fetch_add(1)) {}

mem_shared::~mem_shared()
{
    if (view_ != nullptr) {
        UnmapViewOfFile(view_);
    }
}

void mem_shared::set_log_callback(shm_log_callback callback, void* context) noexcept
{
    log_callback_ = callback;
    log_context_ = context;
}

void mem_shared::log(const char* format, ...) const noexcept
{
    if (log_callback_ == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    log_callback_(log_context_, format, args);
    va_end(args);
}

mem_ipc::mem_ipc() noexcept = default;

mem_ipc::~mem_ipc()
{
    if (mutex_ || view_ != nullptr) {
        close();
    }
    data_ready_.reset();
    space_freed_.reset();
}

bool mem_ipc::is_open() const noexcept
{
    return mem_shared::is_open() && data_ready_ && space_freed_;
}

volatile mem_ipc::header* mem_ipc::shared() const noexcept
{
    return static_cast<volatile header*>(view_);
}

void mem_ipc::put_bytes(std::uint32_t position, const void* source, std::uint32_t length) noexcept
{
    std::uint32_t offset = position & (capacity_ - 1);
    std::uint32_t first = std::min(length, capacity_ - offset);
    const auto* bytes = static_cast<const std::uint8_t*>(source);
    std::memcpy(data_ + offset, bytes, first);
    std::memcpy(data_, bytes + first, length - first);
}

void mem_ipc::get_bytes(std::uint32_t position, void* target, std::uint32_t length) const noexcept
{
    std::uint32_t offset = position & (capacity_ - 1);
    std::uint32_t first = std::min(length, capacity_ - offset);
    auto* bytes = static_cast<std::uint8_t*>(target);
    std::memcpy(bytes, data_ + offset, first);
    std::memcpy(bytes + first, data_, length - first);
}

bool mem_ipc::create_anonymous(std::uint32_t capacity) noexcept
{
    log("ipca create size %x", static_cast<unsigned>(capacity));
    if (!is_supported_capacity(capacity)) {
        log("ipca invalid size %x", static_cast<unsigned>(capacity));
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (mutex_ || section_ || data_ready_ || space_freed_ || view_ != nullptr) {
        return false;
    }
    mutex_.reset(CreateMutexW(nullptr, FALSE, nullptr));
    if (!mutex_) {
        log("ipca error CreateMutex [0x%x]", static_cast<unsigned>(GetLastError()));
        return false;
    }
    std::uint32_t size = capacity + shm_header_size;
    section_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, size, nullptr));
    if (!section_) {
        log("ipca error CreateFileMapping [0x%x]", static_cast<unsigned>(GetLastError()));
        return false;
    }
    data_ready_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (data_ready_) {
        space_freed_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    if (!data_ready_ || !space_freed_) {
        log("ipca error CreateEvent [0x%x]", static_cast<unsigned>(GetLastError()));
        return false;
    }
    view_ = MapViewOfFile(section_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, size);
    if (view_ == nullptr) {
        log("ipca MapViewOfFile [0x%x]", static_cast<unsigned>(GetLastError()));
        return false;
    }
    volatile header* h = shared();
    h->magic = shm_magic;
    h->capacity = capacity;
    h->state = side_;
    h->read_count = 0;
    h->write_count = 0;
    data_ = static_cast<std::uint8_t*>(view_) + shm_header_size;
    capacity_ = capacity;
    log("anon ipc created %d", static_cast<int>(capacity));
    return true;
}

bool mem_ipc::prepare_for_process(HANDLE target, channel_block& block) noexcept
{
    log("anon preparing ipc for proc ok:%d", target != nullptr ? 1 : 0);
    if (!mutex_ || !section_ || !data_ready_ || !space_freed_ || block.size != sizeof(channel_block)) {
        return false;
    }
    HANDLE sources[4] = {data_ready_.get(), space_freed_.get(), section_.get(), mutex_.get()};
    HANDLE copies[4] = {};
    bool all = true;
    for (int i = 0; i < 4; ++i) {
        if (!DuplicateHandle(GetCurrentProcess(), sources[i], target, &copies[i], 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            copies[i] = nullptr;
            all = false;
        }
    }
    if (!all) {
        DWORD error = GetLastError();
        // The copies that were made belong to the target, which would never learn of them.
        for (HANDLE copy : copies) {
            if (copy != nullptr) {
                DuplicateHandle(target, copy, nullptr, nullptr, 0, FALSE, DUPLICATE_CLOSE_SOURCE);
            }
        }
        log("failed to duplicate handles to target process [0x%x]", static_cast<unsigned>(error));
        SetLastError(error);
        return false;
    }
    block.data_ready = handle_to_slot(copies[0]);
    block.space_freed = handle_to_slot(copies[1]);
    block.section = handle_to_slot(copies[2]);
    block.mutex = handle_to_slot(copies[3]);
    block.state = block_prepared;
    log("anon prepared");
    return true;
}

bool mem_ipc::open_from_block(const channel_block& block) noexcept
{
    log("anon ipc open: %d", 1);
    if (mutex_ || section_ || data_ready_ || space_freed_ || view_ != nullptr) {
        return false;
    }
    if (!is_valid_block(block)) {
        log("invalid pushed mem struct");
        return false;
    }
    data_ready_.reset(slot_to_handle(block.data_ready));
    space_freed_.reset(slot_to_handle(block.space_freed));
    section_.reset(slot_to_handle(block.section));
    mutex_.reset(slot_to_handle(block.mutex));
    log("anon handles are valid");

    log("checking ipc_mem");
    void* view = MapViewOfFile(section_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (view == nullptr) {
        log("invalid handle [0x%x]", static_cast<unsigned>(GetLastError()));
        return false;
    }
    MEMORY_BASIC_INFORMATION region{};
    const char* refusal = nullptr;
    if (VirtualQuery(view, &region, sizeof region) == 0) {
        log("invalid map [0x%x]", static_cast<unsigned>(GetLastError()));
        refusal = "";
    } else if (region.Protect > 15) {
        refusal = "invalid map protect";
    } else if (region.Type != MEM_MAPPED) {
        refusal = "invalid map type";
    }
    if (refusal == nullptr) {
        log("ipc_mem size %x", static_cast<unsigned>(region.RegionSize));
        const volatile header* h = static_cast<const volatile header*>(view);
        std::uint32_t capacity = h->capacity;
        if (h->magic != shm_magic) {
            log("Invalid magic number for shared memory we have %x", static_cast<unsigned>(h->magic));
            refusal = "";
        } else if (region.RegionSize < shm_header_size || capacity > region.RegionSize - shm_header_size) {
            log("mem_ipc invalid size %x", static_cast<unsigned>(capacity));
            refusal = "";
        } else if (!is_supported_capacity(capacity)) {
            // Counts wrap at 2^32; only a power of two keeps the byte positions continuous.
            log("mem_ipc invalid size %x", static_cast<unsigned>(capacity));
            refusal = "";
        } else {
            view_ = view;
            data_ = static_cast<std::uint8_t*>(view) + shm_header_size;
            capacity_ = capacity;
            side_ = h->state & 3;
            log("anon ipc opened %d/%x", static_cast<int>(capacity_), static_cast<unsigned>(side_));
            return true;
        }
    }
    if (*refusal != '\0') {
        log("%s", refusal);
    }
    UnmapViewOfFile(view);
    return false;
}

int mem_ipc::write_message(std::uint32_t tag, const void* data, int length) noexcept
{
    if (length == -1) {
        length = data != nullptr ? static_cast<int>(std::strlen(static_cast<const char*>(data))) : 0;
    }
    if (length < 0 || (length > 0 && data == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    auto body = static_cast<std::uint32_t>(length);
    if (static_cast<std::uint64_t>(body) + shm_record_header_size > capacity_) {
        log("write message buffer too small %d,%d", length, static_cast<int>(capacity_));
        SetLastError(shm_error_too_large);
        return -1;
    }
    if (tag == 0xFFFFFFFFu) {
        tag = GetCurrentProcessId();
    }
    for (int attempt = 0; attempt < write_attempts; ++attempt) {
        lock held(*this);
        if (!held.owned()) {
            return -1;
        }
        volatile header* h = shared();
        if (closed_ || (h->state & 0xFF) != side_) {
            log("write ipc already closed");
            SetLastError(shm_error_closed);
            return -1;
        }
        std::uint32_t write_count = h->write_count;
        std::uint32_t used = write_count - h->read_count;
        if (used > capacity_) {
            log("ipc buffer currupt");
            SetLastError(shm_error_corrupt);
            return -1;
        }
        if (capacity_ - used >= body + shm_record_header_size) {
            std::uint8_t record[shm_record_header_size];
            put_u32(record, tag);
            put_u32(record + 4, body);
            put_bytes(write_count, record, shm_record_header_size);
            if (body != 0) {
                put_bytes(write_count + shm_record_header_size, data, body);
            }
            h->write_count = write_count + shm_record_header_size + body;
            SetEvent(data_ready_.get());
            return length;
        }
        ResetEvent(space_freed_.get());
        held.unlock();
        log("?");
        WaitForSingleObject(space_freed_.get(), room_wait_ms);
        log("+");
    }
    return -1;
}

int mem_ipc::read_message(std::uint32_t& tag, void* buffer, int buffer_size) noexcept
{
    if (buffer_size <= 0 || buffer == nullptr) {
        return -1;
    }
    lock held(*this);
    if (!held.owned()) {
        return -1;
    }
    volatile header* h = shared();
    std::uint32_t state = h->state & 0xFF;
    if ((state & 3) != side_) {
        return -1;
    }
    std::uint32_t read_count = h->read_count;
    std::uint32_t used = h->write_count - read_count;
    if (used > capacity_) {
        log("ipc buffer currupt");
        SetLastError(shm_error_corrupt);
        return -1;
    }
    if (used == 0) {
        if (state == side_) {
            ResetEvent(data_ready_.get());
            return 0;
        }
        log("ipc closed");
        SetLastError(shm_error_closed);
        return -1;
    }
    if (used < shm_record_header_size) {
        log("expecting ipc header");
        SetLastError(shm_error_corrupt);
        return -1;
    }
    std::uint8_t record[shm_record_header_size];
    get_bytes(read_count, record, shm_record_header_size);
    std::uint32_t length = get_u32(record + 4);
    if (length > capacity_ - shm_record_header_size) {
        log("invalid message size - too small buffer");
        SetLastError(shm_error_corrupt);
        return -1;
    }
    if (length > used - shm_record_header_size) {
        log("invalid message size - not written to buffer");
        SetLastError(shm_error_corrupt);
        return -1;
    }
    if (static_cast<std::uint32_t>(buffer_size) < length) {
        tag = length;
        return -2;
    }
    if (length != 0) {
        get_bytes(read_count + shm_record_header_size, buffer, length);
    }
    h->read_count = read_count + shm_record_header_size + length;
    tag = get_u32(record);
    if (used == shm_record_header_size + length) {
        ResetEvent(data_ready_.get());
    }
    SetEvent(space_freed_.get());
    return static_cast<int>(length);
}

int mem_ipc::read_netbuf(message& out) noexcept
{
    try {
        std::uint8_t small[128];
        std::uint32_t tag = out.tag;
        int result = read_message(tag, small, sizeof small);
        if (result >= 0) {
            out.tag = tag;
            if (result > 0) {
                out.data.append_bytes(small, static_cast<std::size_t>(result));
            }
            return result;
        }
        if (result != -2) {
            return result;
        }
        std::uint32_t needed = tag;
        std::uint8_t* space = out.data.append_space(needed);
        tag = out.tag;
        result = read_message(tag, space, static_cast<int>(needed));
        if (result < 0) {
            out.data.trim_back(needed);
            return -1;
        }
        out.tag = tag;
        out.data.trim_back(needed - static_cast<std::uint32_t>(result));
        return result;
    } catch (...) {
        // Only the buffer can fail here: it throws std::bad_alloc when memory runs out.
        log("out of memory reading ipc message");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
}

void mem_ipc::close() noexcept
{
    lock held(*this);
    closed_ = true;
    if (alive_.exchange(false)) {
        log("killing ipc %x", instance_);
        if (view_ != nullptr) {
            volatile header* h = shared();
            h->state = h->state | state_closed_bits;
        }
        if (data_ready_) {
            SetEvent(data_ready_.get());
        }
        if (space_freed_) {
            SetEvent(space_freed_.get());
        }
    }
}

bool mem_ipc::ring_open() const noexcept
{
    return view_ != nullptr && !closed_ && (shared()->state & 0xFF) == side_;
}

}  // namespace win_utils
