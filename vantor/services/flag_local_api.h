#pragma once
// The module's own flag API, used when the host offers none (helper processes) and in tests:
// one table of items per module, defaults from the compiled-in flag table, overrides from an
// item_storage_api, a development mode that turns on unfinished work, state texts for
// inconsistent declarations, and module-scoped views of itself.
//
// Threads: any. One lock guards every table and the storage; enumerations copy under it and call
// back outside it. Items are never freed before the API; the process's API lives until the
// process ends.
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vantor/core/locks.h"
#include "vantor/services/flag.h"
#include "vantor/services/flag_storage.h"

namespace flag {

class init_item_api_impl;
class set_src;

class item_impl final : public item_api {
public:
    item_impl(init_item_api_impl* owner, const char* name, const char* tag, bool default_on,
              std::int16_t override_state, bool built_in) noexcept;

    std::int32_t version() override { return 3; }
    bool value() override;
    bool is_default() override { return override_.load(std::memory_order_relaxed) == 0; }
    void set(std::uint8_t clear, std::uint8_t on) override;
    const char* tag() override { return tag_; }
    std::int32_t declarations() override { return declarations_.load(std::memory_order_relaxed); }
    bool added() override { return added_.load(std::memory_order_relaxed); }
    bool default_value() override { return default_on_; }
    bool built_in() override { return built_in_; }

    bool removed() const noexcept { return removed_.load(std::memory_order_relaxed); }
    // 0 none, +1 forced on, -1 forced off.
    std::int16_t override_state() const noexcept { return override_.load(std::memory_order_relaxed); }
    const char* name() const noexcept { return name_; }

private:
    friend class init_item_api_impl;

    // Fields that change after creation are atomic so that reads need no lock; every change is
    // made under the owner's lock.
    const bool default_on_;
    const bool built_in_;
    std::atomic<bool> removed_{false};
    std::atomic<bool> added_{false};
    std::atomic<std::int16_t> override_;
    std::atomic<std::int16_t> declarations_{0};
    const char* tag_;
    const char* name_;
    init_item_api_impl* owner_;
};

class init_item_api_impl final : public init_item_api_v2 {
public:
    static constexpr char own_module[] = "exe";

    // Reads "development_mode" from the storage: +1 turns development mode on for the API's life.
    explicit init_item_api_impl(std::unique_ptr<item_storage_api> storage);
    init_item_api_impl(const init_item_api_impl&) = delete;
    init_item_api_impl& operator=(const init_item_api_impl&) = delete;
    ~init_item_api_impl();

    item_api* find(const char* name) override;
    item_api* declare(std::uint8_t static_strings, const char* tag, const char* name,
                      std::uint8_t default_on) override;
    item_api* get_or_add(const char* name, std::uint8_t default_on) override;
    item_api* add(std::uint8_t static_strings, const char* name, std::uint8_t default_on) override;
    void for_each_active(void* context, item_fn fn) override;
    void store(const char* name, item_api* item) override;
    item_api* remove(const char* name) override;
    void for_each_removed(void* context, item_fn fn) override;
    void for_each_state(void* context, state_fn fn) override;
    std::int32_t version() override { return 2; }
    init_item_api* create_api_module(const char* module) override;
    void add_source(const char* path, const char* language) override;
    void for_each_source(void* context, source_fn fn) override;
    void for_each_in_modules(void* context, module_fn fn) override;
    item_api* declare_built_in(const char* tag, const char* name, std::uint8_t default_on) override;

    // Declares the compiled-in flag table (flag_table.cpp) in module "exe".
    void declare_table();

    bool development_mode() const noexcept { return development_mode_; }
    // The state text recorded for a key, or empty.
    std::string state_for_testing(const std::string& key);

    // One declaration, as the operations above and the module views make it.
    struct declaration {
        std::string_view module;
        bool static_strings = true;
        const char* tag = nullptr;
        const char* name = nullptr;
        bool default_on = false;
        bool count = false;       // counts the declaration
        bool mark_added = false;  // marks the item added
        bool no_checks = false;   // records no "default changed" or "build changed"
        bool built_in = false;
    };
    item_impl* upsert_item(const declaration& d);
    item_impl* find_in(std::string_view module, const char* name);
    // The module's items that are not removed and were counted or added.
    void for_each_declared_in(std::string_view module, void* context, item_fn fn);
    // item_impl::set: changes the override and stores it; restores it when storing fails.
    void set_item(item_impl& item, bool clear, bool on);

private:
    using item_table = std::map<std::string, item_impl*>;
    using source_pair = std::pair<std::string, std::string>;

    void set_state(const std::string& key, const char* text);
    void file_under_sources(item_impl* item);
    const char* keep_text(const char* text);

    vantor::critical_section lock_;
    std::unique_ptr<item_storage_api> storage_;
    item_table items_;
    std::map<std::string, item_table, std::less<>> modules_;
    std::map<std::string, std::string> states_;
    std::map<source_pair, item_table> sources_;
    std::vector<source_pair> pending_sources_;
    bool development_mode_ = false;

    std::deque<item_impl> all_items_;
    std::deque<std::string> owned_texts_;
    std::vector<std::unique_ptr<set_src>> views_;
};

// A view of a local API for one module (create_api_module).
class set_src final : public init_item_api_v2 {
public:
    set_src(init_item_api_impl* owner, std::string module);

    item_api* find(const char* name) override;
    item_api* declare(std::uint8_t static_strings, const char* tag, const char* name,
                      std::uint8_t default_on) override;
    item_api* get_or_add(const char* name, std::uint8_t default_on) override;
    item_api* add(std::uint8_t static_strings, const char* name, std::uint8_t default_on) override;
    void for_each_active(void* context, item_fn fn) override;
    void store(const char*, item_api*) override {}
    item_api* remove(const char*) override { return nullptr; }
    void for_each_removed(void*, item_fn) override {}
    void for_each_state(void*, state_fn) override {}
    std::int32_t version() override { return 2; }
    init_item_api* create_api_module(const char*) override { return nullptr; }
    void add_source(const char*, const char*) override {}
    void for_each_source(void*, source_fn) override {}
    void for_each_in_modules(void*, module_fn) override {}
    item_api* declare_built_in(const char* tag, const char* name, std::uint8_t default_on) override;

    const std::string& module() const noexcept { return module_; }

private:
    init_item_api_impl* owner_;
    std::string module_;
};

}  // namespace flag
