#include <gtest/gtest.h>

#include "vantor/core/tests/self_child.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "vantor/core/host_hooks.h"
#include "vantor/core/netbuf.h"
#include "vantor/core/netbuf_local.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"

// The wrapper's behaviour through the local table and through a table posing as the host's. The
// host's table forwards every entry to the local implementation and counts the calls, so that a
// test can see which entries the wrapper used; configurations cut its optional tail at one entry.
namespace {

std::array<int, netbuf_api::entry_count> host_calls{};

template <typename F>
struct forwarder;

template <typename R, typename... A>
struct forwarder<R(__cdecl*)(A...)> {
    template <std::size_t Index, auto Entry>
    static R __cdecl call(A... args)
    {
        ++host_calls[Index];
        return (netbuf_imp::local_table().*Entry)(args...);
    }
};

template <std::size_t Index, auto Entry>
void forward(netbuf_api& t)
{
    using entry_type = std::remove_reference_t<decltype(t.*Entry)>;
    t.*Entry = &forwarder<entry_type>::template call<Index, Entry>;
}

// The host-posing table; the entry at `cut` (29 to 32, 0 for none) is left null.
netbuf_api make_host_table(std::size_t cut)
{
    netbuf_api t{};
    forward<0, &netbuf_api::init>(t);
    forward<1, &netbuf_api::release>(t);
    forward<2, &netbuf_api::create>(t);
    forward<3, &netbuf_api::copy_range>(t);
    forward<4, &netbuf_api::size>(t);
    forward<5, &netbuf_api::append_shared>(t);
    forward<6, &netbuf_api::adopt_heap_block>(t);
    forward<7, &netbuf_api::reserve>(t);
    forward<8, &netbuf_api::writable_span>(t);
    forward<9, &netbuf_api::linearize>(t);
    forward<10, &netbuf_api::drop>(t);
    forward<11, &netbuf_api::copy_out>(t);
    forward<12, &netbuf_api::reserved_12>(t);
    forward<13, &netbuf_api::free_block>(t);
    forward<14, &netbuf_api::cursor_free>(t);
    forward<15, &netbuf_api::cursor_create>(t);
    forward<16, &netbuf_api::cursor_clone>(t);
    forward<17, &netbuf_api::cursor_valid>(t);
    forward<18, &netbuf_api::cursor_data>(t);
    forward<19, &netbuf_api::cursor_next>(t);
    forward<20, &netbuf_api::alloc_block>(t);
    forward<21, &netbuf_api::reserved_21>(t);
    forward<22, &netbuf_api::adopt_buffer_compact>(t);
    forward<23, &netbuf_api::find_byte>(t);
    forward<24, &netbuf_api::compare>(t);
    forward<25, &netbuf_api::adopt_buffer>(t);
    forward<26, &netbuf_api::splice>(t);
    forward<27, &netbuf_api::init_with>(t);
    forward<28, &netbuf_api::init_caches>(t);
    forward<29, &netbuf_api::matches>(t);
    forward<30, &netbuf_api::reserve_span>(t);
    forward<31, &netbuf_api::splice_ex>(t);
    forward<32, &netbuf_api::linearize_ex>(t);
    switch (cut) {
        case 29:
            t.matches = nullptr;
            break;
        case 30:
            t.reserve_span = nullptr;
            break;
        case 31:
            t.splice_ex = nullptr;
            break;
        case 32:
            t.linearize_ex = nullptr;
            break;
        default:
            break;
    }
    return t;
}

// Puts the process's table back when a test has installed its own.
class table_swap {
public:
    table_swap() : saved_(netbuf::swap_table_for_testing(netbuf_api{})) {}
    table_swap(const table_swap&) = delete;
    table_swap& operator=(const table_swap&) = delete;
    ~table_swap() { netbuf::swap_table_for_testing(saved_); }

private:
    netbuf_api saved_;
};

void caches_on()
{
    netbuf_imp::local_table().init_caches(0, 1);
    netbuf_imp::set_caches_for_testing(true);
}

std::string content(const netbuf& b)
{
    std::string out;
    for (netbuf::cursor c(b); c.valid(); c.next()) {
        const std::uint8_t* p = nullptr;
        std::size_t n = 0;
        c.data(&p, &n);
        out.append(reinterpret_cast<const char*>(p), n);
    }
    return out;
}

std::vector<netbuf_imp::slice_view> slices(const netbuf& b)
{
    return netbuf_imp::slices_for_testing(b.get());
}

// A buffer with each part in a chunk of its own.
netbuf chain(std::initializer_list<std::string_view> parts)
{
    netbuf out;
    for (std::string_view part : parts) {
        netbuf piece = netbuf::construct_from_string(part);
        out.splice_back(piece);
    }
    return out;
}

std::string pattern(std::size_t n, char first = 'a')
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>(first + static_cast<char>(i % 23));
    }
    return s;
}

