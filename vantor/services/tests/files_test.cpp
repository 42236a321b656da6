#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/core/host_hooks.h"
#include "vantor/core/log.h"
#include "vantor/core/netbuf.h"
#include "vantor/core/text_convert.h"
#include "vantor/core/win_api.h"
#include "vantor/core/win_handle.h"
#include "vantor/services/files.h"
#include "vantor/services/files_dir.h"
#include "vantor/services/files_fs.h"

namespace {

namespace fs = vantor::fs;

std::vector<std::pair<std::string, int>> announced;

std::int32_t __cdecl record_access(const char* path, std::int32_t length, std::int32_t operation)
{
    announced.emplace_back(std::string(path, static_cast<std::size_t>(length)), operation);
    return 0;
}

std::string text_of(const vantor::exception& e)
{
    return e.what();
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// A fresh folder under the temporary folder for each test, removed afterwards.
class files : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (netbuf::table().create == nullptr) {
            netbuf::install_local_table();
        }
    }

    void SetUp() override
    {
        static int counter = 0;
        root_ = fs::temp_path() + "vantor_files_" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++counter);
        fs::create_directory(root_);
    }

    void TearDown() override
    {
        vantor::host().file_access_hook = nullptr;
        if (fs::exists(root_)) {
            fs::remove_tree(root_);
        }
    }

    std::string at(const std::string& name) const { return root_ + "\\" + name; }

    void make_file(const std::string& path, const std::string& content)
    {
        vantor::file::write_all(path, netbuf::construct_from_string(content));
    }

    std::string content_of(const std::string& path)
    {
        netbuf content;
        vantor::file::read_all(content, path);
        return content.to_string();
    }

    std::string root_;
};

TEST_F(files, open_kinds_and_errors)
{
    vantor::file f;
    f.open(at("created"), vantor::file::open_read_write_new, true);
    EXPECT_TRUE(f.is_open());
    EXPECT_EQ(f.size(), 0);
    f.close();
    EXPECT_TRUE(fs::exists(at("created")));

    try {
        f.open(at("missing"), vantor::file::open_read_write, true);
        ADD_FAILURE() << "opened a missing file for update";
    } catch (const vantor::exception& e) {
        std::string expected = " function=fopen file=" + at("missing");
        EXPECT_TRUE(text_of(e).starts_with("2 (")) << e.what();
        EXPECT_TRUE(text_of(e).ends_with(expected)) << e.what();
    }
    EXPECT_FALSE(f.is_open());
    f.open(at("missing"), vantor::file::open_read_write, false);
    EXPECT_FALSE(f.is_open()) << "without raise errors a failed open is silent";
    EXPECT_EQ(f.write("x", 1), 0u) << "a closed file writes nothing";
    netbuf none;
    EXPECT_FALSE(f.read_chunk(none));

    try {
        f.open(at("x"), 5, true);
        ADD_FAILURE() << "kind 5 opened";
    } catch (const vantor::exception& e) {
        EXPECT_TRUE(text_of(e).ends_with("function=invalid_mode file=" + at("x"))) << e.what();
    }
    EXPECT_FALSE(fs::exists(at("x")));
}

TEST_F(files, delete_on_close_and_deny_write)
{
    vantor::file temporary;
    temporary.open(at("temporary"), vantor::file::open_write, true, vantor::file::delete_on_close);
    EXPECT_EQ(temporary.write_span("data"), 4u);
    EXPECT_TRUE(fs::exists(at("temporary")));
    temporary.close();
    EXPECT_FALSE(fs::exists(at("temporary")));

    vantor::file holder;
    holder.open(at("held"), vantor::file::open_write, true, vantor::file::deny_write);
    vantor::file writer;
    writer.open(at("held"), vantor::file::open_append, false);
    EXPECT_FALSE(writer.is_open()) << "another writer is denied";
    vantor::file reader;
    reader.open(at("held"), vantor::file::open_read, false);
    EXPECT_TRUE(reader.is_open()) << "readers are not";
}

