#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/refc_obj.h"

namespace {

// Counts destructions; keep makes on_last_release take the object over.
class counted : public vantor::refc_obj_class {
public:
    explicit counted(std::atomic<int>& destroyed) : destroyed_(destroyed) {}
    bool keep = false;
    void destroy_for_test() { delete this; }

protected:
    ~counted() override { ++destroyed_; }
    bool on_last_release() override { return keep; }

private:
    std::atomic<int>& destroyed_;
};

TEST(refc_obj, holders_share_one_count_and_the_last_release_deletes)
{
    std::atomic<int> destroyed{0};
    auto* raw = new counted(destroyed);
    EXPECT_EQ(raw->ref_count_for_testing(), 0);
    {
        vantor::refc_obj<counted> a(raw);
        EXPECT_EQ(raw->ref_count_for_testing(), 1);
        vantor::refc_obj<counted> b = a;
        vantor::refc_obj<counted> c = a.get_checked();
        EXPECT_EQ(c.get(), raw);
        EXPECT_EQ(raw->ref_count_for_testing(), 3);
        b.reset();
        EXPECT_FALSE(b);
        EXPECT_EQ(raw->ref_count_for_testing(), 2);
        vantor::refc_obj<counted> d = std::move(c);
        EXPECT_FALSE(c);
        EXPECT_EQ(raw->ref_count_for_testing(), 2);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(refc_obj, self_assignment_keeps_the_object)
{
    std::atomic<int> destroyed{0};
    vantor::refc_obj<counted> a(new counted(destroyed));
    auto& same = a;
    a = same;
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(a->ref_count_for_testing(), 1);
    a = std::move(same);
    EXPECT_EQ(destroyed, 0);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->ref_count_for_testing(), 1);
}

TEST(refc_obj, assignment_releases_the_old_object)
{
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    vantor::refc_obj<counted> a(new counted(first));
    vantor::refc_obj<counted> b(new counted(second));
    a = b;
    EXPECT_EQ(first, 1);
    EXPECT_EQ(b->ref_count_for_testing(), 2);
    vantor::refc_obj<counted> c(new counted(first));
    a = std::move(c);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(b->ref_count_for_testing(), 1);
    EXPECT_FALSE(c);
}

TEST(refc_obj, get_checked_on_an_empty_holder_raises_535)
{
    vantor::refc_obj<counted> empty;
    try {
        empty.get_checked();
        FAIL() << "no exception";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), ":Error in line 535");
    }
}

TEST(refc_obj, object_kept_by_on_last_release_counts_from_zero_again)
{
    std::atomic<int> destroyed{0};
    auto* raw = new counted(destroyed);
    raw->keep = true;
    vantor::refc_obj<counted>(raw).reset();
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(raw->ref_count_for_testing(), 0);
    {
        vantor::refc_obj<counted> again(raw);
        EXPECT_EQ(raw->ref_count_for_testing(), 1);
        raw->keep = false;
    }
    EXPECT_EQ(destroyed, 1);
}

// An interface and an implementation base that both reach the counted base: one count.
class shape_ifc : public virtual vantor::refc_obj_class {
public:
    virtual int sides() const = 0;
};

class tracked : public virtual vantor::refc_obj_class {
public:
    explicit tracked(std::atomic<int>& destroyed) : destroyed_(destroyed) {}

protected:
    ~tracked() override { ++destroyed_; }

private:
    std::atomic<int>& destroyed_;
};

class square : public shape_ifc, public tracked {
public:
    explicit square(std::atomic<int>& destroyed) : tracked(destroyed) {}
    int sides() const override { return 4; }
};

TEST(refc_obj, virtual_base_gives_one_count_through_every_interface)
{
    std::atomic<int> destroyed{0};
    vantor::refc_obj<square> impl(new square(destroyed));
    vantor::refc_obj<shape_ifc> ifc = impl;
    vantor::refc_obj<tracked> other(impl.get());
    EXPECT_EQ(ifc->sides(), 4);
    EXPECT_EQ(impl->ref_count_for_testing(), 3);
    impl.reset();
    ifc.reset();
    EXPECT_EQ(destroyed, 0);
    other.reset();
    EXPECT_EQ(destroyed, 1);
}