struct table_config {
    const char* name;
    bool local;
    std::size_t cut;  // host tables: the null tail entry, 0 for a complete tail
};

class netbuf_tables : public ::testing::TestWithParam<table_config> {
protected:
    void SetUp() override
    {
        caches_on();
        host_ = make_host_table(GetParam().cut);
        ASSERT_TRUE(netbuf::install_table(GetParam().local ? &netbuf_imp::local_table() : &host_));
        host_calls = {};
    }

    table_swap swap_;
    netbuf_api host_{};
};

TEST_P(netbuf_tables, a_new_buffer_is_empty)
{
    netbuf b;
    EXPECT_EQ(b.size(), 0u);
    EXPECT_TRUE(b.is_empty());
    std::uint8_t* p = reinterpret_cast<std::uint8_t*>(&b);
    std::size_t n = 7;
    b.linearize(&p, &n);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(b.to_string(), "");
    EXPECT_FALSE(netbuf::cursor(b).valid());

    EXPECT_EQ(b.append_space(0), nullptr);
    b.reserve_tail_span(0, &p, &n);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(b.is_empty());
}

TEST_P(netbuf_tables, removing_and_copying_out)
{
    struct row {
        const char* name;
        std::function<void(netbuf&, std::string&)> op;  // may fill the copied-out bytes
        const char* left;
        const char* copied;
    };
    const std::vector<row> rows = {
        {"pop 4 of 6",
         [](netbuf& b, std::string& out) {
             out.assign(4, '?');
             b.pop_back_bytes(out.data(), 4);
         },
         "12", "3456"},
        {"pop more than the size",
         [](netbuf& b, std::string& out) {
             out.assign(8, '?');
             b.pop_back_bytes(out.data(), 8);
         },
         "", "123456??"},
        {"peek 12 of 6",
         [](netbuf& b, std::string& out) {
             out.assign(14, '?');
             b.peek_12_bytes(out.data());
         },
         "123456", "123456????????"},
        {"trim past the size", [](netbuf& b, std::string&) { b.trim_back(7); }, "", ""},
        {"drop exactly the size", [](netbuf& b, std::string&) { b.drop_front(6); }, "", ""},
        {"drop everything", [](netbuf& b, std::string&) { b.drop_front(SIZE_MAX); }, "", ""},
        {"clear", [](netbuf& b, std::string&) { b.clear(); }, "", ""},
        {"drop across chunks", [](netbuf& b, std::string&) { b.drop_front(3); }, "456", ""},
        {"trim across chunks", [](netbuf& b, std::string&) { b.trim_back(5); }, "1", ""},
        {"pop across chunks",
         [](netbuf& b, std::string& out) {
             out.assign(5, '?');
             b.pop_back_bytes(out.data(), 5);
         },
         "1", "23456"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        netbuf b = chain({"12", "34", "56"});
        std::string copied;
        r.op(b, copied);
        EXPECT_EQ(content(b), r.left);
        EXPECT_EQ(b.size(), std::string(r.left).size());
        EXPECT_EQ(copied, r.copied);
    }
}

TEST_P(netbuf_tables, ranges_share_chunks)
{
    netbuf b = chain({"abc", "def", "ghi"});
    struct row {
        std::size_t offset;
        std::size_t length;
        const char* expected;
    };
    const row rows[] = {
        {0, SIZE_MAX, "abcdefghi"}, {2, 5, "cdefg"}, {7, 100, "hi"}, {4, 0, ""}, {9, 1, ""}, {20, 5, ""}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.offset);
        netbuf part = netbuf::construct_range(b, r.offset, r.length);
        EXPECT_EQ(content(part), r.expected);
        EXPECT_EQ(part.size(), std::string(r.expected).size());
    }

    netbuf whole(b);
    ASSERT_EQ(slices(whole).size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(slices(whole)[i].chunk, slices(b)[i].chunk);
        EXPECT_EQ(slices(b)[i].count, 2);
    }
    whole.release();
    for (const auto& s : slices(b)) {
        EXPECT_EQ(s.count, 1);
    }
}