TEST_F(files, whole_files_and_positions)
{
    // Larger than one 64 KiB read, with a name outside ASCII.
    std::string content;
    for (int i = 0; content.size() < 200000; ++i) {
        content += std::to_string(i) + ",";
    }
    std::string path = at("d\xc3\xa9j\xc3\xa0 vu.bin");
    make_file(path, content);
    EXPECT_EQ(content_of(path), content);

    vantor::file f;
    f.open(path, vantor::file::open_read_write, true);
    EXPECT_EQ(f.size(), static_cast<std::int64_t>(content.size()));
    netbuf piece;
    EXPECT_EQ(f.read(piece, 10), 10u);
    EXPECT_EQ(piece.to_string(), content.substr(0, 10));
    EXPECT_EQ(f.tell(), 10);
    EXPECT_TRUE(f.seek(-5, SEEK_END));
    std::string tail;
    EXPECT_TRUE(f.read_chunk_str(tail));
    EXPECT_EQ(tail, content.substr(content.size() - 5));
    EXPECT_FALSE(f.read_chunk_str(tail)) << "end of file";
    EXPECT_EQ(f.truncate(100), 0);
    EXPECT_EQ(f.size(), 100);
    f.close();
    EXPECT_EQ(content_of(path), content.substr(0, 100));

    netbuf out = netbuf::construct_from_string("stale");
    EXPECT_THROW(vantor::file::read_all(out, at("missing")), vantor::exception);
}

TEST_F(files, read_errors_are_not_the_end_of_the_file)
{
    make_file(at("data"), "content");
    // A stream opened for writing only cannot be read: the runtime reports an error, which a
    // whole-file read must not take for an empty file.
    vantor::file f;
    f.open(at("data"), vantor::file::open_append, true);
    netbuf out;
    try {
        f.read_chunk(out);
        ADD_FAILURE() << "a read error passed as the end of the file";
    } catch (const vantor::exception& e) {
        EXPECT_NE(text_of(e).find("function=fread"), std::string::npos) << e.what();
    }
    vantor::file quiet;
    quiet.open(at("data"), vantor::file::open_append, false);
    EXPECT_FALSE(quiet.read_chunk(out));
}

TEST_F(files, accesses_are_announced_to_the_host)
{
    make_file(at("a"), "a");
    vantor::file_access_hook_record hook{&record_access};
    vantor::host().file_access_hook = &hook;
    announced.clear();

    vantor::file f;
    f.open(at("a"), vantor::file::open_read, true);
    f.open(at("a"), vantor::file::open_append, true);
    f.open(at("a"), vantor::file::open_read, true, vantor::file::announce_open);
    f.close();
    fs::copy_file(at("a"), at("b"));
    fs::exists(at("b"));
    fs::delete_file(at("b"));
    fs::create_directory_tree(at("t"));
    vantor::host().file_access_hook = nullptr;

    const std::vector<std::pair<std::string, int>> expected = {
        {at("a"), 0}, {at("a"), 1}, {at("a"), 4}, {at("a"), 0}, {at("b"), 1},
        {at("b"), 2}, {at("b"), 1}, {root_, 1},   {at("t"), 1},
    };
    // create_directory_tree announces every prefix; compare from the folder under test on.
    auto first_prefix = std::find(announced.begin(), announced.end(), std::make_pair(root_, 1));
    std::vector<std::pair<std::string, int>> seen(announced.begin(), announced.begin() + 7);
    seen.insert(seen.end(), first_prefix, announced.end());
    EXPECT_EQ(seen, expected);
}

