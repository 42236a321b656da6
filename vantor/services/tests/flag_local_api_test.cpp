#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vantor/core/exception.h"
#include "vantor/services/flag_local_api.h"
#include "vantor/services/flag_storage.h"
#include "vantor/services/tests/settings_registry_fixture.h"

namespace {

constexpr char test_path[] = "flag_test\\flags";

// A local API over overrides kept in HKEY_CURRENT_USER "Software\Tarvo Online\flag_test\flags".
class local_api : public testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override
    {
        settings_test::delete_tree(HKEY_CURRENT_USER, "flag_test");
        settings_test::delete_tree(HKEY_CURRENT_USER, "flag_test_ok");
    }

    static std::unique_ptr<flag::init_item_api_impl> make_api(const char* path = test_path)
    {
        return flag::reg_storage::make_api(std::make_unique<flag::reg_storage>(path, 1));
    }
    static void store(const char* name, const wchar_t* text)
    {
        std::wstring key = vantor::to_wide(3, flag::make_key(name));
        ASSERT_EQ(settings_test::write_text(HKEY_CURRENT_USER, test_path, key.c_str(), text), ERROR_SUCCESS);
    }
    static settings_test::raw_value stored(const char* name)
    {
        std::wstring key = vantor::to_wide(3, flag::make_key(name));
        return settings_test::read_raw(HKEY_CURRENT_USER, test_path, key.c_str());
    }
};

using names = std::vector<std::string>;

void __cdecl collect_name(void* context, const char* name, flag::item_api*)
{
    static_cast<names*>(context)->push_back(name);
}

TEST_F(local_api, stored_overrides)
{
    const char* forced_on = "2020-01-01 TST-1 forced on";
    const char* upper_true = "2020-01-02 TST-2 upper case true";
    const char* digit_one = "2020-01-03 TST-3 digit one";
    const char* removed = "2020-01-04 TST-4 removed flag";
    const char* built_in = "2020-01-05 TST-5 built in flag";
    store(forced_on, L"true");
    store(upper_true, L"TRUE");
    store(digit_one, L"1");
    store(removed, L"false");
    store(built_in, L"false");
    auto api = make_api();

    flag::item_api* on = api->declare(1, nullptr, forced_on, 0);
    EXPECT_TRUE(on->value());
    EXPECT_FALSE(on->is_default());
    // Only the exact text "true" forces a flag on; any other text forces it off.
    EXPECT_FALSE(api->declare(1, "4.1.1", upper_true, 1)->value());
    EXPECT_FALSE(api->declare(1, "4.1.1", digit_one, 1)->value());
    // A removed flag reads on whatever is stored.
    EXPECT_TRUE(api->remove(removed)->value());
    // A built-in flag ignores what is stored and cannot be set.
    flag::item_api* fixed = api->declare_built_in("resolved-done", built_in, 1);
    EXPECT_TRUE(fixed->value());
    EXPECT_TRUE(fixed->is_default());
    fixed->set(0, 0);
    EXPECT_TRUE(fixed->value());
    EXPECT_EQ(stored(built_in).bytes, std::string(reinterpret_cast<const char*>(L"false"), 12));

    // Clearing deletes the stored value; forcing stores "true" or "false".
    on->set(1, 0);
    EXPECT_TRUE(on->is_default());
    EXPECT_FALSE(on->value());
    EXPECT_EQ(stored(forced_on).status, ERROR_FILE_NOT_FOUND);
    on->set(0, 1);
    settings_test::raw_value raw = stored(forced_on);
    ASSERT_EQ(raw.status, ERROR_SUCCESS);
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
    // Short printable text is stored as REG_SZ (some systems add a terminating NUL themselves).
    EXPECT_EQ(raw.bytes.substr(0, 8), std::string(reinterpret_cast<const char*>(L"true"), 8));
    EXPECT_EQ(vantor::settings::decode_value(raw.bytes.data(), raw.bytes.size(), raw.type), "true");

    auto again = make_api();
    EXPECT_TRUE(again->declare(1, nullptr, forced_on, 0)->value());
}