TEST_P(netbuf_tables, shared_bytes_are_not_written_in_place)
{
    netbuf a = netbuf::construct_from_string("abc");
    netbuf b(a);
    b.append_string("X");
    a.append_string("Y");
    a.prepend_string("<");
    EXPECT_EQ(a.to_string(), "<abcY");
    EXPECT_EQ(b.to_string(), "abcX");
}

TEST_P(netbuf_tables, moved_strings)
{
    std::string small = pattern(4095);
    const std::string small_copy = small;
    netbuf a;
    a.append_moved_string(std::move(small));
    EXPECT_TRUE(small.empty());
    EXPECT_EQ(content(a), small_copy);
    a.append_byte('!');
    EXPECT_EQ(slices(a).size(), 1u);

    std::string large = pattern(4096);
    const std::string large_copy = large;
    const char* large_bytes = large.data();
    netbuf b = netbuf::construct_from_moved_string(std::move(large));
    EXPECT_TRUE(large.empty());
    ASSERT_EQ(slices(b).size(), 1u);
    EXPECT_FALSE(slices(b)[0].writable);
    EXPECT_EQ(content(b), large_copy);
    netbuf::cursor c(b);
    const std::uint8_t* p = nullptr;
    std::size_t n = 0;
    c.data(&p, &n);
    EXPECT_EQ(reinterpret_cast<const char*>(p), large_bytes);  // handed over, not copied
    c.release();
    b.append_byte('!');
    EXPECT_EQ(slices(b).size(), 2u);
    EXPECT_EQ(content(b), large_copy + "!");
}

TEST_P(netbuf_tables, many_adopted_pieces_are_merged)
{
    netbuf b;
    std::string expected;
    for (int i = 0; i < 129; ++i) {
        std::string piece = pattern(4096, static_cast<char>('A' + i % 26));
        expected += piece;
        b.append_moved_string(std::move(piece));
    }
    EXPECT_EQ(slices(b).size(), 1u);
    EXPECT_EQ(content(b), expected);
}

int adopt_callbacks = 0;
void __cdecl count_adopt_callback(void* user_data)
{
    ++adopt_callbacks;
    EXPECT_EQ(user_data, &adopt_callbacks);
}

TEST_P(netbuf_tables, adopting_nothing_releases_at_once)
{
    netbuf b = netbuf::construct_from_string("x");
    char memory[4] = {};
    adopt_callbacks = 0;
    netbuf::table().adopt_buffer(b.get(), memory, 0, 1, 1, &count_adopt_callback, &adopt_callbacks, 1);
    EXPECT_EQ(adopt_callbacks, 1);
    EXPECT_EQ(content(b), "x");

    netbuf::table().adopt_buffer(b.get(), memory, 4, 1, 1, &count_adopt_callback, &adopt_callbacks, 1);
    netbuf shared(b);
    b.release();
    EXPECT_EQ(adopt_callbacks, 1);  // the copy still refers to the memory
    shared.release();
    EXPECT_EQ(adopt_callbacks, 2);
}

