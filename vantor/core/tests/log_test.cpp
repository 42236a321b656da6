#include "vantor/core/log.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "vantor/core/host_hooks.h"

namespace {

// Collects the lines that reach the process's writer while it lives.
class line_capture {
public:
    line_capture() { vantor::set_log_line_observer(&line_capture::observe, this); }
    ~line_capture() { vantor::set_log_line_observer(nullptr, nullptr); }
    line_capture(const line_capture&) = delete;
    line_capture& operator=(const line_capture&) = delete;

    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }

protected:
    virtual void on_line(const std::string&) {}

private:
    static void observe(const char* text, std::size_t length, void* context)
    {
        auto* self = static_cast<line_capture*>(context);
        std::string line(text, length);
        {
            std::lock_guard<std::mutex> guard(self->lock_);
            self->lines_.push_back(line);
        }
        self->on_line(line);
    }

    std::mutex lock_;
    std::vector<std::string> lines_;
};

using lines = std::vector<std::string>;

TEST(log_line, channel_tag_and_message)
{
    const std::string tag = "KOVA_ENCODER.0 ";
    struct row {
        const char* label;
        vantor::log_context context;
        const char* expected;
    };
    const row rows[] = {
        {"channel", vantor::log_context{"clipboard"}, "clipboard: text"},
        {"tag first", vantor::log_context{"clipboard", &tag}, "KOVA_ENCODER.0 clipboard: text"},
        {"no channel", vantor::log_context{nullptr, &tag}, "text"},
        {"empty channel", vantor::log_context{"", &tag}, "text"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        line_capture capture;
        r.context.write("text");
        EXPECT_EQ(capture.lines(), lines{r.expected});
    }
}

TEST(log_line, formatted_and_gated_by_level)
{
    line_capture capture;
    const vantor::log_context ctx{"vantor::init"};
    ctx.log(VANTOR_FMT("invalid api provided (want=16, got=%1%)"), 15);
    ctx.emit(1, "above the maximum level", 23);
    ctx.emit(-3, "below it", 8);
    EXPECT_EQ(capture.lines(), (lines{"vantor::init: invalid api provided (want=16, got=15)", "vantor::init: below it"}));
}

TEST(log_line, observer_sees_escaped_lines)
{
    line_capture capture;
    vantor::log_context{"clipboard"}.write("a\rb\nc`d\te");
    EXPECT_EQ(capture.lines(), lines{"clipboard: a`0db`0ac`60d`09e"});
}

TEST(log_line, observer_may_log_and_flush)
{
    // The observer runs inside a drain; its own line follows with the next one and its flush
    // must not wait for the drain it runs in.
    struct relogging : line_capture {
        void on_line(const std::string& line) override
        {
            if (line == "t: outer") {
                vantor::log_context{"t"}.write("inner");
                vantor::log_flush();
            }
        }
    } capture;
    vantor::log_context{"t"}.write("outer");
    vantor::log_flush();
    EXPECT_EQ(capture.lines(), (lines{"t: outer", "t: inner"}));
}

TEST(log_tag, built_from_prefix_name_and_number)
{
    struct row {
        std::string prefix;
        const char* name;
        unsigned number;
        const char* tag;
    };
    const row rows[] = {
        {"", "KOVA_ENCODER", 0, "KOVA_ENCODER.0 "},
        {"KOVA_ENCODER.0 ", "CO", 1, "KOVA_ENCODER.0.CO.1 "},
        {"KOVA_ENCODER.0.CO.1 ", "CLIP_LO", 12, "KOVA_ENCODER.0.CO.1.CLIP_LO.12 "},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.tag);
        EXPECT_EQ(vantor::make_log_tag(r.prefix, r.name, r.number), r.tag);
    }
}

std::vector<std::string> sink_lines;
std::int32_t sink_result = 0;

std::int32_t __cdecl host_sink(const char* text, std::int32_t length)
{
    sink_lines.emplace_back(text, static_cast<std::size_t>(length));
    return sink_result;
}

int host_flushes = 0;
void __cdecl host_flush()
{
    ++host_flushes;
}

class log_host : public ::testing::Test {
protected:
    void SetUp() override
    {
        sink_lines.clear();
        host_flushes = 0;
        vantor::host().log_sink = host_sink;
        vantor::host().log_flush = host_flush;
    }
    void TearDown() override
    {
        vantor::host().log_sink = nullptr;
        vantor::host().log_flush = nullptr;
    }
};

TEST_F(log_host, sink_takes_lines_unchanged_and_zero_keeps_them)
{
    line_capture capture;
    sink_result = 0;
    vantor::log_context{"desktop"}.write("taken\tby the host");
    sink_result = 1;
    vantor::log_context{"desktop"}.write("also local");
    EXPECT_EQ(sink_lines, (lines{"desktop: taken\tby the host", "desktop: also local"}));
    EXPECT_EQ(capture.lines(), lines{"desktop: also local"});
}

TEST_F(log_host, flush_calls_the_hosts_flush)
{
    vantor::log_flush();
    vantor::log_flush_at_exit();
    EXPECT_EQ(host_flushes, 2);
}

}  // namespace
