#include "vantor/core/log_dumper.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vantor/core/log.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/thread.h"

namespace {

namespace fs = std::filesystem;

std::string read_bytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string utf8(const fs::path& path)
{
    return vantor::from_wide(3, path.wstring());
}

// The golden files lie beside this source; under Wine the build tree is on drive Z:.
fs::path data_file(const char* name)
{
    std::string here = __FILE__;
    std::string folder = here.substr(0, here.find_last_of("/\\"));
    if (!folder.empty() && folder[0] == '/') {
        folder = "Z:" + folder;
    }
    return fs::path(folder) / "data" / name;
}

// A clock that answers the values of a table, one per call, and then the last value again.
struct table_clock {
    static inline std::vector<std::int64_t> values;
    static inline std::atomic<std::size_t> next{0};

    static void set(std::vector<std::int64_t> v)
    {
        values = std::move(v);
        next = 0;
    }
    static std::int64_t read()
    {
        std::size_t i = next++;
        return values[i < values.size() ? i : values.size() - 1];
    }
};

std::int64_t epoch_clock()
{
    return 0;
}

constexpr const char epoch[] = "1970-01-01T00:00:00Z";

std::string record(const std::string& line)
{
    return std::string(epoch) + " " + line + "\r\n";
}

// A fresh folder for the test's log files, removed afterwards, and a writer of its own that
// writes without echo and stamps every line with the epoch.
class log_file : public ::testing::Test {
protected:
    void SetUp() override
    {
        static std::atomic<int> counter{0};
        folder_ = fs::temp_directory_path() /
                  ("vantor_log_" + std::to_string(_getpid()) + "_" + std::to_string(counter++));
        fs::create_directories(folder_);
        dumper_ = std::make_unique<vantor::log_dumper>();
        dumper_->set_echo(false);
        dumper_->set_clock(&epoch_clock);
    }
    void TearDown() override
    {
        dumper_.reset();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    fs::path use_file(const char* name)
    {
        fs::path p = folder_ / name;
        dumper_->set_file(utf8(p));
        return p;
    }

    void write(std::initializer_list<const char*> lines)
    {
        for (const char* line : lines) {
            dumper_->enqueue(line);
        }
        dumper_->flush();
    }

    fs::path folder_;
    std::unique_ptr<vantor::log_dumper> dumper_;
};

TEST_F(log_file, helper_log_matches_golden_file)
{
    // Twelve filler lines that the cap cuts, then escaping, folding and the stamps around a
    // leap day's midnight, then one line past the cap.
    std::vector<std::string> lines;
    for (int i = 0; i < 12; ++i) {
        char head[16];
        std::snprintf(head, sizeof head, "filler %02d: ", i);
        lines.push_back(head + std::string("abcdefghijabcdefghijabcdefghijabcdefghij"));
    }
    for (const char* l : {"clipboard: tab\there\r\nback`quote \x7f\xc3\xa9 end", "repeat: twenty chars",
                          "repeat: twenty chars", "repeat: twenty chars", "next: different line", "short line",
                          "short line", "abc: 0123456789", "abc: 0123456789", "abc: 012345678", "abc: 012345678",
                          "stamp: same text here", "stamp: same text here"}) {
        lines.push_back(l);
    }
    // 2024-02-29T23:59:47Z, one second per line; the clock fails for the last repeated line.
    std::vector<std::int64_t> clock;
    for (std::size_t i = 0; i <= lines.size(); ++i) {
        clock.push_back(1709251187000 + static_cast<std::int64_t>(i) * 1000);
    }
    clock[lines.size() - 1] = -1;
    table_clock::set(clock);
    dumper_->set_clock(&table_clock::read);

    fs::path file = use_file("kova_stream.out");
    for (const std::string& l : lines) {
        dumper_->enqueue(l);
    }
    dumper_->flush();
    ASSERT_EQ(fs::file_size(file), 1367u);
    dumper_->set_size_cap(1120);
    write({"last: line after the cap"});

    EXPECT_EQ(read_bytes(file), read_bytes(data_file("log_helper_file.golden")));
}

TEST_F(log_file, cap_keeps_the_newest_half)
{
    const std::string line = "cap: one more line";
    const std::size_t cap = vantor::helper_log_size_cap;
    struct row {
        const char* label;
        std::size_t size_after;  // the file's size once the line is written
        bool cut;
    };
    const row rows[] = {
        {"at the cap", cap, false},
        {"one byte past", cap + 1, true},
        {"600 KiB", 600 * 1024, true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        fs::path file = use_file("capped.out");
        std::string before(r.size_after - record(line).size(), '\0');
        for (std::size_t i = 0; i < before.size(); ++i) {
            before[i] = static_cast<char>('a' + i % 26);
        }
        write_bytes(file, before);
        dumper_->set_size_cap(static_cast<std::uint32_t>(cap));
        write({line.c_str()});
        std::string whole = before + record(line);
        std::string expected = r.cut ? whole.substr(whole.size() - cap / 2) : whole;
        std::string got = read_bytes(file);
        EXPECT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected) << "the kept bytes differ";
        fs::remove(file);
    }
}

TEST_F(log_file, folding_stops_when_the_file_changes)
{
    const char* line = "repeat: twenty chars";
    fs::path first = use_file("first.out");
    write({line, line});
    write({line});  // rewrites the counter line that the previous batch wrote
    const std::string first_content = record(line) + epoch + " -          2 - \r\n";
    EXPECT_EQ(read_bytes(first), first_content);

    // The next repeat would rewrite the end of the file in place: in another file that end
    // holds other data.
    fs::path second = folder_ / "second.out";
    const std::string existing = "existing content of another program, kept intact\r\n";
    write_bytes(second, existing);
    dumper_->set_file(utf8(second));
    write({line});
    EXPECT_EQ(read_bytes(second), existing + record(line));
    EXPECT_EQ(read_bytes(first), first_content);

    // So does a file that someone else shortened.
    write({line});
    write_bytes(second, "x");
    write({line});
    EXPECT_EQ(read_bytes(second), "x" + record(line));
}

TEST_F(log_file, names_become_full_paths)
{
    EXPECT_EQ(dumper_->set_file("kova_stream.out"), "");
    std::string full = utf8(fs::current_path() / "kova_stream.out");
    EXPECT_EQ(dumper_->file(), full);
    EXPECT_EQ(dumper_->set_file(""), full);
    EXPECT_EQ(dumper_->file(), "");
}

TEST_F(log_file, flush_without_lines_returns_and_writes_nothing)
{
    fs::path file = use_file("never.out");
    dumper_->flush();
    EXPECT_FALSE(fs::exists(file));
}

// Holds the first thread start instead of running it, as the loader lock holds a new thread
// until DllMain returns.
std::atomic<void(__cdecl*)(void*)> held_entry{nullptr};
void* held_argument = nullptr;

std::uintptr_t __cdecl holding_begin(void(__cdecl* entry)(void*), unsigned stack, void* argument)
{
    if (held_entry.load() == nullptr) {
        held_argument = argument;
        held_entry.store(entry);
        return 1;
    }
    return _beginthread(entry, stack, argument);
}

TEST_F(log_file, first_line_does_not_wait_for_the_writer_thread)
{
    fs::path file = use_file("first_line.out");
    held_entry = nullptr;
    vantor::set_begin_thread_for_testing(holding_begin);
    dumper_->enqueue("dll start: before the writer runs");
    vantor::set_begin_thread_for_testing(nullptr);
    ASSERT_NE(held_entry.load(), nullptr);
    EXPECT_FALSE(fs::exists(file));

    ASSERT_NE(_beginthread(held_entry.load(), 0, held_argument), static_cast<std::uintptr_t>(-1));
    dumper_->flush();
    EXPECT_EQ(read_bytes(file), record("dll start: before the writer runs"));
}

TEST_F(log_file, first_line_under_the_loader_lock)
{
    using lock_fn = LONG(NTAPI*)(ULONG flags, ULONG * disposition, ULONG_PTR * cookie);
    using unlock_fn = LONG(NTAPI*)(ULONG flags, ULONG_PTR cookie);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto lock = reinterpret_cast<lock_fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
    auto unlock =
        reinterpret_cast<unlock_fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
    if (lock == nullptr || unlock == nullptr) {
        GTEST_SKIP() << "no loader lock functions";
    }
    fs::path file = use_file("loader_lock.out");
    ULONG disposition = 0;
    ULONG_PTR cookie = 0;
    ASSERT_EQ(lock(0, &disposition, &cookie), 0);
    // As in a DLL's start-up: the writer thread cannot run before the lock is left.
    dumper_->enqueue("dll start: under the loader lock");
    unlock(0, cookie);
    dumper_->flush();
    EXPECT_EQ(read_bytes(file), record("dll start: under the loader lock"));
}

// Sends the error stream to a file while it lives.
class stderr_capture {
public:
    explicit stderr_capture(const fs::path& path) : path_(path)
    {
        std::fflush(stderr);
        fd_ = _wopen(path.c_str(), _O_CREAT | _O_TRUNC | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
        saved_ = _dup(2);
        _dup2(fd_, 2);
    }
    ~stderr_capture() { stop(); }
    std::string stop()
    {
        if (fd_ >= 0) {
            std::fflush(stderr);
            _dup2(saved_, 2);
            _close(saved_);
            _close(fd_);
            fd_ = -1;
        }
        return read_bytes(path_);
    }

private:
    fs::path path_;
    int fd_ = -1;
    int saved_ = -1;
};

TEST_F(log_file, echo_to_the_error_stream)
{
    struct row {
        const char* label;
        bool echo;
        bool stamped;
        const char* line;
        const char* expected;  // null: the line must not appear
    };
    const row rows[] = {
        {"stamped", true, true, "echo: stamped `", "1970-01-01T00:00:00Z echo: stamped `60\n"},
        {"plain", true, false, "echo: plain line", "echo: plain line\n"},
        {"off", false, true, "echo: switched off", nullptr},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        dumper_->set_echo(r.echo);
        dumper_->set_echo_time_stamp(r.stamped);
        stderr_capture capture(folder_ / "stderr.txt");
        write({r.line});
        std::string text = capture.stop();
        // The error stream is in text mode: its line ends may carry a CR.
        std::erase(text, '\r');
        // Other threads of the test program may echo lines of their own meanwhile.
        std::string::size_type at = text.find(r.expected != nullptr ? r.expected : r.line);
        if (r.expected == nullptr) {
            EXPECT_EQ(at, std::string::npos) << text;
        } else {
            ASSERT_NE(at, std::string::npos) << text;
            EXPECT_TRUE(at == 0 || text[at - 1] == '\n') << text;
        }
    }
}

}  // namespace
