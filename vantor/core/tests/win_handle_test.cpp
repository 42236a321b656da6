#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "vantor/core/win_handle.h"

namespace {

bool is_open(HANDLE h)
{
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

TEST(win_handle, close_destroy_and_release)
{
    vantor::win_handle empty;
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.close(), FALSE);
    empty.destroy();

    vantor::win_event e(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(e);
    HANDLE raw = e.get();
    EXPECT_NE(e.close(), FALSE);
    EXPECT_FALSE(e);
    EXPECT_FALSE(is_open(raw));

    vantor::win_handle kept(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE released = kept.release();
    EXPECT_FALSE(kept);
    EXPECT_TRUE(is_open(released));
    vantor::win_handle again(released);
    vantor::win_handle moved = std::move(again);
    EXPECT_FALSE(again);
    EXPECT_EQ(moved.get(), released);
    moved.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_FALSE(is_open(released));
    moved.destroy();
    EXPECT_FALSE(moved);
}

TEST(win_handle, closing_keeps_the_last_error)
{
    HANDLE raw = nullptr;
    {
        vantor::win_handle h(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        raw = h.get();
        SetLastError(1234);
    }
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_FALSE(is_open(raw));

    vantor::win_handle h(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SetLastError(4321);
    h.reset();
    EXPECT_EQ(GetLastError(), 4321u);
    vantor::win_handle c(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SetLastError(77);
    EXPECT_NE(c.close(), FALSE);
    EXPECT_EQ(GetLastError(), 77u);
}

TEST(win_handle, file_handles_treat_invalid_and_null_as_empty)
{
    vantor::win_file_handle none;
    EXPECT_EQ(none.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(none);
    EXPECT_EQ(none.close(), FALSE);
    vantor::win_file_handle null_value(nullptr);
    EXPECT_FALSE(null_value);
    // A kernel handle owner keeps INVALID_HANDLE_VALUE, the current process's pseudo-handle.
    vantor::win_handle process(GetCurrentProcess());
    EXPECT_TRUE(process);
    HANDLE pseudo = process.release();
    EXPECT_EQ(pseudo, GetCurrentProcess());
}

TEST(wait_any_handle, reports_positions_in_the_given_vector)
{
    vantor::win_event quiet(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    vantor::win_event set(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    EXPECT_EQ(vantor::wait_any_handle({nullptr, quiet.get(), nullptr, set.get()}), 3u);
    // A handle listed twice: the first position counts.
    EXPECT_EQ(vantor::wait_any_handle({quiet.get(), set.get(), nullptr, set.get()}), 1u);
    EXPECT_EQ(vantor::wait_any_handle({nullptr, nullptr}), WAIT_FAILED);
    EXPECT_EQ(vantor::wait_any_handle({}), WAIT_FAILED);

    // More than 64 handles: the first 64 non-null ones are waited on.
    std::vector<HANDLE> many(70, quiet.get());
    many[0] = nullptr;
    many[40] = set.get();
    EXPECT_EQ(vantor::wait_any_handle(many), 40u);
}

TEST(wait_any_handle, abandoned_mutex_counts_as_signalled)
{
    vantor::win_handle mutex(CreateMutexW(nullptr, FALSE, nullptr));
    vantor::win_event quiet(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread owner([&] { WaitForSingleObject(mutex.get(), INFINITE); });
    owner.join();  // ends while owning the mutex
    EXPECT_EQ(vantor::wait_any_handle({quiet.get(), nullptr, mutex.get()}), 2u);
}

}  // namespace