TEST_F(local_api, development_mode_turns_on_unfinished_work)
{
    struct row {
        const char* tag;
        const char* name;
        bool built_in;
        bool default_on;
        bool value;
    };
    const row rows[] = {
        {nullptr, "2021-01-01 DEV-1 untagged", false, false, true},
        {"p1-misc", "2021-01-02 DEV-2 priority", false, false, true},
        {"p9-blocked", "2021-01-03 DEV-3 blocked", false, false, false},
        {"4.2.100", "2021-01-04 DEV-4 released", false, false, false},
        {"stalled-design", "2021-01-05 DEV-5 stalled", false, false, false},
        {"resolved-done", "2021-01-06 DEV-6 built in", true, false, false},
        {"p", "2021-01-07 DEV-7 bare p", false, false, true},
    };
    for (bool development : {false, true}) {
        settings_test::delete_tree(HKEY_CURRENT_USER, "flag_test");
        if (development) {
            ASSERT_EQ(settings_test::write_text(HKEY_CURRENT_USER, test_path, L"development_mode", L"true"),
                      ERROR_SUCCESS);
        }
        auto api = make_api();
        EXPECT_EQ(api->development_mode(), development);
        for (const row& r : rows) {
            SCOPED_TRACE(testing::Message() << r.name << " development " << development);
            flag::item_api* item = r.built_in ? api->declare_built_in(r.tag, r.name, r.default_on)
                                              : api->declare(1, r.tag, r.name, r.default_on);
            EXPECT_EQ(item->value(), development ? r.value : r.default_on);
        }
    }
}

TEST_F(local_api, redeclarations_record_states_and_keep_the_item)
{
    auto api = make_api();
    const char* name = "2022-02-02 TST-10 redeclared";
    flag::item_api* first = api->declare(1, nullptr, name, 0);
    EXPECT_EQ(api->declare(1, nullptr, name, 0), first);
    EXPECT_EQ(api->state_for_testing(flag::make_key(name)), "");
    EXPECT_EQ(api->get_or_add(name, 1), first);
    EXPECT_EQ(api->state_for_testing(flag::make_key(name)), "");
    EXPECT_EQ(api->declare(1, nullptr, name, 1), first);
    EXPECT_EQ(api->state_for_testing(flag::make_key(name)), "default changed");
    EXPECT_FALSE(first->default_value());
    EXPECT_FALSE(first->value());
    EXPECT_EQ(first->declarations(), 1);

    const char* tagless = "2022-02-03 TST-11 tag added later";
    api->declare(1, nullptr, tagless, 0);
    flag::item_api* tagged = api->declare(1, "p2-x", tagless, 0);
    EXPECT_EQ(api->state_for_testing(flag::make_key(tagless)), "tag changed");
    EXPECT_EQ(tagged->tag(), nullptr);

    const char* built = "2022-02-04 TST-12 became built in";
    api->declare(1, "p1-x", built, 0);
    api->declare_built_in("resolved-x", built, 0);
    EXPECT_EQ(api->state_for_testing(flag::make_key(built)), "build changed");

    const char* gone = "2022-02-05 TST-13 removed then declared";
    api->remove(gone);
    api->declare(1, nullptr, gone, 0);
    EXPECT_EQ(api->state_for_testing(flag::make_key(gone)), "already removed");

    std::vector<std::pair<std::string, std::string>> states;
    api->for_each_state(&states, [](void* context, const char* text, const char* n, flag::item_api*) {
        static_cast<decltype(states)*>(context)->emplace_back(n, text);
    });
    ASSERT_EQ(states.size(), 4u);
    EXPECT_EQ(states[0].first, name);
    EXPECT_EQ(states[0].second, "default changed");
}

TEST_F(local_api, module_views_share_overrides_and_inherit_counted_defaults)
{
    const char* on_name = "2023-03-03 TST-20 shipped";
    const char* forced_name = "2023-03-04 TST-21 forced off";
    store(forced_name, L"false");
    auto api = make_api();
    flag::item_api* exe_item = api->declare(1, "4.2.0", on_name, 1);
    flag::item_api* exe_forced = api->declare(1, "4.2.0", forced_name, 1);
    EXPECT_FALSE(exe_forced->value());

    flag::init_item_api* view = api->create_api_module("desktop");
    ASSERT_NE(view, nullptr);
    flag::item_api* view_item = view->get_or_add(on_name, 0);
    EXPECT_NE(view_item, exe_item);
    EXPECT_TRUE(view_item->value());
    EXPECT_TRUE(view_item->default_value());
    EXPECT_EQ(view->find(on_name), view_item);
    EXPECT_EQ(api->find(on_name), exe_item);
    flag::item_api* view_forced = view->get_or_add(forced_name, 0);
    EXPECT_FALSE(view_forced->value());
    EXPECT_FALSE(view_forced->is_default());

    // The first item made for a key stays the one the API's own enumerations show.
    names active;
    api->for_each_active(&active, &collect_name);
    EXPECT_EQ(active, (names{on_name, forced_name}));
    names view_active;
    view->for_each_active(&view_active, &collect_name);
    EXPECT_EQ(view_active, (names{on_name, forced_name}));
    names modules;
    static_cast<flag::init_item_api_v2*>(api.get())
        ->for_each_in_modules(&modules, [](void* context, const char* n, const char* module, flag::item_api*) {
            static_cast<names*>(context)->push_back(std::string(module) + ":" + n);
        });
    EXPECT_EQ(modules.size(), 4u);
    EXPECT_EQ(modules[0], std::string("desktop:") + on_name);
    EXPECT_EQ(view->remove(on_name), nullptr);
}

