#include <gtest/gtest.h>

#include <cstdint>
#include <list>
#include <map>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/map.h"
#include "vantor/core/vector.h"

namespace {

// An element that counts its live instances, so that every destroy is matched to one
// construction, and that can be told to fail its next copies.
struct tracked {
    static inline int live = 0;
    // Copies to make before one copy fails; -1: never fail.
    static inline int copies_before_failure = -1;

    tracked() : value(0) { ++live; }
    explicit tracked(int v) : value(v)
    {
        if (v < 0) {
            throw std::runtime_error("negative");
        }
        ++live;
    }
    tracked(const tracked& other) : value(other.value)
    {
        if (copies_before_failure == 0) {
            copies_before_failure = -1;
            throw std::runtime_error("copy failed");
        }
        if (copies_before_failure > 0) {
            --copies_before_failure;
        }
        ++live;
    }
    tracked& operator=(const tracked&) = default;
    ~tracked() { --live; }
    bool operator==(const tracked& other) const { return value == other.value; }
    bool operator<(const tracked& other) const { return value < other.value; }

    int value;
};

class live_count_guard : public ::testing::Test {
protected:
    void SetUp() override
    {
        tracked::live = 0;
        tracked::copies_before_failure = -1;
    }
    void TearDown() override
    {
        tracked::copies_before_failure = -1;
        EXPECT_EQ(tracked::live, 0) << "an element was leaked or destroyed twice";
    }
};

template <typename T>
std::vector<T> contents(const vantor_stl::vector<T>& v)
{
    return std::vector<T>(v.begin(), v.end());
}

std::vector<int> values(const vantor_stl::vector<tracked>& v)
{
    std::vector<int> out;
    for (const tracked& t : v) {
        out.push_back(t.value);
    }
    return out;
}

using vector_test = live_count_guard;

TEST_F(vector_test, capacity_doubles_on_push_and_shrinks_below_a_quarter)
{
    vantor_stl::vector<tracked> v;
    EXPECT_EQ(v.capacity(), 0u);
    EXPECT_EQ(v.data(), nullptr);
    const std::size_t after_push[] = {1, 2, 4, 4, 8};
    for (int i = 0; i < 5; ++i) {
        v.emplace_back(i);
        EXPECT_EQ(v.capacity(), after_push[i]) << "after push " << i + 1;
    }
    // Popping reserves for the new size: 4, 3 and 2 stay within 8 <= 4n; 1 drops to 1.
    const std::size_t after_pop[] = {8, 8, 8, 1, 0};
    for (int i = 0; i < 5; ++i) {
        v.pop_back();
        EXPECT_EQ(v.capacity(), after_pop[i]) << "after pop to size " << v.size();
    }
    EXPECT_EQ(v.data(), nullptr);
}

TEST_F(vector_test, alternating_push_and_pop_at_a_boundary_keeps_the_storage)
{
    vantor_stl::vector<int> v;
    for (int i = 0; i < 8; ++i) {
        v.push_back(i);
    }
    v.push_back(8);
    ASSERT_EQ(v.capacity(), 16u);
    const int* storage = v.data();
    for (int round = 0; round < 10; ++round) {
        v.pop_back();
        v.push_back(round);
        EXPECT_EQ(v.data(), storage);
        EXPECT_EQ(v.capacity(), 16u);
    }
}

TEST_F(vector_test, reserve_and_resize_follow_the_policy)
{
    vantor_stl::vector<std::string> v(5);
    EXPECT_EQ(v.capacity(), 5u) << "construction with n gives capacity n";
    EXPECT_EQ(contents(v), std::vector<std::string>(5));
    v.reserve(5);
    EXPECT_EQ(v.capacity(), 5u);
    v.reserve(6);
    EXPECT_EQ(v.capacity(), 8u);
    v.reserve(2);  // below the size: stands for the size
    EXPECT_EQ(v.size(), 5u);
    EXPECT_EQ(v.capacity(), 8u);
    v.resize(9);
    EXPECT_EQ(v.capacity(), 16u);
    v.back() = "last";
    v.resize(3);
    EXPECT_EQ(v.capacity(), 4u);
    EXPECT_EQ(v.size(), 3u);
    v.resize(0);
    EXPECT_EQ(v.capacity(), 0u);

    vantor_stl::vector<int> ints(3);
    EXPECT_EQ(contents(ints), (std::vector<int>{0, 0, 0})) << "default-built ints are zero";
}

TEST_F(vector_test, copy_keeps_the_capacity_and_is_independent)
{
    vantor_stl::vector<tracked> v;
    for (int i = 1; i <= 3; ++i) {
        v.emplace_back(i);
    }
    v.reserve(16);
    ASSERT_EQ(v.capacity(), 16u);
    vantor_stl::vector<tracked> copy(v);
    EXPECT_EQ(copy.capacity(), 16u);
    EXPECT_EQ(values(copy), (std::vector<int>{1, 2, 3}));
    copy[0].value = 9;
    EXPECT_EQ(v[0].value, 1);
    EXPECT_TRUE(v == v);
    EXPECT_FALSE(v == copy);

    vantor_stl::vector<tracked> target;
    target.emplace_back(7);
    target = v;
    EXPECT_EQ(values(target), (std::vector<int>{1, 2, 3}));
    target = target;
    EXPECT_EQ(values(target), (std::vector<int>{1, 2, 3}));

    vantor_stl::vector<tracked> moved(std::move(target));
    EXPECT_EQ(values(moved), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(target.empty());
}

TEST_F(vector_test, at_checks_the_index)
{
    vantor_stl::vector<int> v{4, 5, 6};
    EXPECT_EQ(v.at(2), 6);
    try {
        v.at(3);
        FAIL() << "at(size) did not throw";
    } catch (const vantor_stl::exception& e) {
        EXPECT_STREQ(e.what(), "");
    }
    vantor_stl::vector<int> empty;
    EXPECT_THROW(empty.at(0), vantor_stl::exception);
}

TEST_F(vector_test, insert_in_place_and_with_reallocation)
{
    struct row {
        const char* name;
        std::size_t reserve;  // 0: none
        std::size_t position;
        std::vector<int> expected;
    };
    const row rows[] = {
        {"front, in place", 8, 0, {9, 1, 2, 3, 4}},
        {"middle, in place", 8, 2, {1, 2, 9, 3, 4}},
        {"end, in place", 8, 4, {1, 2, 3, 4, 9}},
        {"front, reallocating", 0, 0, {9, 1, 2, 3, 4}},
        {"middle, reallocating", 0, 2, {1, 2, 9, 3, 4}},
        {"end, reallocating", 0, 4, {1, 2, 3, 4, 9}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        vantor_stl::vector<tracked> v;
        for (int i = 1; i <= 4; ++i) {
            v.emplace_back(i);
        }
        if (r.reserve != 0) {
            v.reserve(r.reserve);
        }
        ASSERT_EQ(v.capacity(), r.reserve != 0 ? r.reserve : 4u);
        auto it = v.insert(v.begin() + r.position, tracked(9));
        EXPECT_EQ(it->value, 9);
        EXPECT_EQ(values(v), r.expected);
        EXPECT_EQ(v.capacity(), 8u);
    }
}

TEST_F(vector_test, inserting_or_pushing_an_own_element_copies_the_right_value)
{
    for (std::size_t reserve : {std::size_t{0}, std::size_t{8}}) {
        SCOPED_TRACE(reserve == 0 ? "reallocating" : "in place");
        vantor_stl::vector<std::string> v{"zero", "one", "two", "three"};
        if (reserve != 0) {
            v.reserve(reserve);
        }
        v.insert(v.begin(), v[2]);
        EXPECT_EQ(contents(v), (std::vector<std::string>{"two", "zero", "one", "two", "three"}));
    }
    vantor_stl::vector<std::string> full{"a", "b", "c", "d"};
    ASSERT_EQ(full.capacity(), full.size());
    full.push_back(full[1]);
    EXPECT_EQ(contents(full), (std::vector<std::string>{"a", "b", "c", "d", "b"}));
}

TEST_F(vector_test, erase_moves_the_tail_and_erasing_all_frees)
{
    vantor_stl::vector<tracked> v;
    for (int i = 0; i < 6; ++i) {
        v.emplace_back(i);
    }
    auto it = v.erase(v.begin() + 1, v.begin() + 3);
    EXPECT_EQ(it->value, 3);
    EXPECT_EQ(values(v), (std::vector<int>{0, 3, 4, 5}));
    EXPECT_EQ(v.capacity(), 8u) << "erasing a range keeps the storage";
    v.erase(v.begin() + 3);
    EXPECT_EQ(values(v), (std::vector<int>{0, 3, 4}));
    v.erase(v.begin(), v.begin());
    EXPECT_EQ(v.size(), 3u);
    v.erase(v.begin(), v.end());
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(v.capacity(), 0u);
    EXPECT_EQ(v.data(), nullptr);
}

TEST_F(vector_test, range_construction_walks_any_input_iterator)
{
    std::list<std::string> source{"x", "y", "z"};
    vantor_stl::vector<std::string> v(source.begin(), source.end());
    EXPECT_EQ(contents(v), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ(v.capacity(), 4u);
    vantor_stl::vector<std::string> none(source.end(), source.end());
    EXPECT_TRUE(none.empty());
}

TEST_F(vector_test, equals_compares_size_and_every_pair)
{
    EXPECT_TRUE((vantor_stl::vector<int>{} == vantor_stl::vector<int>{}));
    EXPECT_TRUE((vantor_stl::vector<int>{1, 2} == vantor_stl::vector<int>{1, 2}));
    EXPECT_FALSE((vantor_stl::vector<int>{1, 2} == vantor_stl::vector<int>{1, 2, 3}));
    EXPECT_FALSE((vantor_stl::vector<int>{1, 2} == vantor_stl::vector<int>{1, 3}));
}

TEST_F(vector_test, a_failing_element_construction_leaves_the_vector_unchanged)
{
    for (std::size_t reserve : {std::size_t{0}, std::size_t{8}}) {
        SCOPED_TRACE(reserve == 0 ? "reallocating" : "in place");
        vantor_stl::vector<tracked> v;
        for (int i = 0; i < 4; ++i) {
            v.emplace_back(i);
        }
        if (reserve != 0) {
            v.reserve(reserve);
        }
        const std::size_t capacity = v.capacity();
        EXPECT_THROW(v.emplace_back(-1), std::runtime_error);
        EXPECT_EQ(values(v), (std::vector<int>{0, 1, 2, 3}));
        EXPECT_EQ(v.capacity(), capacity);

        tracked extra(9);
        // In place the tail moves first (two copies), then the new element fails; with
        // reallocation the new element is built first and fails at once.
        tracked::copies_before_failure = reserve != 0 ? 2 : 0;
        EXPECT_THROW(v.insert(v.begin() + 2, extra), std::runtime_error);
        EXPECT_EQ(values(v), (std::vector<int>{0, 1, 2, 3}));

        // A relocation copy failing half-way keeps the old storage and elements.
        if (reserve == 0) {
            tracked::copies_before_failure = 2;
            EXPECT_THROW(v.push_back(extra), std::runtime_error);
            EXPECT_EQ(values(v), (std::vector<int>{0, 1, 2, 3}));
            EXPECT_EQ(v.capacity(), 4u);
        }
    }
}

TEST_F(vector_test, an_impossible_allocation_throws_bad_alloc)
{
    struct block {
        char bytes[0x10000000];
    };
    vantor_stl::vector<block> blocks;
    // 2^31 blocks of 256 MiB: the byte count overflows a 32-bit size and no 64-bit heap has it.
    EXPECT_THROW(blocks.reserve(0x80000000u), std::bad_alloc);
    EXPECT_TRUE(blocks.empty());

    vantor_stl::vector<char> bytes;
    bytes.push_back('a');
    EXPECT_THROW(bytes.reserve(0x80000001u), std::bad_alloc) << "more elements than a count holds";
    if constexpr (sizeof(void*) == 4) {
        // 2 GiB cannot be had in a 32-bit process.
        EXPECT_THROW(bytes.reserve(0x80000000u), std::bad_alloc);
    }
    EXPECT_EQ(bytes.size(), 1u);
    EXPECT_EQ(bytes[0], 'a');
}

// A map checked against std::map over many random operations.
using map_test = live_count_guard;

template <typename V>
void expect_same(const vantor_stl::map<int, V>& m, const std::map<int, V>& model)
{
    ASSERT_TRUE(m.check_invariants_for_testing());
    ASSERT_EQ(m.size(), model.size());
    auto it = m.begin();
    for (const auto& [k, v] : model) {
        ASSERT_FALSE(it == m.end());
        ASSERT_EQ(it->first, k);
        ASSERT_EQ(it->second, v);
        ++it;
    }
    EXPECT_TRUE(it == m.end());
}

TEST_F(map_test, random_operations_agree_with_std_map)
{
    std::mt19937 random(12345);
    vantor_stl::map<int, int> m;
    std::map<int, int> model;
    for (int step = 0; step < 30000; ++step) {
        int key = static_cast<int>(random() % 1500);
        switch (random() % 5) {
        case 0:
        case 1: {
            int value = static_cast<int>(random());
            auto [it, inserted] = m.insert({key, value});
            auto [model_it, model_inserted] = model.insert({key, value});
            ASSERT_EQ(inserted, model_inserted);
            ASSERT_EQ(it->second, model_it->second);
            break;
        }
        case 2:
            ASSERT_EQ(m.erase(key), model.erase(key));
            break;
        case 3:
            m[key] += 1;
            model[key] += 1;
            break;
        default: {
            auto it = m.find(key);
            ASSERT_EQ(it == m.end(), model.find(key) == model.end());
            if (it != m.end()) {
                // Erasing through an iterator returns the following position.
                auto following = m.erase(it);
                auto model_following = model.erase(model.find(key));
                ASSERT_EQ(following == m.end(), model_following == model.end());
                if (following != m.end()) {
                    ASSERT_EQ(following->first, model_following->first);
                }
            }
            break;
        }
        }
        if (step % 1000 == 0) {
            expect_same(m, model);
        }
    }
    expect_same(m, model);
    // Walking backwards from the end position visits the same entries in reverse.
    auto back = m.end();
    for (auto model_it = model.rbegin(); model_it != model.rend(); ++model_it) {
        --back;
        ASSERT_EQ(back->first, model_it->first);
    }
    EXPECT_TRUE(back == m.begin());
}

TEST_F(map_test, find_or_insert_builds_an_empty_value_once)
{
    vantor_stl::map<int, vantor_stl::vector<int>> m;
    vantor_stl::vector<int>& first = m[7];
    EXPECT_TRUE(first.empty());
    first.push_back(1);
    vantor_stl::vector<int>& second = m[7];
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(second.size(), 1u);
    EXPECT_EQ(m.size(), 1u);
    EXPECT_TRUE(m.contains(7));
    EXPECT_FALSE(m.contains(8));
}

TEST_F(map_test, inserting_a_present_key_keeps_the_old_value)
{
    vantor_stl::map<int, tracked> m;
    EXPECT_TRUE(m.emplace(1, tracked(10)).second);
    auto [it, inserted] = m.emplace(1, tracked(20));
    EXPECT_FALSE(inserted);
    EXPECT_EQ(it->second.value, 10);
    EXPECT_EQ(tracked::live, 1) << "the rejected entry is destroyed";
    EXPECT_EQ(m.size(), 1u);
}

TEST_F(map_test, erase_by_key_reports_whether_it_removed)
{
    vantor_stl::map<int, tracked> m;
    m.emplace(1, tracked(1));
    m.emplace(2, tracked(2));
    EXPECT_EQ(m.erase(3), 0u);
    EXPECT_EQ(m.erase(1), 1u);
    EXPECT_EQ(m.erase(1), 0u);
    EXPECT_EQ(tracked::live, 1);
    m.clear();
    EXPECT_TRUE(m.empty());
    EXPECT_TRUE(m.begin() == m.end());
    m.emplace(5, tracked(5));  // usable after clear
    EXPECT_EQ(m.size(), 1u);
}

TEST_F(map_test, stepping_from_the_end_wraps_to_the_first_or_last_entry)
{
    vantor_stl::map<int, int> m;
    EXPECT_TRUE(m.begin() == m.end());
    for (int k : {5, 1, 9}) {
        m[k] = k * 10;
    }
    auto it = m.end();
    ++it;
    EXPECT_EQ(it->first, 1);
    it = m.end();
    --it;
    EXPECT_EQ(it->first, 9);
    std::vector<int> keys;
    for (const auto& [k, v] : m) {
        keys.push_back(k);
        EXPECT_EQ(v, k * 10);
    }
    EXPECT_EQ(keys, (std::vector<int>{1, 5, 9}));
}

TEST_F(map_test, copies_and_assignments_are_independent)
{
    vantor_stl::map<std::string, vantor_stl::map<std::string, std::string>> m;
    m["s"]["k"] = "v";
    m["t"]["a"] = "b";
    auto copy = m;
    copy["s"]["k"] = "changed";
    EXPECT_EQ(m["s"]["k"], "v");
    EXPECT_EQ(copy.size(), 2u);
    EXPECT_TRUE(copy.check_invariants_for_testing());

    decltype(m) target;
    target["x"]["y"] = "z";
    target = m;
    EXPECT_FALSE(target.contains("x"));
    EXPECT_EQ(target["t"]["a"], "b");
    target = target;
    EXPECT_EQ(target.size(), 2u);
}

TEST_F(map_test, string_keys_order_byte_wise_with_shorter_first)
{
    vantor_stl::map<std::string, int> m;
    for (const char* k : {"b", "ab", "a", "\xff", "z", ""}) {
        m[k] = 0;
    }
    std::vector<std::string> keys;
    for (const auto& entry : m) {
        keys.push_back(entry.first);
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"", "a", "ab", "b", "z", "\xff"}));
}

TEST_F(map_test, a_large_map_is_built_balanced_and_destroyed_completely)
{
    {
        // Ascending keys are the worst case for an unbalanced tree.
        vantor_stl::map<int, tracked> m;
        for (int k = 0; k < 200000; ++k) {
            m.emplace(k, tracked(k));
        }
        EXPECT_EQ(tracked::live, 200000);
        EXPECT_TRUE(m.check_invariants_for_testing());
        auto copy = m;
        EXPECT_EQ(copy.size(), 200000u);
        EXPECT_TRUE(copy.check_invariants_for_testing());
    }
    EXPECT_EQ(tracked::live, 0);
}

TEST_F(map_test, a_set_is_a_map_of_keys)
{
    vantor_stl::set<std::string> s;
    EXPECT_TRUE(s.insert("b").second);
    EXPECT_TRUE(s.insert("a").second);
    EXPECT_FALSE(s.insert("b").second);
    EXPECT_TRUE(s.contains("a"));
    EXPECT_EQ(s.size(), 2u);
    EXPECT_EQ(*s.begin(), "a");
    EXPECT_EQ(s.erase("a"), 1u);
    EXPECT_FALSE(s.contains("a"));
}

TEST_F(map_test, a_failing_entry_construction_leaves_the_map_unchanged)
{
    vantor_stl::map<int, tracked> m;
    m.emplace(1, tracked(1));
    EXPECT_THROW(m.emplace(std::piecewise_construct, std::forward_as_tuple(2),
                           std::forward_as_tuple(-1)),
                 std::runtime_error);
    EXPECT_EQ(m.size(), 1u);
    EXPECT_FALSE(m.contains(2));
    EXPECT_TRUE(m.check_invariants_for_testing());
}

TEST_F(map_test, an_impossible_entry_allocation_throws_bad_alloc)
{
    if constexpr (sizeof(void*) != 4) {
        GTEST_SKIP() << "a 64-bit heap may grant the largest block an entry record can describe";
    }
    // An entry record larger than any heap block a 32-bit process can have.
    static const vantor_stl::element_ops huge{
        0x90000000u, [](void*) { ADD_FAILURE() << "destroyed"; },
        [](void*) { ADD_FAILURE() << "constructed"; },
        [](void*, const void*) { ADD_FAILURE() << "copied"; }};
    static const vantor_stl::key_ops keys{
        [](const void* a, const void* b) {
            return *static_cast<const int*>(a) < *static_cast<const int*>(b);
        },
        [](void*, const void*) { ADD_FAILURE() << "the entry must not be built"; }};
    vantor_stl::map_base m(&huge, &keys);
    int key = 1;
    EXPECT_THROW(m.find_or_insert(&key), std::bad_alloc);
    EXPECT_EQ(m.size(), 0u);
}

}  // namespace