TEST_P(netbuf_tables, splicing_and_sharing)
{
    netbuf b = chain({"cd", "ef"});
    const auto before = slices(b);
    netbuf empty;
    b.splice_back(empty);
    b.splice_front(empty);
    EXPECT_EQ(content(b), "cdef");
    ASSERT_EQ(slices(b).size(), before.size());
    EXPECT_EQ(slices(b)[0].chunk, before[0].chunk);

    netbuf target;
    target.splice_back(b);
    EXPECT_TRUE(b.is_empty());
    EXPECT_EQ(content(target), "cdef");
    EXPECT_EQ(slices(target)[0].chunk, before[0].chunk);
    EXPECT_EQ(slices(target)[0].count, 1);

    netbuf front = chain({"a", "b"});
    netbuf back = chain({"g", "h"});
    target.splice_front(front);
    target.splice_back(back);
    EXPECT_EQ(content(target), "abcdefgh");
    EXPECT_EQ(target.size(), 8u);
    EXPECT_TRUE(front.is_empty());
    EXPECT_TRUE(back.is_empty());

    netbuf other = chain({"12", "34"});
    target.append_shared(other);
    target.prepend_copy(other);
    EXPECT_EQ(content(target), "1234abcdefgh1234");
    EXPECT_EQ(content(other), "1234");
    EXPECT_EQ(slices(other)[0].count, 3);
    netbuf moved = netbuf::construct_from_string("!");
    target.append_move(moved);
    EXPECT_EQ(target.to_string(), "1234abcdefgh1234!");
    EXPECT_TRUE(moved.is_empty());
}

TEST_P(netbuf_tables, tail_span_writer_gives_back_what_it_leaves)
{
    const std::string data = pattern(10000);
    netbuf b = netbuf::construct_from_string("head:");
    std::size_t written = 0;
    while (written < data.size()) {
        std::uint8_t* p = nullptr;
        std::size_t n = 0;
        b.reserve_tail_span(300, &p, &n);
        ASSERT_NE(p, nullptr);
        ASSERT_GT(n, 0u);
        const std::size_t take = std::min({n, data.size() - written, std::size_t{170}});
        std::memcpy(p, data.data() + written, take);
        written += take;
        b.trim_back(n - take);
    }
    EXPECT_EQ(b.to_string(), "head:" + data);
}

TEST_P(netbuf_tables, front_and_back_strings)
{
    netbuf b = chain({"abc", "de", "fghi"});
    struct row {
        std::size_t n;
        const char* front;
        const char* back;
    };
    const row rows[] = {{0, "", ""},
                        {2, "ab", "hi"},
                        {4, "abcd", "fghi"},
                        {6, "abcdef", "defghi"},
                        {50, "abcdefghi", "abcdefghi"}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.n);
        std::string front = "<";
        std::string back = "<";
        b.copy_front_to_string(front, r.n);
        b.copy_back_to_string(back, r.n);
        EXPECT_EQ(front, std::string("<") + r.front);
        EXPECT_EQ(back, std::string("<") + r.back);
    }
    EXPECT_EQ(slices(b).size(), 3u);

    std::uint8_t* p = nullptr;
    std::size_t n = 0;
    b.linearize(&p, &n);
    ASSERT_EQ(n, 9u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), n), "abcdefghi");
}

TEST_P(netbuf_tables, construction_and_assignment)
{
    EXPECT_EQ(netbuf::construct_fwd_cmd().to_string(), "fwd_cmd ");
    EXPECT_EQ(netbuf::construct_from_bytes("a\0b", 3).to_string(), std::string("a\0b", 3));
    EXPECT_TRUE(netbuf::construct_from_bytes("x", 0).is_empty());

    netbuf a = netbuf::construct_from_string("one");
    netbuf b = netbuf::construct_from_string("two");
    a = b;
    EXPECT_EQ(a.to_string(), "two");
    EXPECT_NE(a.get(), b.get());
    netbuf::handle held = a.get();
    a.copy_assign(a);
    EXPECT_EQ(a.get(), held);
    a.assign_handle(netbuf::construct_from_string("three").get());  // a copy of a temporary
    EXPECT_EQ(a.to_string(), "three");

    netbuf c = std::move(a);
    EXPECT_EQ(a.get(), nullptr);
    EXPECT_EQ(a.size(), 0u);
    EXPECT_EQ(c.to_string(), "three");
    c.move_assign(b);
    EXPECT_EQ(c.to_string(), "two");
    EXPECT_EQ(b.get(), nullptr);

    netbuf d = netbuf::construct_from_string("d");
    swap(c, d);
    EXPECT_EQ(c.to_string(), "d");
    netbuf adopted(d.detach());
    EXPECT_EQ(d.get(), nullptr);
    EXPECT_EQ(adopted.to_string(), "two");

    netbuf p = netbuf::construct_from_string("cd");
    p.prepend_string("b");
    std::memcpy(p.prepend_space(1), "a", 1);
    std::memcpy(p.append_space(2), "ef", 2);
    EXPECT_EQ(p.to_string(), "abcdef");
}