TEST_F(local_api, keys_join_words_with_one_underscore)
{
    const std::pair<const char*, const char*> rows[] = {
        {"2017-03-16 Abc-12 Key upgrade", "2017_03_16_abc_12_key_upgrade"},
        {"  Hello--World  ", "hello_world"},
        {"-- ** --", ""},
        {"caf\xc3\xa9 au lait", "caf_au_lait"},
        {"A1", "a1"},
    };
    for (const auto& [name, key] : rows) {
        EXPECT_EQ(flag::make_key(name), key) << name;
    }

    auto api = make_api();
    flag::item_api* item = api->declare(1, nullptr, "2024-04-04 TST-30 Same Name", 0);
    EXPECT_EQ(api->declare(1, nullptr, "2024.04.04 tst 30 same-name", 1), item);
    EXPECT_EQ(api->find("2024_04_04_TST_30_SAME_NAME"), item);
}

TEST_F(local_api, sources_file_the_next_declaration_only)
{
    auto api = make_api();
    api->add_source("repo/one", "cpp");
    api->add_source("repo/two", "script");
    api->declare(1, nullptr, "2024-05-05 TST-40 filed twice", 0);
    api->declare(1, nullptr, "2024-05-06 TST-41 not filed", 0);
    std::vector<std::string> filed;
    api->for_each_source(&filed, [](void* context, const char* name, const char* path, const char* language,
                                    flag::item_api*) {
        static_cast<std::vector<std::string>*>(context)->push_back(std::string(path) + "|" + language + "|" + name);
    });
    EXPECT_EQ(filed, (std::vector<std::string>{"repo/one|cpp|2024-05-05 TST-40 filed twice",
                                               "repo/two|script|2024-05-05 TST-40 filed twice"}));
}

TEST_F(local_api, callbacks_may_call_back_into_the_api)
{
    auto api = make_api();
    api->declare(1, nullptr, "2024-06-06 TST-50 a", 0);
    api->declare(1, nullptr, "2024-06-07 TST-51 b", 0);
    struct context {
        flag::init_item_api_impl* api;
        int found = 0;
    } c{api.get()};
    api->for_each_active(&c, [](void* p, const char* name, flag::item_api* item) {
        auto* ctx = static_cast<context*>(p);
        ctx->found += ctx->api->find(name) == item ? 1 : 0;
        ctx->api->get_or_add("2024-06-08 TST-52 added in a callback", 0);
    });
    EXPECT_EQ(c.found, 2);
}

// A registry key that cannot take the storage's key: every write of an override fails.
TEST_F(local_api, a_refused_write_is_reported_and_not_kept)
{
    ASSERT_EQ(settings_test::make_volatile_key(HKEY_CURRENT_USER, "flag_test"), ERROR_SUCCESS);
    auto api = make_api(test_path);
    const char* name = "2025-01-01 TST-60 cannot persist";
    flag::item_api* item = api->declare(1, nullptr, name, 0);

    try {
        item->set(0, 1);
        FAIL() << "no error";
    } catch (const vantor::exception& e) {
        EXPECT_NE(std::string(e.what()).find("cannot store flag 2025_01_01_tst_60_cannot_persist"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_TRUE(item->is_default());
    EXPECT_FALSE(item->value());
    EXPECT_THROW(api->store(name, item), vantor::exception);

    // The storage's loaded map keeps what the registry holds: a forced item from a writable
    // store cannot be written into the refusing one.
    auto writable = make_api("flag_test_ok\\flags");
    flag::item_api* forced = writable->declare(1, nullptr, "2025-01-02 TST-61 forced", 0);
    forced->set(0, 1);
    flag::reg_storage storage(test_path, 1);
    EXPECT_THROW(storage.write("2025_01_02_tst_61_forced", *forced), vantor::exception);
    EXPECT_EQ(storage.read("2025_01_02_tst_61_forced"), 0);
    EXPECT_FALSE(settings_test::key_exists(HKEY_CURRENT_USER, test_path));
}

}  // namespace