class node : public vantor::refc_obj_class_strong {
public:
    explicit node(std::atomic<int>& destroyed, bool survive = false)
        : destroyed_(destroyed), survive_(survive)
    {
    }
    void destroy_for_test() { delete this; }
    int magic = 0x600d;

protected:
    ~node() override
    {
        magic = 0;
        ++destroyed_;
    }
    bool on_last_strong_release() override { return survive_; }

private:
    std::atomic<int>& destroyed_;
    bool survive_;
};

TEST(refc_weak, promotes_while_the_object_lives_and_never_after)
{
    std::atomic<int> destroyed{0};
    vantor::refc_obj<node> strong(new node(destroyed));
    vantor::refc_weak<node> weak(strong);
    vantor::refc_weak<node> copy = weak;
    {
        vantor::refc_obj<node> promoted = weak.lock();
        ASSERT_EQ(promoted.get(), strong.get());
        EXPECT_EQ(strong->ref_count_for_testing(), 2);
    }
    EXPECT_EQ(strong->ref_count_for_testing(), 1);
    strong.reset();
    EXPECT_EQ(destroyed, 1);
    // The weak block outlives the object while weak holders keep it.
    EXPECT_FALSE(weak.lock());
    EXPECT_FALSE(copy.lock());
    EXPECT_FALSE(vantor::refc_weak<node>().lock());
}

TEST(refc_weak, an_object_at_count_zero_is_never_promoted)
{
    std::atomic<int> destroyed{0};
    // A new object nobody holds yet.
    auto* fresh = new node(destroyed);
    vantor::refc_weak<node> weak(fresh);
    EXPECT_FALSE(weak.lock());
    EXPECT_EQ(fresh->ref_count_for_testing(), 0);
    vantor::refc_obj<node> held(fresh);
    EXPECT_TRUE(weak.lock());

    // An object whose last strong release kept it alive: its memory is there, its weak holders
    // are cut off for good.
    auto* survivor = new node(destroyed, true);
    vantor::refc_obj<node> s(survivor);
    vantor::refc_weak<node> weak_survivor(s);
    s.reset();
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(survivor->magic, 0x600d);
    EXPECT_FALSE(weak_survivor.lock());
    vantor::refc_obj<node> again(survivor);
    EXPECT_FALSE(weak_survivor.lock());
    again.reset();
    EXPECT_EQ(destroyed, 0);
    survivor->destroy_for_test();
    EXPECT_EQ(destroyed, 1);
}

// Several threads promote their own weak holder in a loop while the main thread drops the last
// strong reference. A promotion must either fail or give a live object, and each object must be
// destroyed exactly once, after the last promoted holder is gone.
TEST(refc_weak, promotion_races_with_the_last_release)
{
    constexpr int promoters = 4;
    constexpr int max_rounds = 300;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);

    std::atomic<int> destroyed{0};
    std::atomic<int> round{0};
    std::atomic<int> finished{0};
    std::atomic<int> bad{0};
    std::atomic<long> promotions{0};
    std::atomic<long> round_promotions{0};
    std::atomic<bool> stop{false};
    vantor::refc_weak<node> shared_weak;

    std::vector<std::thread> threads;
    for (int t = 0; t < promoters; ++t) {
        threads.emplace_back([&] {
            int seen = 0;
            for (;;) {
                while (round.load() == seen && !stop.load()) {
                    std::this_thread::yield();
                }
                if (stop.load()) {
                    return;
                }
                seen = round.load();
                vantor::refc_weak<node> weak = shared_weak;
                for (;;) {
                    vantor::refc_obj<node> p = weak.lock();
                    if (!p) {
                        break;
                    }
                    if (p->magic != 0x600d) {
                        ++bad;
                    }
                    ++promotions;
                    ++round_promotions;
                }
                weak.reset();
                ++finished;
            }
        });
    }

    int rounds = 0;
    while (rounds < max_rounds && std::chrono::steady_clock::now() < deadline) {
        vantor::refc_obj<node> strong(new node(destroyed));
        shared_weak = vantor::refc_weak<node>(strong);
        finished = 0;
        round_promotions = 0;
        ++round;
        // Drop the last strong reference while the promoters are busy with this object.
        for (int spin = 0; spin < 100000 && round_promotions.load() < 2 * promoters; ++spin) {
            std::this_thread::yield();
        }
        strong.reset();
        while (finished.load() < promoters) {
            std::this_thread::yield();
        }
        ++rounds;
        shared_weak.reset();
        if (destroyed.load() != rounds) {
            ADD_FAILURE() << "round " << rounds << ": " << destroyed.load() << " destroyed";
            break;
        }
    }
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(promotions.load(), 0);
    EXPECT_EQ(destroyed.load(), rounds);
}