TEST_F(files, directory_trees)
{
    std::string deep = at("one\\two\\three");
    fs::create_directory_tree(deep);
    EXPECT_FALSE(fs::is_file(deep));
    fs::create_directory_tree(deep);  // already there: nothing to do
    fs::create_directory(deep);
    fs::create_directory_tree(deep + "\\");
    // A rooted path (on the current drive) has an empty first prefix, which names nothing.
    std::string before = fs::current_dir();
    fs::set_current_dir(root_);
    ASSERT_EQ(root_[1], ':');
    fs::create_directory_tree(root_.substr(2) + "\\rooted\\deep");
    fs::set_current_dir(before);
    EXPECT_TRUE(fs::exists(at("rooted\\deep")));
    make_file(deep + "\\f.txt", "x");
    make_file(at("one\\g.txt"), "y");

    std::vector<std::string> lines;
    vantor::set_log_line_observer(
        [](const char* text, std::size_t length, void* context) {
            static_cast<std::vector<std::string>*>(context)->emplace_back(text, length);
        },
        &lines);
    try {
        fs::create_directory_tree(at("one\\g.txt\\sub"));
        ADD_FAILURE() << "created a folder below a file";
    } catch (const vantor::exception& e) {
        EXPECT_NE(text_of(e).find("CreateDirectoryW"), std::string::npos) << e.what();
    }
    vantor::set_log_line_observer(nullptr, nullptr);
    EXPECT_EQ(lines,
              std::vector<std::string>{"create_directory_tree: Cannot create dir " + at("one\\g.txt\\sub")});

    fs::remove_tree(at("one"));
    EXPECT_FALSE(fs::exists(at("one")));
    try {
        fs::remove_tree(at("one"));
        ADD_FAILURE() << "removed a missing tree";
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), vantor::internal_error(653).what());
    }
}

TEST_F(files, remove_tree_removes_what_it_can)
{
    fs::create_directory_tree(at("tree\\busy"));
    fs::create_directory_tree(at("tree\\free"));
    make_file(at("tree\\busy\\open.txt"), "held");
    make_file(at("tree\\busy\\other.txt"), "x");
    make_file(at("tree\\free\\f.txt"), "x");
    make_file(at("tree\\top.txt"), "x");
    {
        // Held open without delete sharing, the file cannot be deleted.
        vantor::win_file_handle held(
            CreateFileW(vantor::to_wide(vantor::encoding_utf8, at("tree\\busy\\open.txt")).c_str(),
                        GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held.valid());
        try {
            fs::remove_tree(at("tree"));
            ADD_FAILURE() << "removed a held file";
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), vantor::internal_error(713).what());
        }
    }
    vantor_stl::vector<std::string> left;
    fs::list_dir(left, at("tree\\*"));
    EXPECT_EQ(std::vector<std::string>(left.begin(), left.end()), std::vector<std::string>{at("tree\\busy")});
    EXPECT_TRUE(fs::exists(at("tree\\busy\\open.txt")));
    EXPECT_FALSE(fs::exists(at("tree\\busy\\other.txt")));
    fs::remove_tree(at("tree"));
    EXPECT_FALSE(fs::exists(at("tree")));
}

TEST_F(files, remove_tree_does_not_follow_directory_links)
{
    fs::create_directory(at("target"));
    make_file(at("target\\keep.txt"), "keep");
    fs::create_directory(at("tree"));
    std::wstring link = vantor::to_wide(vantor::encoding_utf8, at("tree\\link"));
    std::wstring target = vantor::to_wide(vantor::encoding_utf8, at("target"));
    // Wine reports success but makes a link that resolves to nothing; only a link through
    // which the target's file is seen tests anything.
    if (!CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        !fs::exists(at("tree\\link\\keep.txt"))) {
        GTEST_SKIP() << "no working directory links here";
    }
    fs::remove_tree(at("tree"));
    EXPECT_FALSE(fs::exists(at("tree")));
    EXPECT_EQ(content_of(at("target\\keep.txt")), "keep");
}

