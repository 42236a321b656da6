#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "vantor/core/netbuf.h"
#include "vantor/core/netbuf_local.h"

// The local implementation's own rules: chunk sizes, growth, sharing, merging and the entries
// the wrapper does not reach. Runs with the local table installed.
namespace {

class netbuf_local : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved_ = netbuf::swap_table_for_testing(netbuf_api{});
        t.init_caches(0, 1);
        netbuf_imp::set_caches_for_testing(true);
        ASSERT_TRUE(netbuf::install_table(&t));
    }
    void TearDown() override
    {
        netbuf_imp::set_caches_for_testing(true);
        netbuf::swap_table_for_testing(saved_);
    }

    const netbuf_api& t = netbuf_imp::local_table();
    netbuf_api saved_{};
};

std::vector<netbuf_imp::slice_view> slices(const netbuf& b)
{
    return netbuf_imp::slices_for_testing(b.get());
}

std::vector<std::int32_t> capacities(const netbuf& b)
{
    std::vector<std::int32_t> out;
    for (const auto& s : slices(b)) {
        out.push_back(s.capacity);
    }
    return out;
}

// A buffer with one chunk per part.
netbuf chain(const std::vector<std::string>& parts)
{
    netbuf out;
    for (const std::string& part : parts) {
        netbuf piece = netbuf::construct_from_string(part);
        out.splice_back(piece);
    }
    return out;
}

TEST_F(netbuf_local, chunk_sizes_follow_the_size_classes)
{
    struct row {
        bool caches;
        std::int32_t n;
        std::int32_t capacity;
        bool cached;
    };
    const row rows[] = {
        {true, 1, 128, true},       {true, 100, 128, true},       {true, 128, 128, true},
        {true, 129, 512, true},     {true, 2048, 2048, true},     {true, 2049, 8192, true},
        {true, 65536, 65536, true}, {true, 65537, 65537, false},  {true, 70000, 70000, false},
        {false, 100, 100, false},   {false, 65536, 65536, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << "n " << r.n << " caches " << r.caches);
        netbuf_imp::set_caches_for_testing(r.caches);
        netbuf b;
        void* p = nullptr;
        std::int32_t n = 0;
        t.writable_span(b.get(), r.n, 1, &p, &n);
        EXPECT_EQ(n, r.n);
        ASSERT_EQ(slices(b).size(), 1u);
        EXPECT_EQ(slices(b)[0].capacity, r.capacity);
        EXPECT_EQ(slices(b)[0].cached, r.cached);
    }
}

TEST_F(netbuf_local, appends_grow_in_place_then_by_a_quarter_plus_128_per_slice)
{
    netbuf_imp::set_caches_for_testing(false);
    netbuf b;
    b.append_bytes(std::string(10, 'a').data(), 10);
    EXPECT_EQ(capacities(b), (std::vector<std::int32_t>{130}));  // 10 / 4 + 128
    b.append_bytes(std::string(200, 'b').data(), 200);
    EXPECT_EQ(capacities(b), (std::vector<std::int32_t>{130, 308}));  // 210 / 4 + 2 * 128
    b.append_bytes(std::string(108, 'c').data(), 108);
    EXPECT_EQ(capacities(b), (std::vector<std::int32_t>{130, 308}));
    EXPECT_EQ(b.to_string(), std::string(10, 'a') + std::string(200, 'b') + std::string(108, 'c'));

    netbuf big;
    big.append_space(5 * 1048576);
    big.append_space(1);
    EXPECT_EQ(capacities(big), (std::vector<std::int32_t>{5 * 1048576, 1048576}));
}

TEST_F(netbuf_local, front_reservations_fill_a_chunk_from_its_end)
{
    netbuf_imp::set_caches_for_testing(false);
    netbuf b;
    std::memcpy(b.prepend_space(10), "0123456789", 10);
    ASSERT_EQ(slices(b).size(), 1u);
    EXPECT_EQ(slices(b)[0].capacity, 130);
    EXPECT_EQ(slices(b)[0].offset, 120);
    b.prepend_string("abcde");
    ASSERT_EQ(slices(b).size(), 1u);
    EXPECT_EQ(slices(b)[0].offset, 115);
    EXPECT_EQ(b.to_string(), "abcde0123456789");
}

