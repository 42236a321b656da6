#include "vantor/services/fs_notify.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vantor/core/locks.h"
#include "vantor/core/refc_obj.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"
#include "vantor/services/files_fs.h"

namespace {

namespace fs = vantor::fs;

// Records every report as "kind path" and signals an event per report.
class recorder final : public vantor::fs_notifier_cb {
public:
    recorder() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    void changed(const std::string& path) override
    {
        add("changed " + path);
        if (throw_on_change_) {
            throw_on_change_ = false;
            throw vantor::exception("callback failed");
        }
    }
    void watching(const std::string& path) override
    {
        if (take_process_lock_elsewhere_) {
            // Another thread needs the foundation's process lock while this report runs.
            auto done = std::make_shared<vantor::win_event>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            std::thread([done] {
                vantor::process_lock();
                vantor::process_unlock();
                SetEvent(done->get());
            }).detach();
            lock_was_free_ = WaitForSingleObject(done->get(), 2000) == WAIT_OBJECT_0;
        }
        add("watching " + path);
    }
    void failed(const std::string& path) override { add("failed " + path); }

    // The reports seen so far once at least `count` have arrived (or 5 seconds passed).
    std::vector<std::string> wait_for(std::size_t count)
    {
        ULONGLONG deadline = GetTickCount64() + 5000;
        while (reports().size() < count && GetTickCount64() < deadline) {
            WaitForSingleObject(event_.get(), 100);
        }
        return reports();
    }
    std::vector<std::string> reports()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return reports_;
    }

    bool take_process_lock_elsewhere_ = false;
    bool lock_was_free_ = false;
    bool throw_on_change_ = false;

private:
    void add(const std::string& report)
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            reports_.push_back(report);
        }
        SetEvent(event_.get());
    }

    ~recorder() override = default;

    vantor::win_event event_;
    std::mutex lock_;
    std::vector<std::string> reports_;
};

class fs_notifier_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        root_ = fs::temp_path() + "vantor_notify_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++counter);
        fs::create_directory(root_);
    }
    void TearDown() override
    {
        notifier_.reset();
        if (fs::exists(root_)) {
            fs::remove_tree(root_);
        }
    }

    void make_file(const std::string& name)
    {
        vantor::win_file_handle file(
            CreateFileW(vantor::to_wide(vantor::encoding_utf8, root_ + "\\" + name).c_str(), GENERIC_WRITE, 0,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file.valid());
        DWORD written = 0;
        WriteFile(file.get(), "data", 4, &written, nullptr);
    }

    std::string root_;
    vantor::refc_obj<recorder> callback_{new recorder()};
    vantor::refc_obj<vantor::fs_notifier_ex> notifier_;
};

TEST_F(fs_notifier_test, a_created_file_is_reported_once_after_the_settle_time)
{
    notifier_ = vantor::fs_notifier_ex::make(vantor::refc_obj<vantor::fs_notifier_cb>(callback_.get()), 0);
    notifier_->add_directory(root_);
    ASSERT_EQ(callback_->wait_for(1), std::vector<std::string>{"watching " + root_});

    make_file("a.txt");
    make_file("b.txt");
    std::vector<std::string> reports = callback_->wait_for(2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1], "changed " + root_);
    Sleep(400);
    EXPECT_EQ(callback_->reports().size(), 2u);
}

TEST_F(fs_notifier_test, a_missing_directory_fails_and_is_retried_until_it_exists)
{
    std::string missing = root_ + "\\later";
    notifier_ = vantor::fs_notifier_ex::make(vantor::refc_obj<vantor::fs_notifier_cb>(callback_.get()), 150);
    notifier_->add_directory(missing);
    std::vector<std::string> reports = callback_->wait_for(2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0], "failed " + missing);
    EXPECT_EQ(reports[1], "failed " + missing);

    fs::create_directory(missing);
    for (int i = 0; i < 20 && callback_->reports().back() != "watching " + missing; ++i) {
        callback_->wait_for(callback_->reports().size() + 1);
    }
    EXPECT_EQ(callback_->reports().back(), "watching " + missing);
}

TEST_F(fs_notifier_test, reports_run_without_the_process_lock)
{
    callback_->take_process_lock_elsewhere_ = true;
    notifier_ = vantor::fs_notifier_ex::make(vantor::refc_obj<vantor::fs_notifier_cb>(callback_.get()), 0);
    notifier_->add_directory(root_);
    ASSERT_EQ(callback_->wait_for(1).size(), 1u);
    EXPECT_TRUE(callback_->lock_was_free_);
}

TEST_F(fs_notifier_test, a_throwing_change_report_rearms_the_watch)
{
    callback_->throw_on_change_ = true;
    notifier_ = vantor::fs_notifier_ex::make(vantor::refc_obj<vantor::fs_notifier_cb>(callback_.get()), 0);
    notifier_->add_directory(root_);
    ASSERT_EQ(callback_->wait_for(1).size(), 1u);
    make_file("first.txt");
    ASSERT_EQ(callback_->wait_for(3).size(), 3u);  // changed (threw), watching again
    EXPECT_EQ(callback_->reports()[2], "watching " + root_);
    make_file("second.txt");
    std::vector<std::string> reports = callback_->wait_for(4);
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[3], "changed " + root_);
}

TEST_F(fs_notifier_test, more_than_63_directories_are_refused)
{
    notifier_ = vantor::fs_notifier_ex::make(vantor::refc_obj<vantor::fs_notifier_cb>(callback_.get()), 0);
    for (std::size_t i = 0; i < vantor::fs_notifier_ex::max_directories; ++i) {
        notifier_->add_directory(root_);
    }
    EXPECT_THROW(notifier_->add_directory(root_), vantor::exception);
    EXPECT_EQ(callback_->wait_for(63).size(), 63u);
}

}  // namespace