TEST_F(files, move_copy_and_delete)
{
    make_file(at("a"), "first");
    make_file(at("b"), "second");
    fs::copy_file(at("a"), at("b"));
    EXPECT_EQ(content_of(at("b")), "first") << "copy overwrites";
    try {
        fs::copy_file(at("missing"), at("c"));
        ADD_FAILURE();
    } catch (const vantor::exception& e) {
        EXPECT_STREQ(e.what(), vantor::internal_error(362).what());
    }
    fs::move_file(at("a"), at("moved"));
    EXPECT_FALSE(fs::exists(at("a")));
    EXPECT_EQ(content_of(at("moved")), "first");
    try {
        fs::move_file(at("moved"), at("b"));
        ADD_FAILURE() << "moved over an existing file";
    } catch (const vantor::exception& e) {
        EXPECT_NE(text_of(e).find("CopyFileW"), std::string::npos) << e.what();
    }
    EXPECT_EQ(content_of(at("b")), "first");
    fs::delete_file(at("b"));
    try {
        fs::delete_file(at("b"));
        ADD_FAILURE();
    } catch (const vantor::exception& e) {
        EXPECT_NE(text_of(e).find("DeleteFileW"), std::string::npos) << e.what();
        EXPECT_NE(text_of(e).find(at("b")), std::string::npos) << e.what();
    }
}

TEST_F(files, listing_a_folder)
{
    fs::create_directory(at("sub"));
    make_file(at("one.txt"), "1");
    make_file(at("two.bin"), "22");
    vantor_stl::vector<std::string> names;
    fs::list_dir(names, root_ + "/*");
    EXPECT_EQ(sorted({names.begin(), names.end()}), sorted({at("one.txt"), at("sub"), at("two.bin")}));

    vantor::dir_iterator walk;
    walk.open(at("*.bin"));
    std::optional<vantor::dir_entry> entry = walk.next();
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->name, "two.bin");
    EXPECT_EQ(entry->size, 2u);
    EXPECT_FALSE(entry->is_directory());
    EXPECT_NE(entry->last_write_time, 0u);
    EXPECT_FALSE(walk.next().has_value());
    EXPECT_FALSE(walk.next().has_value());

    walk.open(at("missing\\*"));
    EXPECT_FALSE(walk.next().has_value());
    names.clear();
    fs::list_dir(names, "no_prefix_here_*");
    EXPECT_TRUE(names.empty());
}

TEST_F(files, folders_and_attributes)
{
    std::string program = fs::module_path();
    EXPECT_TRUE(program.ends_with("vantor_services_tests.exe")) << program;
    EXPECT_EQ(fs::module_dir() + "\\vantor_services_tests.exe", program);
    EXPECT_TRUE(fs::is_file(program));
    EXPECT_TRUE(fs::is_not_directory(program));
    EXPECT_FALSE(fs::is_not_directory(root_));
    EXPECT_TRUE(fs::exists(fs::temp_path()));
    EXPECT_TRUE(fs::exists(fs::shell_folder(0x1a /* CSIDL_APPDATA */)));
    EXPECT_THROW(fs::shell_folder(0x7fff), vantor::exception);

    std::string before = fs::current_dir();
    fs::set_current_dir(root_);
    EXPECT_EQ(fs::full_path("x\\..\\y.txt"), at("y.txt"));
    fs::enter_module_dir();
    EXPECT_EQ(fs::current_dir(), fs::module_dir());
    fs::set_current_dir(before);

    struct row {
        const char* name;
        void (*call)(const std::string&);
        int line;
    };
    const row rows[] = {
        {"is_file", [](const std::string& p) { fs::is_file(p); }, 68},
        {"set_current_dir", [](const std::string& p) { fs::set_current_dir(p); }, 125},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        try {
            r.call(at("missing"));
            ADD_FAILURE();
        } catch (const vantor::exception& e) {
            EXPECT_STREQ(e.what(), vantor::internal_error(r.line).what());
        }
    }
    EXPECT_THROW(fs::is_not_directory(at("missing")), vantor::exception);
    EXPECT_FALSE(fs::exists(at("missing")));
}

}  // namespace
