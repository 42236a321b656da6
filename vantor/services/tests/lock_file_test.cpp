#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "vantor/core/win_api.h"
#include "vantor/services/lock_file.h"

namespace {

std::string temp_name(const char* leaf)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + leaf + std::to_string(GetCurrentProcessId());
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

TEST(LockFile, SecondHolderIsRefusedAndReadsTheOwner)
{
    const std::string path = temp_name("kova_lock_");
    const std::string pid = std::to_string(GetCurrentProcessId());
    {
        vantor::lock_file first(path);
        ASSERT_TRUE(first.held());
        EXPECT_EQ(first.content(), pid);
        vantor::lock_file second(path);
        EXPECT_FALSE(second.held());
        EXPECT_EQ(second.content(), pid) << "the holder's process id, read from the file";
    }
    EXPECT_FALSE(exists(path)) << "the file goes with its holder";
    vantor::lock_file again(path);
    EXPECT_TRUE(again.held());
    EXPECT_EQ(vantor::lock_file(temp_name("kova_no_such_dir\\x")).content(), "");
}

TEST(LockFile, LockDirectoryRemovesItsMarkedFolder)
{
    const std::string dir = temp_name("kova_lockdir_");
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    {
        vantor::lock_directory d(std::make_unique<vantor::lock_file>(dir + "\\lock"), dir, true);
        EXPECT_TRUE(d.lock().held());
    }
    EXPECT_FALSE(exists(dir));
}

TEST(LockFile, XmlEscaping)
{
    EXPECT_EQ(vantor::xml_escaped("a\"b&c'd<e>f"), "a&quot;b&amp;c&#39;d&lt;e&gt;f");
    EXPECT_EQ(vantor::xml_escaped("caf\xc3\xa9 plain"), "caf\xc3\xa9 plain");
    std::string out = "x=";
    vantor::xml_escape_append(out, "<>");
    EXPECT_EQ(out, "x=&lt;&gt;");
    EXPECT_EQ(vantor::xml_escaped(""), "");
}
