#include "vantor/core/netbuf.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "vantor/core/crash_now.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/log.h"
#include "vantor/core/netbuf_local.h"

namespace {

const vantor::log_context logger{"netbuf"};

// The entries the wrapper calls, copied from the installed table; entry 0 marks installation.
// Written once during start-up before any buffer exists, only read afterwards.
netbuf_api calls{};

constexpr std::size_t all_bytes = static_cast<std::size_t>(netbuf_api::all);

// A count that removes or reads: anything above the table's range means everything.
std::int32_t clamp_count(std::size_t n)
{
    return static_cast<std::int32_t>(std::min(n, all_bytes));
}

// A count of bytes to add: more than the table can express cannot be allocated.
std::int32_t add_count(std::size_t n)
{
    if (n > all_bytes) {
        throw std::bad_alloc();
    }
    return static_cast<std::int32_t>(n);
}

std::size_t to_size(std::int32_t n)
{
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// Splicing or sharing a buffer into itself has no sound meaning; it only arises from a
// programming error, which must not go on to corrupt the chain.
void require_distinct(netbuf::handle a, netbuf::handle b)
{
    if (a == b) {
        vantor::crash_now();
    }
}

// Strings from this length on are handed over instead of copied.
constexpr std::size_t moved_string_threshold = 4096;

}  // namespace

netbuf::netbuf() : handle_(calls.create()) {}

netbuf::netbuf(const netbuf& source)
    : handle_(source.handle_ != nullptr ? calls.copy_range(source.handle_, 0, netbuf_api::all) : nullptr)
{
}

netbuf netbuf::construct_from_bytes(const void* data, std::size_t n)
{
    netbuf b;
    b.append_bytes(data, n);
    return b;
}

netbuf netbuf::construct_fwd_cmd()
{
    return construct_from_bytes("fwd_cmd ", 8);
}

netbuf netbuf::construct_from_string(std::string_view text)
{
    netbuf b;
    b.append_string(text);
    return b;
}

netbuf netbuf::construct_from_moved_string(std::string&& text)
{
    netbuf b;
    b.append_moved_string(std::move(text));
    return b;
}

netbuf netbuf::construct_range(handle source, std::size_t offset, std::size_t length)
{
    if (offset > all_bytes) {
        return netbuf();
    }
    return netbuf(calls.copy_range(source, static_cast<std::int32_t>(offset), clamp_count(length)));
}

void netbuf::assign_handle(handle source)
{
    if (source == handle_) {
        return;
    }
    // The copy is taken before the held handle goes, so that a failing copy leaves this netbuf
    // as it was instead of holding a released handle.
    handle copy = source != nullptr ? calls.copy_range(source, 0, netbuf_api::all) : nullptr;
    release();
    handle_ = copy;
}

void netbuf::move_assign(netbuf& source) noexcept
{
    if (&source == this) {
        return;
    }
    release();
    handle_ = source.handle_;
    source.handle_ = nullptr;
}

void netbuf::swap(netbuf& other) noexcept
{
    std::swap(handle_, other.handle_);
}

netbuf::handle netbuf::detach() noexcept
{
    handle h = handle_;
    handle_ = nullptr;
    return h;
}

void netbuf::release() noexcept
{
    if (handle_ != nullptr) {
        calls.release(handle_);
        handle_ = nullptr;
    }
}

std::size_t netbuf::size() const
{
    return handle_ != nullptr ? to_size(calls.size(handle_)) : 0;
}

void netbuf::append_bytes(const void* data, std::size_t n)
{
    if (n == 0) {
        return;
    }
    void* p = calls.reserve(handle_, add_count(n), 1);
    std::memcpy(p, data, n);
}

void netbuf::append_byte(std::uint8_t value)
{
    *static_cast<std::uint8_t*>(calls.reserve(handle_, 1, 1)) = value;
}

void netbuf::append_string(std::string_view text)
{
    append_bytes(text.data(), text.size());
}

void netbuf::prepend_string(std::string_view text)
{
    if (text.empty()) {
        return;
    }
    void* p = calls.reserve(handle_, add_count(text.size()), 0);
    std::memcpy(p, text.data(), text.size());
}

void netbuf::append_moved_string(std::string&& text)
{
    if (text.size() < moved_string_threshold) {
        append_string(text);
        text.clear();
        return;
    }
    const std::int32_t n = add_count(text.size());
    auto held = std::make_unique<std::string>(std::move(text));
    text.clear();
    void* data = held->data();
    // From here on the table owns the string and frees it through release_moved_string.
    calls.adopt_buffer(handle_, data, n, 1, 0, &netbuf::release_moved_string, held.release(), 1);
}

void __cdecl netbuf::release_moved_string(void* user_data)
{
    std::unique_ptr<std::string> owned(static_cast<std::string*>(user_data));
}

std::uint8_t* netbuf::append_space(std::size_t n)
{
    return static_cast<std::uint8_t*>(calls.reserve(handle_, add_count(n), 1));
}

std::uint8_t* netbuf::prepend_space(std::size_t n)
{
    return static_cast<std::uint8_t*>(calls.reserve(handle_, add_count(n), 0));
}

void netbuf::reserve_tail_span(std::size_t n, std::uint8_t** data, std::size_t* length)
{
    void* p = nullptr;
    std::int32_t got = 0;
    calls.reserve_span(handle_, add_count(n), 1, &p, &got, 0);
    *data = static_cast<std::uint8_t*>(p);
    *length = to_size(got);
}

void netbuf::trim_back(std::size_t n)
{
    calls.drop(handle_, clamp_count(n), 1);
}

void netbuf::drop_front(std::size_t n)
{
    calls.drop(handle_, clamp_count(n), 0);
}

void netbuf::clear()
{
    calls.drop(handle_, calls.size(handle_), 0);
}

void netbuf::pop_back_bytes(void* destination, std::size_t n)
{
    calls.copy_out(handle_, destination, clamp_count(n), 1, 1);
}

void netbuf::peek_12_bytes(void* destination) const
{
    calls.copy_out(handle_, destination, 12, 0, 0);
}

void netbuf::splice_back(netbuf& other)
{
    require_distinct(handle_, other.handle_);
    calls.splice_ex(handle_, other.handle_, 1, 1);
}

void netbuf::splice_front(netbuf& other)
{
    require_distinct(handle_, other.handle_);
    calls.splice_ex(handle_, other.handle_, 0, 1);
}

void netbuf::append_shared(const netbuf& other)
{
    require_distinct(handle_, other.handle_);
    calls.append_shared(handle_, other.handle_, 1);
}

void netbuf::prepend_copy(const netbuf& other)
{
    require_distinct(handle_, other.handle_);
    calls.append_shared(handle_, other.handle_, 0);
}

void netbuf::linearize(std::uint8_t** data, std::size_t* length)
{
    void* p = nullptr;
    std::int32_t got = 0;
    calls.linearize_ex(handle_, &p, &got, netbuf_api::all, 0, 0);
    *data = static_cast<std::uint8_t*>(p);
    *length = to_size(got);
}

std::string netbuf::to_string() const
{
    std::uint8_t* data = nullptr;
    std::size_t length = 0;
    // Joining the chunks changes the chain, not the content.
    const_cast<netbuf*>(this)->linearize(&data, &length);
    if (length == 0) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(data), length);
}

