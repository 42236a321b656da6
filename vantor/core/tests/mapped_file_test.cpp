#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/mapped_file.h"
#include "vantor/core/text_convert.h"

namespace {

std::string temp_file(const char* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return vantor::from_wide(vantor::encoding_utf8, folder) + "mapped_file_test_" + name;
}

void remove_file(const std::string& path) { DeleteFileW(vantor::to_wide(vantor::encoding_utf8, path).c_str()); }

void write_whole_file(const std::string& path, const std::string& bytes)
{
    auto file = vantor::mapped_file::open(path, 0x301, static_cast<std::int32_t>(bytes.size()));
    if (!bytes.empty()) {
        std::memcpy(file->data(), bytes.data(), bytes.size());
    }
}

std::string read_whole_file(const std::string& path)
{
    auto file = vantor::mapped_file::open(path, 0, -1);
    return file->data() == nullptr ? std::string()
                                   : std::string(static_cast<const char*>(file->data()), file->size());
}

TEST(mapped_file, writes_and_reads_a_whole_file)
{
    std::string path = temp_file("whole.bin");
    std::string bytes("a\0b\xff", 4);
    write_whole_file(path, bytes);
    EXPECT_EQ(read_whole_file(path), bytes);

    // A write mapping reports size 0; truncation on a second write leaves only the new bytes.
    {
        auto file = vantor::mapped_file::open(path, 0x301, 2);
        EXPECT_EQ(file->size(), 0u);
        std::memcpy(file->data(), "xy", 2);
    }
    EXPECT_EQ(read_whole_file(path), "xy");
    remove_file(path);
}

TEST(mapped_file, empty_files)
{
    std::string path = temp_file("empty.bin");
    write_whole_file(path, "");
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(vantor::to_wide(vantor::encoding_utf8, path).c_str(), GetFileExInfoStandard,
                                     &data));
    EXPECT_EQ(data.nFileSizeLow, 0u);

    auto file = vantor::mapped_file::open(path, 0, -1);
    EXPECT_FALSE(file->has_mapping());
    EXPECT_EQ(file->data(), nullptr);
    EXPECT_EQ(file->size(), 0u);
    file.reset();
    remove_file(path);
}

TEST(mapped_file, missing_file_raises_the_open_error)
{
    std::string path = temp_file("missing.bin");
    remove_file(path);
    try {
        vantor::mapped_file::open(path, 0, -1);
        FAIL() << "no error";
    } catch (const vantor::exception& e) {
        EXPECT_NE(std::string(e.what()).find("CreateFileW"), std::string::npos) << e.what();
    }
}

std::vector<std::pair<std::string, int>> announced;

std::int32_t __cdecl record_access(const char* path, std::int32_t length, std::int32_t operation)
{
    announced.emplace_back(std::string(path, static_cast<std::size_t>(length)), operation);
    return 0;
}

TEST(mapped_file, announces_reads_and_writes_to_the_host)
{
    vantor::file_access_hook_record hook{&record_access};
    vantor::host().file_access_hook = &hook;
    announced.clear();
    std::string path = temp_file("hook.bin");
    write_whole_file(path, "z");
    read_whole_file(path);
    vantor::host().file_access_hook = nullptr;
    remove_file(path);

    ASSERT_EQ(announced.size(), 2u);
    EXPECT_EQ(announced[0], std::make_pair(path, 1));
    EXPECT_EQ(announced[1], std::make_pair(path, 0));
}

TEST(mapped_file, loads_an_ini_file)
{
    std::string path = temp_file("boot.ini");
    write_whole_file(path, "\xEF\xBB\xBF[boot loader]\r\ntimeout=30\r\n[operating systems]\nmulti=Windows /fastdetect\n");
    vantor::ini_sections sections;
    vantor::load_ini_file(path, sections);
    remove_file(path);

    EXPECT_EQ(sections["boot loader"]["timeout"], "30");
    EXPECT_EQ(sections["operating systems"]["multi"], "Windows /fastdetect");
    EXPECT_EQ(sections.size(), 2u);
}

}  // namespace