INSTANTIATE_TEST_SUITE_P(tables, netbuf_tables,
                         ::testing::Values(table_config{"local", true, 0},
                                           table_config{"host_complete", false, 0},
                                           table_config{"host_without_matches", false, 29},
                                           table_config{"host_without_reserve_span", false, 30},
                                           table_config{"host_without_splice_ex", false, 31},
                                           table_config{"host_without_linearize_ex", false, 32}),
                         [](const ::testing::TestParamInfo<table_config>& info) { return info.param.name; });

TEST(netbuf_install, one_table_per_process)
{
    caches_on();
    table_swap swap;
    EXPECT_FALSE(netbuf::install_table(nullptr));
    EXPECT_EQ(netbuf::table().init, nullptr);

    const netbuf_api host = make_host_table(0);
    ASSERT_TRUE(netbuf::install_table(&host));
    EXPECT_FALSE(netbuf::install_table(&netbuf_imp::local_table()));
    EXPECT_FALSE(netbuf::install_local_table());
    host_calls = {};
    netbuf b = netbuf::construct_from_string("x");
    EXPECT_EQ(host_calls[2], 1);
    EXPECT_EQ(host_calls[7], 1);
    EXPECT_EQ(netbuf::table().matches, nullptr);  // the foundation keeps only what it calls
}

TEST(netbuf_install, host_table_comes_from_the_host_services)
{
    caches_on();
    table_swap swap;
    void* const saved = vantor::host().netbuf_table;
    vantor::host().netbuf_table = nullptr;
    EXPECT_FALSE(netbuf::install_host_table());
    const netbuf_api host = make_host_table(0);
    vantor::host().netbuf_table = const_cast<netbuf_api*>(&host);
    EXPECT_TRUE(netbuf::install_host_table());
    vantor::host().netbuf_table = saved;
    EXPECT_EQ(netbuf::table().create, host.create);
}

TEST(netbuf_install, local_table_when_the_host_gives_none)
{
    caches_on();
    table_swap swap;
    EXPECT_TRUE(netbuf::install_local_table());
    EXPECT_TRUE(netbuf::install_local_table());  // still in use, installed once
    EXPECT_EQ(netbuf::table().splice_ex, netbuf_imp::local_table().splice_ex);
    EXPECT_EQ(netbuf::construct_from_string("local").to_string(), "local");
}

// Which entry the wrapper reaches for the three operations of the optional tail, for a host table
// cut at each of its tail entries.
TEST(netbuf_install, tail_entries_are_used_only_when_the_tail_reaches_them)
{
    caches_on();
    for (std::size_t cut : {0, 29, 30, 31, 32}) {
        SCOPED_TRACE(cut);
        table_swap swap;
        const netbuf_api host = make_host_table(cut);
        ASSERT_TRUE(netbuf::install_table(&host));
        const bool has_30 = cut == 0 || cut > 30;
        const bool has_31 = cut == 0 || cut > 31;
        const bool has_32 = cut == 0;

        netbuf a = chain({"ab", "cd"});
        netbuf b = netbuf::construct_from_string("ef");
        host_calls = {};
        std::uint8_t* p = nullptr;
        std::size_t n = 0;
        a.reserve_tail_span(4, &p, &n);
        a.trim_back(n);
        a.splice_back(b);
        a.linearize(&p, &n);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), n), "abcdef");
        EXPECT_EQ(host_calls[30], has_30 ? 1 : 0);
        EXPECT_EQ(host_calls[8], has_30 ? 0 : 1);
        EXPECT_EQ(host_calls[31], has_31 ? 1 : 0);
        EXPECT_EQ(host_calls[26], has_31 ? 0 : 1);
        EXPECT_EQ(host_calls[32], has_32 ? 1 : 0);
        EXPECT_EQ(host_calls[9], has_32 ? 0 : 1);
        EXPECT_EQ(host_calls[29], 0);
    }
}

