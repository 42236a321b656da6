#include "vantor/core/crash_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "vantor/core/child_process.h"
#include "vantor/core/crash_report_symbols.h"
#include "vantor/core/tests/child_programs.h"

namespace {

using lines = std::vector<std::string>;

lines split_lines(const std::string& text)
{
    lines out;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        out.push_back(text.substr(start, end - start));
    }
    if (start < text.size()) {
        out.push_back(text.substr(start));
    }
    return out;
}

std::size_t count_prefixed(const lines& record, const std::string& prefix)
{
    std::size_t n = 0;
    for (const std::string& line : record) {
        n += line.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    }
    return n;
}

bool has_line(const lines& record, const std::string& line)
{
    return std::find(record.begin(), record.end(), line) != record.end();
}

bool has_match(const lines& record, const char* pattern)
{
    const std::regex re(pattern);
    for (const std::string& line : record) {
        if (std::regex_match(line, re)) {
            return true;
        }
    }
    return false;
}

std::wstring dump_name(std::uint32_t pid, const wchar_t* program, bool helper, std::size_t room = 64)
{
    std::vector<wchar_t> out(room, L'#');
    std::size_t n = vantor::crash::minidump_file_name(pid, program, helper, out.data(), room);
    EXPECT_EQ(n, std::wcslen(out.data()));
    return out.data();
}

TEST(crash_minidump_name, follows_the_name_rule)
{
    struct row {
        std::uint32_t pid;
        const wchar_t* program;
        bool helper;
        const wchar_t* expected;
    };
    const row rows[] = {
        {1234, L"C:\\Tarvo\\kova_stream.exe", true, L"TARVOMini7kova_stream.dmp"},
        {1234, L"C:\\Tarvo\\kova_stream.exe", false, L"TARVOMini1234kova_stream.dmp"},
        {1, L"C:\\Tarvo\\kova_stream.exe", true, L"TARVOMini0kova_stream.dmp"},
        {21, L"C:\\dir.v2\\tool.x.exe", true, L"TARVOMini0tool.dmp"},
        {4294967295u, L"plain.exe", false, L"TARVOMini4294967295plain.dmp"},
        {8, L"", true, L"TARVOMini4.dmp"},
        {8, nullptr, false, L"TARVOMini8.dmp"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.pid << " " << (r.program ? r.program : L"(none)") << " " << r.helper);
        EXPECT_EQ(dump_name(r.pid, r.program, r.helper), r.expected);
    }
    // A short buffer keeps what fits and stays terminated.
    EXPECT_EQ(dump_name(1234, L"kova_stream.exe", true, 12), L"TARVOMini7k");
}

TEST(crash_minidump_callback, drops_modules_that_no_memory_references)
{
    struct row {
        const char* label;
        ULONG type;
        ULONG flags_in;
        BOOL expected;
        ULONG flags_out;
    };
    const ULONG write = ModuleWriteModule | ModuleWriteDataSeg;
    const row rows[] = {
        {"module not referenced", ModuleCallback, write, TRUE, ModuleWriteDataSeg},
        {"module referenced", ModuleCallback, write | ModuleReferencedByMemory, TRUE, write | ModuleReferencedByMemory},
        {"thread", ThreadCallback, 7, TRUE, 7},
        {"extended thread", ThreadExCallback, 7, TRUE, 7},
        {"include thread", IncludeThreadCallback, 7, TRUE, 7},
        {"include module", IncludeModuleCallback, 7, TRUE, 7},
        {"memory", MemoryCallback, 7, FALSE, 7},
        {"cancel", CancelCallback, 7, FALSE, 7},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        MINIDUMP_CALLBACK_INPUT input{};
        input.CallbackType = r.type;
        MINIDUMP_CALLBACK_OUTPUT output{};
        output.ModuleWriteFlags = r.flags_in;
        EXPECT_EQ(vantor::crash::minidump_callback(nullptr, &input, &output), r.expected);
        EXPECT_EQ(output.ModuleWriteFlags, r.flags_out);
    }
    MINIDUMP_CALLBACK_INPUT input{};
    MINIDUMP_CALLBACK_OUTPUT output{};
    EXPECT_FALSE(vantor::crash::minidump_callback(nullptr, nullptr, &output));
    EXPECT_FALSE(vantor::crash::minidump_callback(nullptr, &input, nullptr));
}

