#include "vantor/services/metrics_block.h"

#include <atomic>
#include <cstring>

#include "vantor/core/exception.h"
#include "vantor/core/log.h"

namespace vantor::metric {
namespace {

const log_context shared_log{"shared"};
const log_context persistent_log{"persistent"};

// Header words by offset.
constexpr std::size_t h_magic = 0, h_magic2 = 4, h_hash = 8, h_version = 12, h_first = 16, h_total = 20,
                      h_reserved = 24, h_next_free = 28;

std::uint32_t rotl(std::uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

std::uint32_t load_word(const void* base, std::size_t offset)
{
    std::uint32_t v;
    std::memcpy(&v, static_cast<const std::uint8_t*>(base) + offset, 4);
    return v;
}

void store_word(void* base, std::size_t offset, std::uint32_t v)
{
    std::memcpy(static_cast<std::uint8_t*>(base) + offset, &v, 4);
}

// Words of the block that other processes change at the same time.
std::atomic_ref<std::uint32_t> shared_word(void* base, std::size_t offset)
{
    return std::atomic_ref<std::uint32_t>(
        *reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(base) + offset));
}

void log_internal(const char* what, std::uint32_t ref)
{
    shared_log.log(VANTOR_FMT("internal error: %1% ref: %2%"), what, ref);
}

std::uint32_t entry_size_for(std::uint32_t payload) { return (payload + 31) & ~15u; }

}  // namespace

std::uint32_t block_hash(std::uint32_t a, std::uint32_t b, std::uint32_t c)
{
    std::uint32_t h = 3;
    for (std::uint32_t k : {a, b, c}) {
        k *= 0xcc9e2d51;
        k = rotl(k, 15);
        k *= 0x1b873593;
        h ^= k;
        h = rotl(h, 13);
        h = h * 5 + 0xe6546b64;
    }
    h ^= h >> 16;
    h *= 0x85ebca6b;
    h ^= h >> 13;
    h *= 0xc2b2ae35;
    h ^= h >> 16;
    return h;
}

bool check_block_header(const void* view, std::uint32_t expected_total)
{
    const std::uint32_t magic = load_word(view, h_magic);
    const std::uint32_t version = load_word(view, h_version);
    const std::uint32_t first = load_word(view, h_first);
    if (magic != block_magic || load_word(view, h_magic2) != block_magic2 || version != block_version_mark ||
        first != block_first_entry || load_word(view, h_reserved) != 0) {
        persistent_log.log(VANTOR_FMT("invalid header mag: %1% ver: %2% first: %3%"), magic, version, first);
        return false;
    }
    const std::uint32_t total = load_word(view, h_total);
    if (total != expected_total) {
        persistent_log.log(VANTOR_FMT("invalid total: %1%"), total);
        return false;
    }
    if (load_word(view, h_hash) != block_hash(block_version_mark, total, first)) {
        persistent_log.write("invalid hash");
        return false;
    }
    return true;
}

void* shared_block::map_new()
{
    close();
    mapping_.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, block_total_size, nullptr));
    if (!mapping_) {
        shared_log.log(VANTOR_FMT("cannot create shared mem: %1%"), GetLastError());
        return nullptr;
    }
    view_ = MapViewOfFile(mapping_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!view_) {
        shared_log.log(VANTOR_FMT("cannot map shared mem: %1%"), GetLastError());
        mapping_.reset();
    }
    return view_;
}

void* shared_block::map_from_parent(HANDLE handle, std::uint32_t minimum_size)
{
    if (!handle || minimum_size == 0 || view_ || mapping_) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        shared_log.log(VANTOR_FMT("cannot duplicate shared mem: %1%"), GetLastError());
        return nullptr;
    }
    mapping_.reset(copy);
    void* view = MapViewOfFile(mapping_.get(), FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!view) {
        shared_log.log(VANTOR_FMT("cannot map shared mem: %1%"), GetLastError());
        mapping_.reset();
        return nullptr;
    }
    view_ = view;
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(view, &info, sizeof info) == 0) {
        shared_log.log(VANTOR_FMT("invalid map: %1%"), GetLastError());
    } else if (info.Protect & 0xF0) {
        shared_log.log(VANTOR_FMT("invalid map protect: %1%"), static_cast<std::uint32_t>(info.Protect));
    } else if (info.Type != MEM_MAPPED) {
        shared_log.write("invalid map type");
    } else if (info.RegionSize < minimum_size) {
        shared_log.write("invalid region size");
    } else {
        return view_;
    }
    close();
    return nullptr;
}