// The fallback for entry 30 gives back what goes beyond the limit, on the side it reserved.
TEST(netbuf_install, reserve_span_fallback_keeps_to_the_limit)
{
    caches_on();
    table_swap swap;
    const netbuf_api host = make_host_table(30);
    ASSERT_TRUE(netbuf::install_table(&host));
    const netbuf_api& t = netbuf::table();
    ASSERT_EQ(t.reserve_span, &netbuf::fallback_reserve_span);

    struct row {
        std::int32_t at_end;
        std::int32_t limit;
    };
    const row rows[] = {{1, 1}, {0, 1}, {1, 0}, {0, 0}};
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "at_end " << r.at_end << " limit " << r.limit);
        // "mid" inside a chunk with room on both sides.
        netbuf b;
        std::memcpy(b.append_space(8), "-----mid", 8);
        b.drop_front(5);
        void* p = nullptr;
        std::int32_t n = 0;
        t.reserve_span(b.get(), 3, r.at_end, &p, &n, r.limit);
        ASSERT_NE(p, nullptr);
        if (r.limit != 0) {
            EXPECT_EQ(n, 3);
        } else {
            EXPECT_GT(n, 3);  // all the room on that side
        }
        EXPECT_EQ(b.size(), 3u + static_cast<std::size_t>(n));
        std::memset(p, '*', static_cast<std::size_t>(n));
        const std::string stars(static_cast<std::size_t>(n), '*');
        EXPECT_EQ(b.to_string(), r.at_end != 0 ? "mid" + stars : stars + "mid");
    }
}

TEST(netbuf_install, linearize_fallback_with_options_makes_a_private_block)
{
    caches_on();
    table_swap swap;
    const netbuf_api host = make_host_table(32);
    ASSERT_TRUE(netbuf::install_table(&host));
    const netbuf_api& t = netbuf::table();

    netbuf shared = chain({"ab", "cd", "ef"});
    netbuf b(shared);
    void* p = nullptr;
    std::int32_t n = 0;
    t.linearize_ex(b.get(), &p, &n, 2, 1, 0);
    ASSERT_EQ(n, 6);
    EXPECT_EQ(std::string(static_cast<const char*>(p), 6), "abcdef");
    ASSERT_EQ(slices(b).size(), 1u);
    EXPECT_TRUE(slices(b)[0].writable);
    EXPECT_EQ(content(shared), "abcdef");
    static_cast<char*>(p)[0] = 'A';
    EXPECT_EQ(content(shared), "abcdef");

    netbuf empty;
    p = &n;
    t.linearize_ex(empty.get(), &p, &n, 2, 0, 1);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(n, 0);
}

// Splicing or sharing a buffer into itself ends the process through the crash path; each case
// runs in a child: this program started again with only the child test selected.
constexpr wchar_t fatal_mode_variable[] = L"VANTOR_NETBUF_FATAL_CHILD";
constexpr DWORD exit_crashed = 61;
constexpr DWORD exit_returned = 62;

void __cdecl end_as_crashed()
{
    TerminateProcess(GetCurrentProcess(), exit_crashed);
}

TEST(netbuf_fatal_child, DISABLED_run)
{
    wchar_t mode[32] = {};
    const DWORD n = GetEnvironmentVariableW(fatal_mode_variable, mode, 32);
    if (n == 0 || n >= 32) {
        GTEST_SKIP() << "runs only as a child process";
    }
    netbuf::install_local_table();
    vantor::host().pre_crash = end_as_crashed;
    netbuf b = netbuf::construct_from_string("self");
    const std::wstring m(mode);
    if (m == L"splice_back") {
        b.splice_back(b);
    } else if (m == L"splice_front") {
        b.splice_front(b);
    } else if (m == L"append_shared") {
        b.append_shared(b);
    }
    ExitProcess(exit_returned);
}

DWORD run_fatal_child(const wchar_t* mode)
{
    return run_self_child(L"netbuf_fatal_child.DISABLED_run", fatal_mode_variable, mode);
}

TEST(netbuf_fatal, a_buffer_into_itself_crashes)
{
    struct row {
        const wchar_t* mode;
        const char* name;
    };
    const row rows[] = {{L"splice_back", "splice_back"},
                        {L"splice_front", "splice_front"},
                        {L"append_shared", "append_shared"}};
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(run_fatal_child(r.mode), exit_crashed);
    }
}

}  // namespace