TEST_F(netbuf_local, linearize_options)
{
    struct row {
        const char* name;
        std::vector<std::string> parts;
        std::int32_t n;
        bool exact;
        std::int32_t first_length;
        std::size_t slices_after;
    };
    const std::string hundred(100, 'x');
    const std::vector<row> rows = {
        {"prefix stops before a long slice", {"ab", "cd", hundred}, 8, false, 4, 2},
        {"exact takes what reaches n", {"ab", "cd", hundred}, 8, true, 104, 1},
        {"a first slice over n / 2 stands", {"0123456789", "abcdefghij", hundred}, 15, false, 10, 3},
        {"exact merges up to n", {"0123456789", "abcdefghij", hundred}, 15, true, 20, 2},
        {"everything", {hundred, hundred, hundred}, netbuf_api::all, false, 300, 1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        netbuf b = chain(r.parts);
        std::string expected;
        for (const std::string& p : r.parts) {
            expected += p;
        }
        void* p = nullptr;
        std::int32_t n = 0;
        t.linearize_ex(b.get(), &p, &n, r.n, 0, r.exact ? 1 : 0);
        EXPECT_EQ(n, r.first_length);
        EXPECT_EQ(std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)),
                  expected.substr(0, static_cast<std::size_t>(n)));
        EXPECT_EQ(slices(b).size(), r.slices_after);
        EXPECT_EQ(b.to_string(), expected);
    }

    // Three 100-byte slices join into one chunk of the 512-byte class.
    netbuf three = chain({hundred, hundred, hundred});
    std::uint8_t* data = nullptr;
    std::size_t length = 0;
    three.linearize(&data, &length);
    EXPECT_EQ(capacities(three), (std::vector<std::int32_t>{512}));

    // A shared single slice becomes a private copy when writable bytes are asked for.
    netbuf original = netbuf::construct_from_string("shared");
    netbuf copy(original);
    void* p = nullptr;
    std::int32_t n = 0;
    t.linearize_ex(copy.get(), &p, &n, netbuf_api::all, 1, 0);
    ASSERT_EQ(n, 6);
    EXPECT_NE(slices(copy)[0].chunk, slices(original)[0].chunk);
    EXPECT_TRUE(slices(copy)[0].writable);
    EXPECT_EQ(slices(original)[0].count, 1);
}

TEST_F(netbuf_local, adoption_repacks_a_sparse_slice_first)
{
    char memory[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    netbuf sparse;
    sparse.append_bytes(std::string(100, 's').data(), 100);
    ASSERT_EQ(capacities(sparse), (std::vector<std::int32_t>{512}));
    t.adopt_buffer(sparse.get(), memory, 10, 1, 0, nullptr, nullptr, 1);
    EXPECT_EQ(capacities(sparse), (std::vector<std::int32_t>{128, 10}));
    EXPECT_FALSE(slices(sparse)[1].writable);
    EXPECT_EQ(sparse.to_string(), std::string(100, 's') + "0123456789");

    netbuf dense;
    dense.append_bytes(std::string(300, 'd').data(), 300);
    const void* chunk = slices(dense)[0].chunk;
    t.adopt_buffer(dense.get(), memory, 10, 1, 1, nullptr, nullptr, 1);
    EXPECT_EQ(slices(dense)[0].chunk, chunk);
    EXPECT_TRUE(slices(dense)[1].writable);
}

TEST_F(netbuf_local, more_than_128_slices_are_merged)
{
    for (int count : {128, 129}) {
        SCOPED_TRACE(count);
        netbuf b;
        std::string expected;
        for (int i = 0; i < count; ++i) {
            const std::string piece(3, static_cast<char>('a' + i % 26));
            expected += piece;
            b.append_shared(netbuf::construct_from_string(piece));
        }
        EXPECT_EQ(slices(b).size(), count == 128 ? 128u : 1u);
        EXPECT_EQ(b.to_string(), expected);
    }
}

TEST_F(netbuf_local, cursor_walks_the_slices_and_wraps)
{
    netbuf b = chain({"ab", "cde", "f"});
    netbuf_api::cursor_handle c = t.cursor_create(b.get());
    std::string seen;
    netbuf_api::cursor_handle second = nullptr;
    for (; t.cursor_valid(c) != 0; t.cursor_next(c)) {
        void* p = nullptr;
        std::int32_t n = 0;
        t.cursor_data(c, &p, &n);
        if (seen == "ab|") {
            second = t.cursor_clone(c);
        }
        seen.append(static_cast<const char*>(p), static_cast<std::size_t>(n));
        seen += '|';
    }
    EXPECT_EQ(seen, "ab|cde|f|");
    void* p = &seen;
    std::int32_t n = 9;
    t.cursor_data(c, &p, &n);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(n, 0);
    t.cursor_next(c);
    ASSERT_TRUE(t.cursor_valid(c) != 0);
    t.cursor_data(c, &p, &n);
    EXPECT_EQ(std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)), "ab");
    ASSERT_NE(second, nullptr);
    t.cursor_data(second, &p, &n);
    EXPECT_EQ(std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)), "cde");
    t.cursor_free(second);
    t.cursor_free(c);

    netbuf empty;
    netbuf::cursor walk(empty);
    EXPECT_FALSE(walk.valid());
}