HANDLE shared_block::duplicate_to()
{
    if (!duplicate_ && mapping_) {
        HANDLE copy = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), mapping_.get(), GetCurrentProcess(), &copy, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            shared_log.log(VANTOR_FMT("invalid handle: %1%"), GetLastError());
            return nullptr;
        }
        duplicate_ = copy;
    }
    return duplicate_;
}

void shared_block::close()
{
    if (view_ && !UnmapViewOfFile(view_)) {
        shared_log.log(VANTOR_FMT("cannot unmap shared mem: %1%"), GetLastError());
    }
    view_ = nullptr;
    mapping_.reset();
}

namespace persistent {

bool store::init_new()
{
    auto* view = static_cast<std::uint8_t*>(mapping_.map_new());
    if (!view) return false;
    std::memset(view + 8, 0, block_total_size - 8);
    store_word(view, h_magic, block_magic);
    store_word(view, h_magic2, block_magic2);
    store_word(view, h_version, block_version_mark);
    store_word(view, h_first, block_first_entry);
    store_word(view, h_total, block_total_size);
    store_word(view, h_hash, block_hash(block_version_mark, block_total_size, block_first_entry));
    shared_word(view, h_next_free).store(block_first_entry);
    return fill_from_header();
}

bool store::attach(HANDLE handle, std::uint32_t size)
{
    void* view = mapping_.map_from_parent(handle, size);
    if (!view) return false;
    if (!check_block_header(view, size)) {
        mapping_.close();
        return false;
    }
    return fill_from_header();
}

bool store::validate_handle(HANDLE handle, std::uint32_t size)
{
    shared_block temporary;
    void* view = temporary.map_from_parent(handle, size);
    return view && check_block_header(view, size);
}

bool store::fill_from_header()
{
    base_ = static_cast<std::uint8_t*>(mapping_.view());
    total_ = load_word(base_, h_total);
    first_offset_ = load_word(base_, h_first);
    first_ = base_ + first_offset_;
    return true;
}

entry_header* store::alloc(std::uint32_t n, std::uint32_t tag)
{
    if (!base_ || n < 1 || n > max_payload) return nullptr;
    const std::uint32_t size = entry_size_for(n);
    auto next_free = shared_word(base_, h_next_free);
    std::uint32_t o = next_free.load();
    for (;;) {
        if (o >= total_ || o < first_offset_ || size > total_ - o) return nullptr;
        if (next_free.compare_exchange_weak(o, o + size)) break;
    }
    auto* e = reinterpret_cast<entry_header*>(base_ + o);
    static const std::uint8_t zero[16] = {};
    if (std::memcmp(e, zero, sizeof zero) != 0) {
        log_internal("block changed during alloc", o);
        return nullptr;
    }
    e->hash = block_hash(tag, size, o);
    e->size = size;
    std::atomic_ref<std::uint32_t>(e->tag).exchange(tag);
    return e;
}

void store::commit(entry_header* e) { std::atomic_ref<std::uint32_t>(e->state).store(entry_committed); }

bool store::is_committed(const entry_header* e)
{
    return std::atomic_ref<std::uint32_t>(const_cast<entry_header*>(e)->state).load() == entry_committed;
}

entry_header* store::get(std::uint32_t offset, bool committed_only) const
{
    if (!base_ || offset % 16 != 0 || offset < first_offset_ || total_ < 16 || offset > total_ - 16) return nullptr;
    auto* e = reinterpret_cast<entry_header*>(base_ + offset);
    const std::uint32_t tag = std::atomic_ref<std::uint32_t>(e->tag).load();
    const std::uint32_t size = e->size;
    if (tag == 0 || size < 16 || size > max_entry_size || size > total_ - offset) return nullptr;
    if (e->hash != block_hash(tag, size, offset)) return nullptr;
    if (committed_only && !is_committed(e)) return nullptr;
    return e;
}

std::uint32_t store::offset_of(const entry_header* e) const
{
    if (!base_ || !e) return 0;
    const auto* p = reinterpret_cast<const std::uint8_t*>(e);
    if (p < base_ || p >= base_ + total_) return 0;
    const auto offset = static_cast<std::uint32_t>(p - base_);
    return get(offset, true) ? offset : 0;
}

void store::for_each(const std::function<bool(std::uint32_t, entry_header*)>& visitor) const
{
    if (!base_) return;
    const std::uint32_t end = std::min(shared_word(base_, h_next_free).load(), total_);
    std::uint32_t offset = first_offset_;
    while (offset < end) {
        entry_header* e = get(offset, false);
        if (!e) return;
        if (is_committed(e) && !visitor(offset, e)) return;
        offset += e->size;
    }
}

std::uint32_t store::find_by_key(std::uint32_t tag, const void* key, std::size_t key_size,
                                 std::uint32_t wanted_size, bool& size_mismatch) const
{
    std::uint32_t found = 0;
    size_mismatch = false;
    for_each([&](std::uint32_t offset, entry_header* e) {
        if (e->tag != tag) return true;
        if (e->size < 32) return false;
        if (std::memcmp(e + 1, key, key_size) != 0) return true;
        found = offset;
        size_mismatch = wanted_size != 0 && e->size != wanted_size;
        return false;
    });
    return found;
}

std::uint32_t store::find_string(std::string_view text) const
{
    std::uint32_t found = 0;
    for_each([&](std::uint32_t offset, entry_header* e) {
        if (e->tag != tag_string) return true;
        if (e->size < 32) return false;
        if (read_string(offset) == text) {
            found = offset;
            return false;
        }
        return true;
    });
    return found;
}

std::uint32_t store::add_string(std::string_view text)
{
    if (text.empty() || text.size() > max_string) return 0;
    const auto n = static_cast<std::uint32_t>(text.size());
    entry_header* e = alloc(n + 3, tag_string);
    if (!e) return 0;
    auto* payload = reinterpret_cast<std::uint8_t*>(e + 1);
    const auto length = static_cast<std::uint16_t>(n);
    std::memcpy(payload, &length, 2);
    std::memcpy(payload + 2, text.data(), n);
    payload[2 + n] = 0;
    commit(e);
    return static_cast<std::uint32_t>(reinterpret_cast<std::uint8_t*>(e) - base_);
}

std::uint32_t store::find_or_add_string(std::string_view text)
{
    const std::uint32_t found = find_string(text);
    return found ? found : add_string(text);
}

std::string_view store::read_string(std::uint32_t offset) const
{
    const entry_header* e = get(offset, true);
    if (!e || e->tag != tag_string || e->size < 32) return {};
    const auto* payload = reinterpret_cast<const std::uint8_t*>(e + 1);
    std::uint16_t length;
    std::memcpy(&length, payload, 2);
    if (length > max_string || e->size < ((length + 34u) & ~15u) || payload[2 + length] != 0) return {};
    return {reinterpret_cast<const char*>(payload + 2), length};
}

std::uint32_t store::find_or_add_type(const std::uint32_t (&payload)[4])
{
    bool mismatch = false;
    const std::uint32_t found = find_by_key(tag_type, payload, 16, 32, mismatch);
    if (found && !mismatch) return found;
    if (found) log_internal("upsert failed", found);
    entry_header* e = alloc(16, tag_type);
    if (!e || e->size < 32) {
        log_internal("allocation failed", 0);
        return 0;
    }
    std::memcpy(e + 1, payload, 16);
    commit(e);
    return static_cast<std::uint32_t>(reinterpret_cast<std::uint8_t*>(e) - base_);
}

std::uint32_t store::find_or_add_data(const std::uint32_t (&key)[4], std::uint32_t counter_size)
{
    if (counter_size > max_payload - 16) return 0;
    const std::uint32_t wanted = (counter_size + 47) & ~15u;
    bool mismatch = false;
    const std::uint32_t found = find_by_key(tag_data, key, 16, wanted, mismatch);
    if (found && !mismatch) return found;
    if (found) log_internal("upsert failed", found);
    entry_header* e = alloc(counter_size + 16, tag_data);
    if (!e || e->size < 32) {
        log_internal("allocation failed", 0);
        return 0;
    }
    std::memcpy(e + 1, key, 16);
    commit(e);
    return static_cast<std::uint32_t>(reinterpret_cast<std::uint8_t*>(e) - base_);
}

}  // namespace persistent
}  // namespace vantor::metric