void netbuf::copy_front_to_string(std::string& out, std::size_t n) const
{
    std::size_t left = std::min(n, size());
    for (cursor c(*this); left > 0 && c.valid(); c.next()) {
        const std::uint8_t* p = nullptr;
        std::size_t length = 0;
        c.data(&p, &length);
        const std::size_t take = std::min(length, left);
        out.append(reinterpret_cast<const char*>(p), take);
        left -= take;
    }
}

void netbuf::copy_back_to_string(std::string& out, std::size_t n) const
{
    const std::size_t total = size();
    const std::size_t wanted = std::min(n, total);
    std::size_t skip = total - wanted;
    std::size_t left = wanted;
    for (cursor c(*this); left > 0 && c.valid(); c.next()) {
        const std::uint8_t* p = nullptr;
        std::size_t length = 0;
        c.data(&p, &length);
        if (skip >= length) {
            skip -= length;
            continue;
        }
        const std::size_t take = std::min(length - skip, left);
        out.append(reinterpret_cast<const char*>(p) + skip, take);
        left -= take;
        skip = 0;
    }
}

netbuf::cursor::cursor(const netbuf& buffer) : cursor_(calls.cursor_create(buffer.handle_)) {}

bool netbuf::cursor::valid() const
{
    return cursor_ != nullptr && calls.cursor_valid(cursor_) != 0;
}

void netbuf::cursor::data(const std::uint8_t** data, std::size_t* length) const
{
    void* p = nullptr;
    std::int32_t got = 0;
    calls.cursor_data(cursor_, &p, &got);
    *data = static_cast<const std::uint8_t*>(p);
    *length = to_size(got);
}

void netbuf::cursor::next()
{
    calls.cursor_next(cursor_);
}

