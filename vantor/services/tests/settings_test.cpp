#include <gtest/gtest.h>

#include <string>

#include "vantor/core/string_utils.h"
#include "vantor/services/files_fs.h"
#include "vantor/services/settings.h"
#include "vantor/services/tests/settings_registry_fixture.h"

namespace {

using settings_test::read_raw;
using settings_test::write_raw;
namespace settings = vantor::settings;

// Every test starts from the initial state (registry mode, nothing configured) and removes its
// keys and files afterwards.
class settings_store : public testing::Test {
protected:
    void SetUp() override
    {
        settings::reset_for_testing();
        settings_test::delete_tree(HKEY_CURRENT_USER, "settings_test");
        settings_test::delete_tree(HKEY_LOCAL_MACHINE, "settings_test");
    }
    void TearDown() override
    {
        settings_test::delete_tree(HKEY_CURRENT_USER, "settings_test");
        settings_test::delete_tree(HKEY_LOCAL_MACHINE, "settings_test");
        settings::reset_for_testing();
    }
};

TEST_F(settings_store, registry_round_trip)
{
    settings::write("settings_test", "k", "v\xc3\xa9");
    settings_test::raw_value raw = read_raw(HKEY_CURRENT_USER, "settings_test", L"k");
    ASSERT_EQ(raw.status, ERROR_SUCCESS);
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(raw.bytes, "v\xc3\xa9");
    EXPECT_EQ(settings::read("settings_test", "k"), "v\xc3\xa9");
    EXPECT_EQ(settings::mode_for_testing(), 1);
    EXPECT_EQ(settings::root_for_testing(), "Software\\Tarvo Online\\");

    settings::write("settings_test", "k", "");
    EXPECT_EQ(read_raw(HKEY_CURRENT_USER, "settings_test", L"k").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(settings::read("settings_test", "k"), "");
    EXPECT_EQ(settings::read("settings_test", "never_written"), "");
}

TEST_F(settings_store, value_forms)
{
    std::wstring sz = L"h\u00e9llo";
    ASSERT_EQ(write_raw(HKEY_CURRENT_USER, "settings_test", L"sz", REG_SZ, sz.c_str(), (sz.size() + 1) * 2),
              ERROR_SUCCESS);
    ASSERT_EQ(write_raw(HKEY_CURRENT_USER, "settings_test", L"sz_bare", REG_SZ, L"ab", 4), ERROR_SUCCESS);
    DWORD number = 7;
    ASSERT_EQ(write_raw(HKEY_CURRENT_USER, "settings_test", L"dword", REG_DWORD, &number, 4), ERROR_SUCCESS);
    std::string huge(0x40001, 'x');
    ASSERT_EQ(write_raw(HKEY_CURRENT_USER, "settings_test", L"huge", REG_BINARY, huge.data(), huge.size()),
              ERROR_SUCCESS);
    std::string largest(0x40000, 'y');
    ASSERT_EQ(write_raw(HKEY_CURRENT_USER, "settings_test", L"largest", REG_BINARY, largest.data(),
                        largest.size()),
              ERROR_SUCCESS);

    EXPECT_EQ(settings::read("settings_test", "sz"), "h\xc3\xa9llo");
    EXPECT_EQ(settings::read("settings_test", "sz_bare"), "ab");
    EXPECT_EQ(settings::read("settings_test", "dword"), "");
    EXPECT_EQ(settings::read("settings_test", "huge"), "");
    EXPECT_EQ(settings::read("settings_test", "largest"), largest);

    // The whole-key loader takes values up to 0x3FFFF bytes.
    settings::value_map values;
    settings::load_values(settings::user_hive, "settings_test", values);
    EXPECT_EQ(values.size(), 3u);
    EXPECT_EQ(vantor::string_map_get(values, "sz"), "h\xc3\xa9llo");
    EXPECT_EQ(vantor::string_map_get(values, "sz_bare"), "ab");
    EXPECT_TRUE(values.contains("dword"));
    EXPECT_FALSE(values.contains("huge"));
    EXPECT_FALSE(values.contains("largest"));
}

TEST_F(settings_store, configuration_choices)
{
    std::string cache = settings::cache_folder();
    ASSERT_FALSE(cache.empty());
    EXPECT_TRUE(vantor::ends_with(cache, "\\Tarvo Online Cache"));
    std::string here = vantor::fs::current_dir();

    struct row {
        const char* choice;
        int mode;
        const char* root;
        std::string folder;
    };
    const row rows[] = {
        {"registry:Sub", 1, "Software\\Tarvo Online\\Sub\\", here},
        {"disk", 0, "Software\\Tarvo Online\\", here},
        {"disk:settings_test_data", 0, "Software\\Tarvo Online\\", cache + "\\settings_test_data"},
        {"disk;registry", 1, "Software\\Tarvo Online\\", here},
        {"registry;disk", 1, "Software\\Tarvo Online\\", here},
        {";;registry::;", 1, "Software\\Tarvo Online\\", here},
        {"other:x", 1, "Software\\Tarvo Online\\", here},
        // The colon splits the entry: a drive letter becomes a cache subfolder.
        {"disk:C:\\x", 0, "Software\\Tarvo Online\\", cache + "\\C"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.choice);
        settings::reset_for_testing();
        settings::configure(r.choice);
        EXPECT_EQ(settings::mode_for_testing(), r.mode);
        EXPECT_EQ(settings::root_for_testing(), r.root);
        EXPECT_EQ(settings::folder_for_testing(), r.folder);
    }
    RemoveDirectoryW(vantor::to_wide(3, cache + "\\settings_test_data").c_str());
    RemoveDirectoryW(vantor::to_wide(3, cache + "\\C").c_str());

    // Once a root is set by the defaults, a later "disk" entry changes only the folder.
    settings::reset_for_testing();
    settings::read("settings_test", "k");
    settings::configure("disk:settings_test_data");
    EXPECT_EQ(settings::mode_for_testing(), 1);
    EXPECT_EQ(settings::folder_for_testing(), cache + "\\settings_test_data");
    RemoveDirectoryW(vantor::to_wide(3, cache + "\\settings_test_data").c_str());

    // A folder beginning with a backslash is used as it is (here one that exists already).
    std::string rooted = here.substr(2);
    EXPECT_EQ(settings::resolve_folder(rooted), rooted);
}

TEST_F(settings_store, ini_file_round_trip)
{
    settings::configure("disk:settings_test_ini");
    ASSERT_EQ(settings::mode_for_testing(), 0);
    std::string folder = settings::folder_for_testing();
    std::wstring file = vantor::to_wide(3, folder + "\\storage.ini");

    settings::write("display", "width", "1920");
    settings::write("display", "name", "\xc3\xa9" "cran");
    EXPECT_EQ(settings::read("display", "width"), "1920");
    EXPECT_EQ(settings::read("display", "name"), "\xc3\xa9" "cran");
    wchar_t buffer[64];
    GetPrivateProfileStringW(L"display", L"width", L"", buffer, 64, file.c_str());
    EXPECT_STREQ(buffer, L"1920");
    // The registry is not touched in this mode.
    EXPECT_FALSE(settings_test::key_exists(HKEY_CURRENT_USER, "display"));

    // An empty value is stored as an empty entry.
    settings::write("display", "width", "");
    EXPECT_EQ(settings::read("display", "width"), "");
    GetPrivateProfileStringW(L"display", L"width", L"missing", buffer, 64, file.c_str());
    EXPECT_STREQ(buffer, L"");

    DeleteFileW(file.c_str());
    RemoveDirectoryW(vantor::to_wide(3, folder).c_str());
}

TEST_F(settings_store, machine_values_and_stored_value_forms)
{
    struct row {
        const char* label;
        std::string text;
        DWORD type;
    };
    const row rows[] = {
        {"127 printable bytes", std::string(127, 'p'), REG_SZ},
        {"128 bytes", std::string(128, 'p'), REG_BINARY},
        {"UTF-8", "caf\xc3\xa9", REG_BINARY},
        {"control byte", "a\tb", REG_BINARY},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.label);
        ASSERT_EQ(settings::store_value(settings::machine_hive, "settings_test\\launch\\value", r.text), 0u);
        settings_test::raw_value raw = read_raw(HKEY_LOCAL_MACHINE, "settings_test\\launch", L"value");
        ASSERT_EQ(raw.status, ERROR_SUCCESS);
        EXPECT_EQ(raw.type, r.type);
        EXPECT_EQ(settings::read_machine("settings_test\\launch\\value"), r.text);
        EXPECT_EQ(settings::read_machine("settings_test/launch/value"), r.text);
    }

    ASSERT_EQ(settings::store_value(settings::machine_hive, "settings_test/launch/value", ""), 0u);
    EXPECT_EQ(read_raw(HKEY_LOCAL_MACHINE, "settings_test\\launch", L"value").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(settings::read_machine("settings_test\\launch\\value"), "");
    // Deleting what is not there is no failure.
    EXPECT_EQ(settings::store_value(settings::machine_hive, "settings_test/launch/value", ""), 0u);

    ASSERT_EQ(settings::store_value(settings::machine_hive, "settings_test\\agents\\a1\\x", "1"), 0u);
    ASSERT_EQ(settings::store_value(settings::machine_hive, "settings_test\\agents\\b2\\x", "1"), 0u);
    vantor_stl::vector<std::string> names;
    settings::list_subkeys("settings_test/agents", names);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "a1");
    EXPECT_EQ(names[1], "b2");
    settings::list_subkeys("settings_test\\missing", names);
    EXPECT_EQ(names.size(), 2u);
}

TEST_F(settings_store, overrides_answer_first_and_writes_drop_them)
{
    settings::set_override_for_testing("settings_test_k", "from table");
    settings::write("settings_test", "k", "stored");
    EXPECT_EQ(settings::read("settings_test", "k"), "stored");
    settings::set_override_for_testing("settings_test_k", "from table");
    EXPECT_EQ(settings::read("settings_test", "k"), "from table");

    std::string machine_key =
        settings::override_key(false, "Software\\Tarvo Online\\settings_test\\launch", "delay", "ex");
    EXPECT_EQ(machine_key, "System_ex_Software\\Tarvo Online\\settings_test\\launch\\#delay");
    EXPECT_EQ(settings::override_key(true, "a\\", "", "ex"), "User_ex_a\\");
    settings::set_override_for_testing(machine_key, "5");
    EXPECT_EQ(settings::read_machine("settings_test/launch/delay"), "5");
    ASSERT_EQ(settings::store_value(settings::machine_hive, "settings_test\\launch\\delay", "9"), 0u);
    EXPECT_EQ(settings::read_machine("settings_test/launch/delay"), "9");
}

TEST_F(settings_store, delete_key_removes_one_subtree_only)
{
    settings::write("settings_test\\cache", "a", "1");
    settings::write("settings_test\\cache\\deep", "b", "2");
    settings::write("settings_test\\keep", "c", "3");
    // A path without a last component names no key; nothing is deleted.
    settings::delete_key("");
    settings::delete_key("settings_test/");
    EXPECT_EQ(settings::read("settings_test\\cache", "a"), "1");

    settings::delete_key("settings_test/cache");
    EXPECT_FALSE(settings_test::key_exists(HKEY_CURRENT_USER, "settings_test\\cache"));
    EXPECT_EQ(settings::read("settings_test\\keep", "c"), "3");
}

TEST_F(settings_store, a_refused_store_reports_its_error)
{
    ASSERT_EQ(settings_test::make_volatile_key(HKEY_CURRENT_USER, "settings_test"), ERROR_SUCCESS);
    EXPECT_EQ(settings::store_value(settings::user_hive, "settings_test\\sub\\value", "x"),
              static_cast<std::uint32_t>(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_EQ(settings::store_value(7, "settings_test\\value", "x"),
              static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
}

TEST(settings_split, value_names)
{
    struct row {
        const char* path;
        const char* key;
        const char* name;
    };
    const row rows[] = {
        {"a/b/c", "a\\b", "c"},
        {"a\\b\\", "a\\b", ""},
        {"plain", "plain", "untouched"},
    };
    for (const row& r : rows) {
        std::string path = r.path;
        std::string name = "untouched";
        vantor::settings::split_value_name(path, &name);
        EXPECT_EQ(path, r.key) << r.path;
        EXPECT_EQ(name, r.name) << r.path;
    }
    std::string whole = "x/y";
    vantor::settings::split_value_name(whole, nullptr);
    EXPECT_EQ(whole, "x\\y");
}

}  // namespace