TEST_F(netbuf_local, find_compare_and_match)
{
    netbuf b = chain({"abc", "def"});
    netbuf empty;
    struct find_row {
        char byte;
        std::int32_t n;
        std::int32_t index;
    };
    const find_row finds[] = {{'d', 6, 3},  {'d', 3, -1},  {'a', 0, -1},
                              {'z', 6, -1}, {'f', 100, 5}, {'c', 3, 2}};
    for (const find_row& r : finds) {
        SCOPED_TRACE(testing::Message() << r.byte << " " << r.n);
        EXPECT_EQ(t.find_byte(b.get(), static_cast<unsigned char>(r.byte), r.n), r.index);
    }
    EXPECT_EQ(t.find_byte(empty.get(), 'a', 5), -1);
    EXPECT_EQ(t.find_byte(b.get(), 0x100 + 'e', 6), 4);  // only the low byte counts

    struct compare_row {
        const char* data;
        std::int32_t order;
    };
    const compare_row compares[] = {{"abcdef", 0},   {"abcdeg", -1}, {"abcdee", 1}, {"abc", 1},
                                    {"abcdefg", -1}, {"", 1},        {"b", -1}};
    for (const compare_row& r : compares) {
        SCOPED_TRACE(r.data);
        EXPECT_EQ(t.compare(b.get(), r.data, static_cast<std::int32_t>(std::strlen(r.data))), r.order);
    }
    EXPECT_EQ(t.compare(empty.get(), "", 0), 0);
    EXPECT_EQ(t.compare(empty.get(), "a", 1), -1);

    struct match_row {
        std::int32_t from_end;
        const char* data;
        std::int32_t result;
    };
    const match_row matches[] = {{0, "abcd", 1},    {1, "cdef", 1},   {1, "cdeX", 0},
                                 {0, "abcdefg", 0}, {1, "abcdef", 1}, {0, "", 1}};
    for (const match_row& r : matches) {
        SCOPED_TRACE(testing::Message() << r.from_end << " " << r.data);
        EXPECT_EQ(t.matches(b.get(), r.from_end, r.data, static_cast<std::int32_t>(std::strlen(r.data))),
                  r.result);
    }
}

TEST_F(netbuf_local, heap_blocks_and_reserved_entries)
{
    EXPECT_EQ(t.reserved_12(), 0);
    EXPECT_EQ(t.reserved_21(), 0);
    EXPECT_EQ(t.alloc_block(0), nullptr);
    EXPECT_EQ(t.alloc_block(-5), nullptr);
    t.free_block(t.alloc_block(16));

    netbuf b = netbuf::construct_from_string("ab");
    t.adopt_heap_block(b.get(), t.alloc_block(4), 0, 1);  // freed at once
    void* block = t.alloc_block(3);
    std::memcpy(block, "XYZ", 3);
    t.adopt_heap_block(b.get(), block, 3, 0);
    EXPECT_EQ(b.to_string(), "XYZab");
    EXPECT_EQ(t.reserve(b.get(), 0, 1), nullptr);
    EXPECT_EQ(t.reserve(b.get(), -1, 0), nullptr);
    EXPECT_EQ(b.size(), 5u);
}

int released_memory = 0;
void __cdecl note_release(void*)
{
    ++released_memory;
}

// A buffer cannot grow past what a 32-bit count describes; the operation fails without changing
// the buffer.
TEST_F(netbuf_local, byte_count_never_overflows)
{
    static char never_read[1];
    released_memory = 0;
    {
        netbuf b;
        t.adopt_buffer(b.get(), never_read, netbuf_api::all, 1, 0, &note_release, nullptr, 1);
        EXPECT_THROW(b.append_byte('x'), std::bad_alloc);
        EXPECT_THROW(t.append_shared(b.get(), b.get(), 1), std::bad_alloc);
        netbuf one = netbuf::construct_from_string("1");
        EXPECT_THROW(t.splice_ex(b.get(), one.get(), 0, 0), std::bad_alloc);
        EXPECT_EQ(b.size(), static_cast<std::size_t>(netbuf_api::all));
        EXPECT_EQ(slices(b).size(), 1u);
        EXPECT_EQ(one.size(), 1u);
        EXPECT_THROW(t.adopt_buffer(b.get(), never_read, 1, 1, 0, &note_release, nullptr, 1), std::bad_alloc);
        EXPECT_EQ(released_memory, 1);  // the refused memory is given back at once
    }
    EXPECT_EQ(released_memory, 2);
}

}  // namespace