void netbuf::cursor::release() noexcept
{
    if (cursor_ != nullptr) {
        calls.cursor_free(cursor_);
        cursor_ = nullptr;
    }
}

void netbuf::enable_caches(std::uint8_t ignored, std::uint8_t enable)
{
    calls.init_caches(ignored, enable);
}

bool netbuf::install_table(const netbuf_api* table)
{
    if (table == nullptr || calls.init != nullptr) {
        return false;
    }
    netbuf_api taken{};
    taken.init = table->init;
    taken.release = table->release;
    taken.create = table->create;
    taken.copy_range = table->copy_range;
    taken.size = table->size;
    taken.append_shared = table->append_shared;
    taken.adopt_heap_block = table->adopt_heap_block;
    taken.reserve = table->reserve;
    taken.writable_span = table->writable_span;
    taken.linearize = table->linearize;
    taken.drop = table->drop;
    taken.copy_out = table->copy_out;
    taken.cursor_free = table->cursor_free;
    taken.cursor_create = table->cursor_create;
    taken.cursor_valid = table->cursor_valid;
    taken.cursor_data = table->cursor_data;
    taken.cursor_next = table->cursor_next;
    taken.alloc_block = table->alloc_block;
    taken.adopt_buffer = table->adopt_buffer;
    taken.splice = table->splice;
    taken.init_caches = table->init_caches;

    // The tail ends at its first null entry, whatever follows it.
    const bool has_reserve_span = table->matches != nullptr && table->reserve_span != nullptr;
    const bool has_splice_ex = has_reserve_span && table->splice_ex != nullptr;
    const bool has_linearize_ex = has_splice_ex && table->linearize_ex != nullptr;
    taken.reserve_span = has_reserve_span ? table->reserve_span : &netbuf::fallback_reserve_span;
    taken.splice_ex = has_splice_ex ? table->splice_ex : &netbuf::fallback_splice;
    taken.linearize_ex = has_linearize_ex ? table->linearize_ex : &netbuf::fallback_linearize;
    calls = taken;
    if (!has_linearize_ex) {
        logger.log(VANTOR_FMT("buffer table without its newer entries (reserve_span %1%, splice_ex %2%, "
                              "linearize_ex %3%); using fallbacks"),
                   has_reserve_span, has_splice_ex, has_linearize_ex);
    }
    return true;
}

bool netbuf::install_host_table()
{
    return install_table(static_cast<const netbuf_api*>(vantor::host().netbuf_table));
}

bool netbuf::install_local_table()
{
    if (install_table(&netbuf_imp::local_table())) {
        calls.init_caches(0, 1);
    }
    return calls.init == netbuf_imp::local_table().init;
}

const netbuf_api& netbuf::table() noexcept
{
    return calls;
}

netbuf_api netbuf::swap_table_for_testing(const netbuf_api& replacement)
{
    netbuf_api previous = calls;
    calls = replacement;
    return previous;
}

void __cdecl netbuf::fallback_reserve_span(handle buffer, std::int32_t n, std::int32_t at_end,
                                           void** data_out, std::int32_t* length_out, std::int32_t limit)
{
    calls.writable_span(buffer, n, at_end, data_out, length_out);
    if (limit == 0 || *length_out <= n) {
        return;
    }
    // The span already belongs to the content; the excess is given back on the same side.
    const std::int32_t excess = *length_out - n;
    if (at_end == 0) {
        *data_out = static_cast<std::uint8_t*>(*data_out) + excess;
        *length_out = n;
        calls.drop(buffer, excess, 0);
    } else {
        *length_out = n;
        calls.drop(buffer, excess, 1);
    }
}

void __cdecl netbuf::fallback_splice(handle buffer, handle other, std::int32_t at_end, std::int32_t)
{
    calls.splice(buffer, other, at_end);
}

void __cdecl netbuf::fallback_linearize(handle buffer, void** data_out, std::int32_t* length_out,
                                        std::int32_t n, std::int32_t need_writable, std::int32_t exact)
{
    if (need_writable == 0 && exact == 0) {
        calls.linearize(buffer, data_out, length_out, n);
        return;
    }
    // Without the host's own operation the whole content moves into one private block.
    const std::int32_t size = calls.size(buffer);
    if (size <= 0) {
        *data_out = nullptr;
        *length_out = 0;
        return;
    }
    void* block = calls.alloc_block(size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    calls.copy_out(buffer, block, size, 1, 0);
    calls.adopt_heap_block(buffer, block, size, 1);
    *data_out = block;
    *length_out = size;
}
