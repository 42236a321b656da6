#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantor/core/list_base.h"

namespace {

// Counts live values so that each test can prove every value was destroyed exactly once.
struct counted {
    static inline int live = 0;

    explicit counted(std::string t) : text(std::move(t))
    {
        if (text == "fail") {
            throw std::runtime_error("refused");
        }
        ++live;
    }
    counted(const counted& other) : text(other.text) { ++live; }
    ~counted() { --live; }

    std::string text;
};

class list_test : public ::testing::Test {
protected:
    void SetUp() override { counted::live = 0; }
    void TearDown() override { EXPECT_EQ(counted::live, 0); }

    static std::string forward(const vantor_stl::list<counted>& l)
    {
        std::string out;
        for (const counted& c : l) {
            out += c.text;
        }
        return out;
    }
    static std::string backward(const vantor_stl::list<counted>& l)
    {
        std::string out;
        auto it = l.end();
        for (std::size_t i = 0; i < l.size(); ++i) {
            --it;
            out += it->text;
        }
        return out;
    }
    // Builds the list "a", "b", ... from the letters of `letters`.
    static void fill(vantor_stl::list<counted>& l, const std::string& letters)
    {
        for (char c : letters) {
            l.emplace_back(std::string(1, c));
        }
    }
};

TEST_F(list_test, pushes_link_at_both_ends)
{
    vantor_stl::list<counted> l;
    l.push_back(counted("b"));
    l.push_front(counted("a"));
    l.emplace_back("c");
    EXPECT_EQ(l.size(), 3u);
    EXPECT_EQ(forward(l), "abc");
    EXPECT_EQ(backward(l), "cba");
    EXPECT_EQ(l.front().text, "a");
    EXPECT_EQ(l.back().text, "c");
    l.pop_front();
    l.pop_back();
    EXPECT_EQ(forward(l), "b");
}

TEST_F(list_test, the_end_position_steps_to_either_end)
{
    vantor_stl::list<counted> l;
    fill(l, "xyz");
    auto at_end = l.end();
    ++at_end;
    EXPECT_EQ(at_end->text, "x");
    at_end = l.end();
    --at_end;
    EXPECT_EQ(at_end->text, "z");
}

TEST_F(list_test, erasing_the_only_node_empties_the_list)
{
    vantor_stl::list_base base(&vantor_stl::element_ops_of<counted>);
    counted value("only");
    base.push_back_copy(&value);
    vantor_stl::list_base::node* n = base.first();
    base.erase_node(nullptr);  // nothing
    EXPECT_EQ(base.size(), 1u);
    base.erase_node(n);
    EXPECT_EQ(base.first(), nullptr);
    EXPECT_EQ(base.last(), nullptr);
    EXPECT_EQ(base.size(), 0u);
    EXPECT_TRUE(base.begin() == base.end());
    base.pop_front();  // on an empty list: nothing
    base.pop_back();
    EXPECT_EQ(base.size(), 0u);
}

TEST_F(list_test, erase_range_and_single_erase)
{
    struct row {
        const char* name;
        std::size_t from;  // index of the first erased node
        std::size_t to;    // index of the first kept node; 5 is the end position
        const char* left;
    };
    const row rows[] = {
        {"middle", 1, 3, "ade"},
        {"tail up to the end position", 2, 5, "ab"},
        {"everything", 0, 5, ""},
        {"empty range", 2, 2, "abcde"},
        {"head", 0, 1, "bcde"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        vantor_stl::list<counted> l;
        fill(l, "abcde");
        auto from = l.begin();
        for (std::size_t i = 0; i < r.from; ++i) {
            ++from;
        }
        auto to = l.begin();
        for (std::size_t i = 0; i < r.to; ++i) {
            ++to;
        }
        l.erase(from, to);
        const std::string left = r.left;
        EXPECT_EQ(forward(l), left);
        EXPECT_EQ(backward(l), std::string(left.rbegin(), left.rend()));
        EXPECT_EQ(l.size(), std::string(r.left).size());
    }
    vantor_stl::list<counted> l;
    fill(l, "abc");
    auto after = l.erase(++l.begin());
    EXPECT_EQ(after->text, "c");
    EXPECT_EQ(forward(l), "ac");
}

TEST_F(list_test, copies_are_independent_and_swap_exchanges_everything)
{
    vantor_stl::list<counted> a;
    fill(a, "abc");
    vantor_stl::list<counted> b(a);
    b.front().text = "z";
    EXPECT_EQ(forward(a), "abc");
    EXPECT_EQ(forward(b), "zbc");
    vantor_stl::list<counted> c;
    fill(c, "q");
    a.swap(c);
    EXPECT_EQ(forward(a), "q");
    EXPECT_EQ(forward(c), "abc");
    EXPECT_EQ(backward(c), "cba");
    c = b;
    EXPECT_EQ(forward(c), "zbc");
}

TEST_F(list_test, clear_keeps_the_list_usable)
{
    vantor_stl::list<counted> l;
    fill(l, "abc");
    l.clear();
    EXPECT_TRUE(l.empty());
    EXPECT_TRUE(l.begin() == l.end());
    fill(l, "d");
    EXPECT_EQ(forward(l), "d");
}

TEST_F(list_test, a_failing_construction_links_nothing)
{
    vantor_stl::list<counted> l;
    fill(l, "ab");
    EXPECT_THROW(l.emplace_back("fail"), std::runtime_error);
    EXPECT_EQ(l.size(), 2u);
    EXPECT_EQ(forward(l), "ab");
    EXPECT_EQ(backward(l), "ba");
}

TEST_F(list_test, an_impossible_value_allocation_throws_bad_alloc)
{
    if constexpr (sizeof(void*) != 4) {
        GTEST_SKIP() << "a 64-bit heap may grant the largest block a record can describe";
    }
    // A value record larger than any heap block a 32-bit process can have.
    static const vantor_stl::element_ops huge{
        0x90000000u, [](void*) { ADD_FAILURE() << "destroyed"; },
        [](void*) { ADD_FAILURE() << "constructed"; },
        [](void*, const void*) { ADD_FAILURE() << "copied"; }};
    vantor_stl::list_base l(&huge);
    int source = 0;
    EXPECT_THROW(l.push_back_copy(&source), std::bad_alloc);
    EXPECT_THROW(l.push_front(&source), std::bad_alloc);
    EXPECT_EQ(l.size(), 0u);
    EXPECT_EQ(l.first(), nullptr);
}

}  // namespace