// A boundary object: add_ref and release in slots 0 and 1, forwarded to the counted base.
class boundary_obj_ifc : public vantor_abi::refc_obj_class {
public:
    virtual int answer() = 0;
};

class boundary_obj : public vantor::refc_obj_class, public boundary_obj_ifc {
public:
    explicit boundary_obj(std::atomic<int>& destroyed) : destroyed_(destroyed) {}
    void add_ref() override { vantor::refc_obj_class::add_ref(); }
    void release() override { vantor::refc_obj_class::release(); }
    int answer() override { return 42; }

protected:
    ~boundary_obj() override { ++destroyed_; }

private:
    std::atomic<int>& destroyed_;
};

TEST(abi_refc, add_ref_and_release_are_the_first_two_slots)
{
#if defined(__i386__)
    using slot = void(__attribute__((thiscall))*)(void*);
#else
    using slot = void (*)(void*);
#endif
    std::atomic<int> destroyed{0};
    auto* obj = new boundary_obj(destroyed);
    vantor_abi::refc_obj_class* abi = obj;
    void** table = *reinterpret_cast<void***>(abi);
    reinterpret_cast<slot>(table[0])(abi);
    reinterpret_cast<slot>(table[0])(abi);
    EXPECT_EQ(obj->ref_count_for_testing(), 2);
    reinterpret_cast<slot>(table[1])(abi);
    EXPECT_EQ(destroyed, 0);
    reinterpret_cast<slot>(table[1])(abi);
    EXPECT_EQ(destroyed, 1);
}

TEST(abi_refc, refc_ptr_counts_and_throws_one_when_empty)
{
    std::atomic<int> destroyed{0};
    auto* obj = new boundary_obj(destroyed);
    {
        vantor_abi::refc_ptr<boundary_obj_ifc> a(obj);
        vantor_abi::refc_ptr<boundary_obj_ifc> b = a;
        EXPECT_EQ(obj->ref_count_for_testing(), 2);
        EXPECT_EQ(a.get_or_throw()->answer(), 42);
        EXPECT_EQ(obj->ref_count_for_testing(), 2);
        boundary_obj_ifc* extra = a.get_checked();
        EXPECT_EQ(obj->ref_count_for_testing(), 3);
        extra->release();
        b.take_release();
        EXPECT_FALSE(b);
        EXPECT_EQ(obj->ref_count_for_testing(), 1);
        a.reset_nothrow();
        EXPECT_EQ(destroyed, 1);

        for (auto read : {0, 1}) {
            SCOPED_TRACE(read);
            try {
                if (read == 0) {
                    a.get_checked();
                } else {
                    a.get_or_throw();
                }
                ADD_FAILURE() << "no exception";
            } catch (int value) {
                EXPECT_EQ(value, 1);
            }
        }
    }
    EXPECT_EQ(destroyed, 1);
}

}  // namespace