TEST(crash_report_line, cuts_long_text_and_always_ends_the_line)
{
    vantor::crash::report_line line;
    line.append("ea:0x%08X", 0x1234u);
    line.append(" %s", "short");
    line.finish();
    EXPECT_EQ(std::string(line.data(), line.size()), "ea:0x00001234 short\n");

    const std::string long_name(3000, 'n');
    vantor::crash::report_line cut;
    cut.append("bt:%s", long_name.c_str());
    cut.append("%s", "never fits");
    cut.finish();
    const std::string text(cut.data(), cut.size());
    EXPECT_EQ(text.size(), vantor::crash::report_line::capacity - 1);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.compare(0, 6, "bt:nnn"), 0);
    EXPECT_EQ(text.find("never"), std::string::npos);
}

__attribute__((noinline)) int located_function(int x)
{
    return x * 3 + 1;
}

TEST(crash_locations, module_section_of_finds_the_section_of_code)
{
    const auto address = reinterpret_cast<std::uintptr_t>(&located_function);
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr));
    vantor::crash::module_section m;
    char path[2000];
    ASSERT_TRUE(vantor::crash::module_section_of(address, m, path, sizeof(path)));
    EXPECT_EQ(m.base, base);
    EXPECT_TRUE(std::string(path).ends_with("vantor_core_tests.exe")) << path;
    ASSERT_GE(m.section, 1u);

    // The section the lookup names holds the address at the offset it gives.
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER& section = IMAGE_FIRST_SECTION(nt)[m.section - 1];
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(section.Name), 5), ".text");
    EXPECT_EQ(section.VirtualAddress + m.offset, address - base);

    // Heap memory and unmapped addresses belong to no module image.
    std::vector<char> heap(64);
    EXPECT_FALSE(vantor::crash::module_section_of(reinterpret_cast<std::uintptr_t>(heap.data()), m));
    EXPECT_FALSE(vantor::crash::module_section_of(0, m, path, sizeof(path)));
    EXPECT_STREQ(path, "");
}

TEST(crash_locations, describe_address_and_walk_stack_name_this_program)
{
    const auto address = reinterpret_cast<std::uintptr_t>(&located_function) + 4;
    const auto base = reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr));
    char prefix[64];
    std::snprintf(prefix, sizeof(prefix), "(0x%08llX/0x%08llX) ", static_cast<unsigned long long>(address - base),
                  static_cast<unsigned long long>(base));

    // First from the image alone, then (once bound) with what the symbol functions add.
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "before binding" : "after binding");
        if (pass == 1) {
            vantor::crash::bind_symbols();
        }
        vantor::crash::report_line line;
        vantor::crash::describe_address(address, line);
        const std::string text(line.data(), line.size());
        EXPECT_EQ(text.compare(0, std::strlen(prefix), prefix), 0) << text;
        EXPECT_NE(text.find("vantor_core_tests"), std::string::npos) << text;
    }

    CONTEXT context;
    RtlCaptureContext(&context);
    lines frames;
    vantor::crash::line_writer collect{[](void* out, const vantor::crash::report_line& line) noexcept {
                                           static_cast<lines*>(out)->emplace_back(line.data(), line.size());
                                       },
                                       &frames};
    vantor::crash::walk_stack(context, collect);
    ASSERT_TRUE(vantor::crash::symbols_bound());
    EXPECT_GE(frames.size(), 2u);
    EXPECT_LE(frames.size(), 20u);
    for (const std::string& frame : frames) {
        EXPECT_TRUE(std::regex_match(frame, std::regex("bt:0x[0-9A-F]{8,}.*\n"))) << frame;
    }
}

// Runs crash_child in a scratch folder; the folder holds what the handler leaves.
class crash_handler : public testing::Test {
protected:
    std::uint32_t crash(const char* mode, bool helper)
    {
        vantor_stl::vector<std::string> arguments{folder.path(), mode};
        if (helper) {
            arguments.push_back("helper");
        }
        return vantor::run_process_and_wait(test_children::program("crash_child.exe"), arguments, 120);
    }

    std::vector<lines> records()
    {
        std::vector<lines> out(1);
        for (const std::string& line : split_lines(folder.read("coredump.txt"))) {
            if (line.empty()) {
                out.emplace_back();
            } else {
                out.back().push_back(line);
            }
        }
        if (out.back().empty()) {
            out.pop_back();
        }
        return out;
    }

    static std::uint32_t pid_of(const lines& record)
    {
        std::smatch m;
        if (record.empty() || !std::regex_match(record[0], m, std::regex("pid:(\\d+);tid:\\d+"))) {
            ADD_FAILURE() << "no process line";
            return 0;
        }
        return static_cast<std::uint32_t>(std::stoul(m[1]));
    }

    std::string dump_named(std::uint32_t pid, bool helper)
    {
        return std::string("TARVOMini") + std::to_string(helper ? pid / 2 % 10 : pid) + "crash_child.dmp";
    }

    test_children::scratch_folder folder{"vantor_crash"};
};

