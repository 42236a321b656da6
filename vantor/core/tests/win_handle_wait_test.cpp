#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "vantor/core/win_handle.h"
#include "vantor/core/win_handle_wait.h"

namespace {

class signal_watch final : public vantor::win_handle_wait {
public:
    static vantor::refc_obj<signal_watch> make(std::atomic<bool>* destroyed = nullptr)
    {
        return vantor::refc_obj<signal_watch>(new signal_watch(destroyed));
    }

    HANDLE called() const { return called_.get(); }
    int calls() const { return calls_.load(); }

protected:
    void on_signalled() override
    {
        ++calls_;
        SetEvent(called_.get());
    }

private:
    explicit signal_watch(std::atomic<bool>* destroyed) : destroyed_(destroyed) {}
    ~signal_watch() override
    {
        if (destroyed_ != nullptr) {
            *destroyed_ = true;
        }
    }

    vantor::win_event called_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<int> calls_{0};
    std::atomic<bool>* destroyed_;
};

// Waits up to five seconds for a condition that another thread makes true.
template <typename Condition>
bool eventually(Condition condition)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > 5000) {
            return false;
        }
        Sleep(1);
    }
    return true;
}

std::string error_text(const vantor::refc_obj<signal_watch>& watch, HANDLE handle)
{
    try {
        vantor::win_handle_wait::register_wait(watch, handle);
    } catch (const vantor::exception& e) {
        return e.what();
    }
    return "no error";
}

TEST(win_handle_wait, calls_back_once_and_can_wait_again)
{
    vantor::win_event handle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    auto watch = signal_watch::make();
    vantor::win_handle_wait::register_wait(watch, handle.get());
    EXPECT_TRUE(watch->registered_for_testing());
    // The registered wait holds its own reference.
    EXPECT_EQ(watch->ref_count_for_testing(), 2);
    EXPECT_EQ(error_text(watch, handle.get()), ":Error in line 28");

    SetEvent(handle.get());
    ASSERT_EQ(WaitForSingleObject(watch->called(), 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(eventually([&] { return !watch->registered_for_testing(); }));
    ASSERT_TRUE(eventually([&] { return watch->ref_count_for_testing() == 1; }));
    EXPECT_EQ(watch->calls(), 1);

    // After the posted unregistering the object takes a new wait.
    ResetEvent(watch->called());
    vantor::win_handle_wait::register_wait(watch, handle.get());
    SetEvent(handle.get());
    ASSERT_EQ(WaitForSingleObject(watch->called(), 5000), WAIT_OBJECT_0);
    ASSERT_TRUE(eventually([&] { return !watch->registered_for_testing(); }));
    EXPECT_EQ(watch->calls(), 2);
}

TEST(win_handle_wait, unregister_drops_the_wait_and_its_reference)
{
    vantor::win_event handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto watch = signal_watch::make();
    vantor::win_handle_wait::register_wait(watch, handle.get());
    watch->unregister();
    EXPECT_FALSE(watch->registered_for_testing());
    EXPECT_EQ(watch->ref_count_for_testing(), 1);
    SetEvent(handle.get());
    EXPECT_EQ(WaitForSingleObject(watch->called(), 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(watch->calls(), 0);
    watch->unregister();
}

TEST(win_handle_wait, wait_keeps_the_object_alive_until_it_is_over)
{
    vantor::win_event handle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> destroyed{false};
    vantor::win_event called;
    {
        auto watch = signal_watch::make(&destroyed);
        HANDLE duplicate = nullptr;
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), watch->called(), GetCurrentProcess(), &duplicate, 0,
                                    FALSE, DUPLICATE_SAME_ACCESS));
        called.reset(duplicate);
        vantor::win_handle_wait::register_wait(watch, handle.get());
    }
    EXPECT_FALSE(destroyed.load());
    SetEvent(handle.get());
    ASSERT_EQ(WaitForSingleObject(called.get(), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(eventually([&] { return destroyed.load(); }));
}

}  // namespace
