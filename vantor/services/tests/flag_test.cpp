#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "vantor/services/flag.h"
#include "vantor/services/flag_local_api.h"
#include "vantor/services/flag_names.h"
#include "vantor/services/tests/settings_registry_fixture.h"

namespace {

// Records of this file, linked during static initialisation like those of every source file.
flag::static_item table_record{flag::names::lib_v3, false};
flag::static_item own_record{"2026-07-07 TST-70 record declared by the tests", true};

constexpr char flags_path[] = "Tarvo Light\\flags";

// Overrides under the real flag key, HKEY_LOCAL_MACHINE "Software\Tarvo Online\Tarvo Light\flags".
// Values the test writes are removed again, and the key too when the test made it.
class machine_flags : public testing::Test {
protected:
    void SetUp() override { key_existed_ = settings_test::key_exists(HKEY_LOCAL_MACHINE, flags_path); }
    void TearDown() override
    {
        for (const std::wstring& name : written_) {
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, settings_test::product_key(flags_path).c_str(), 0, KEY_SET_VALUE,
                              &key) == ERROR_SUCCESS) {
                RegDeleteValueW(key, name.c_str());
                RegCloseKey(key);
            }
        }
        if (!key_existed_) {
            settings_test::delete_tree(HKEY_LOCAL_MACHINE, "Tarvo Light");
        }
    }

    void store(const std::string& value_name, const wchar_t* text)
    {
        std::wstring name = vantor::to_wide(3, value_name);
        ASSERT_EQ(settings_test::write_text(HKEY_LOCAL_MACHINE, flags_path, name.c_str(), text), ERROR_SUCCESS);
        written_.push_back(name);
    }

    // A local API as the process builds it, over the machine-wide flag key.
    static std::unique_ptr<flag::init_item_api_impl> local_api()
    {
        auto api = flag::reg_storage::make_api(flag::reg_storage::create(flag::reg_storage::local_path));
        api->declare_table();
        return api;
    }

private:
    bool key_existed_ = false;
    std::vector<std::wstring> written_;
};

TEST_F(machine_flags, registry_values_force_flags_on_and_off)
{
    {
        auto api = local_api();
        EXPECT_FALSE(api->find(flag::names::remote_clipboard)->value());
        EXPECT_TRUE(api->find(flag::names::lib_v3)->value());
    }
    store(flag::make_key(flag::names::remote_clipboard), L"true");
    store(flag::make_key(flag::names::lib_v3), L"false");
    auto api = local_api();
    EXPECT_FALSE(api->development_mode());
    EXPECT_TRUE(api->find(flag::names::remote_clipboard)->value());
    EXPECT_FALSE(api->find(flag::names::lib_v3)->value());
    EXPECT_TRUE(api->find(flag::names::total_control)->value());
}

TEST_F(machine_flags, development_mode)
{
    store("development_mode", L"true");
    auto api = local_api();
    EXPECT_TRUE(api->development_mode());
    EXPECT_TRUE(api->find(flag::names::remote_clipboard)->value());
    EXPECT_TRUE(api->find(flag::names::send_remote_keyboard_state)->value());
    EXPECT_TRUE(api->find(flag::names::lib_v3)->value());
}

TEST_F(machine_flags, development_mode_needs_the_exact_text)
{
    store("development_mode", L"True");
    EXPECT_FALSE(local_api()->development_mode());
}

// The first read of a record fixes the process's flag API and binds every pending record; the
// local API is built when no host API was installed.
TEST(static_item, first_read_binds_the_pending_records)
{
    EXPECT_TRUE(table_record.value());
    EXPECT_NE(table_record.item(), nullptr);
    EXPECT_NE(own_record.item(), nullptr);
    EXPECT_TRUE(own_record.value());
    EXPECT_EQ(flag::get_api(), flag::current_api);
    EXPECT_EQ(flag::get_api()->find(flag::names::lib_v3), table_record.item());
    EXPECT_EQ(table_record.get(), table_record.value());

    // A record made after the binding stays unbound; it asks the API, and a name the API does
    // not know reads as the record's own default.
    static flag::static_item known{flag::names::remote_clipboard, true};
    static flag::static_item unknown{"2026-07-08 TST-71 made at run time", true};
    EXPECT_EQ(known.item(), nullptr);
    EXPECT_FALSE(known.value());
    EXPECT_TRUE(unknown.value());
    EXPECT_EQ(unknown.item(), nullptr);
}

}  // namespace