TEST_F(crash_handler, access_violation_leaves_a_record_and_a_minidump)
{
    ASSERT_EQ(crash("write0", true), 0xC0000005u);

    const std::string text = folder.read("coredump.txt");
    EXPECT_TRUE(text.ends_with("\n\n")) << "a record ends with an empty line";
    const std::vector<lines> all = records();
    ASSERT_EQ(all.size(), 1u) << text;
    const lines& record = all[0];
    EXPECT_TRUE(has_line(record, "ex:0xc0000005")) << text;
    EXPECT_EQ(record[1], "ex:0xc0000005");
    EXPECT_TRUE(has_match(record, "fn:.*\\\\crash_child\\.exe")) << text;
    EXPECT_TRUE(has_match(record, "t:\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ")) << text;
    EXPECT_TRUE(has_match(record, "pn:\\d+;pt:\\d+")) << text;
    EXPECT_TRUE(has_match(record, "gw:\\d+,\\d+\\.\\d{4},\\d+,.*")) << text;
    EXPECT_TRUE((has_match(record, "hc:\\d+;tc:\\d+") && has_match(record, "gps:\\d+;gct:\\d+;gmt:\\d+;gma:\\d+")) ||
                has_match(record, "gm:\\d+,\\d+,\\d+,\\d+,\\d+"))
        << text;
    EXPECT_TRUE(has_line(record, "e:1;ex:0xc0000005;efl:0")) << text;
    EXPECT_TRUE(has_match(record, "ea:0x[0-9A-F]{8,}\\(0x[0-9A-F]{8,}/0x[0-9A-F]{8,}\\) crash_child.*")) << text;
    EXPECT_TRUE(has_line(record, "eaop:w")) << text;
    EXPECT_TRUE(has_line(record, "ep:0x00000001;ep:0x00000000")) << text;
    EXPECT_GE(count_prefixed(record, "bt:0x"), 1u) << text;
    EXPECT_LE(count_prefixed(record, "bt:0x"), 20u) << text;

    const std::string dump = folder.read(dump_named(pid_of(record), true));
    EXPECT_EQ(dump.substr(0, 4), "MDMP");
}

TEST_F(crash_handler, a_second_crash_appends_a_second_record)
{
    ASSERT_EQ(crash("write0", true), 0xC0000005u);
    const std::string first = folder.read("coredump.txt");
    ASSERT_EQ(crash("read0", false), 0xC0000005u);

    const std::string both = folder.read("coredump.txt");
    EXPECT_EQ(both.compare(0, first.size(), first), 0) << "the first record stays as it was";
    const std::vector<lines> all = records();
    ASSERT_EQ(all.size(), 2u) << both;
    EXPECT_TRUE(has_line(all[1], "eaop:r")) << both;
    EXPECT_TRUE(has_line(all[1], "ep:0x00000000;ep:0x00000000")) << both;
    // Without the helper flag the whole process id names the dump.
    EXPECT_TRUE(folder.exists(dump_named(pid_of(all[0]), true)));
    EXPECT_TRUE(folder.exists(dump_named(pid_of(all[1]), false)));
}

TEST_F(crash_handler, exit_code_and_record_follow_the_exception)
{
    struct row {
        const char* mode;
        std::uint32_t code;
        const char* first_record_line;
        bool parameters;
    };
    const row rows[] = {
        {"raise", 0xE0000101u, "e:1;ex:0xe0000101;efl:0", false},
        // The handler's own stack keeps it working when the thread's stack is used up.
        {"overflow", 0xC00000FDu, "e:1;ex:0xc00000fd;efl:0", true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.mode);
        test_children::scratch_folder own{"vantor_crash"};
        ASSERT_EQ(vantor::run_process_and_wait(test_children::program("crash_child.exe"), {own.path(), r.mode}, 120),
                  r.code);
        const lines record = split_lines(own.read("coredump.txt"));
        EXPECT_TRUE(has_line(record, r.first_record_line));
        EXPECT_EQ(count_prefixed(record, "ep:"), r.parameters ? 1u : 0u);
        EXPECT_EQ(count_prefixed(record, "eaop:"), 0u);
    }
}

TEST_F(crash_handler, a_fault_while_reporting_ends_with_the_first_code)
{
    ASSERT_EQ(crash("nested", true), 0xE0000102u);
    const lines record = split_lines(folder.read("coredump.txt"));
    ASSERT_EQ(record.size(), 1u);
    EXPECT_TRUE(std::regex_match(record[0], std::regex("pid:\\d+;tid:\\d+")));
    EXPECT_FALSE(folder.exists(dump_named(pid_of(record), true)));
}

}  // namespace
