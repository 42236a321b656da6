#include "vantor/services/flag_local_api.h"

#include <tuple>

namespace flag {
namespace {

struct named_item {
    const char* name;
    item_impl* item;
};

}  // namespace

item_impl::item_impl(init_item_api_impl* owner, const char* name, const char* tag, bool default_on,
                     std::int16_t override_state, bool built_in) noexcept
    : default_on_(default_on),
      built_in_(built_in),
      override_(override_state),
      tag_(tag),
      name_(name),
      owner_(owner)
{
}

bool item_impl::value()
{
    if (removed_.load(std::memory_order_relaxed)) {
        return true;
    }
    std::int16_t forced = override_.load(std::memory_order_relaxed);
    if (forced != 0) {
        return forced > 0;
    }
    return default_on_;
}

void item_impl::set(std::uint8_t clear, std::uint8_t on)
{
    if (built_in_) {
        return;
    }
    owner_->set_item(*this, clear != 0, on != 0);
}

init_item_api_impl::init_item_api_impl(std::unique_ptr<item_storage_api> storage)
    : storage_(std::move(storage))
{
    development_mode_ = storage_->read("development_mode") > 0;
}

init_item_api_impl::~init_item_api_impl() = default;

const char* init_item_api_impl::keep_text(const char* text)
{
    owned_texts_.emplace_back(text);
    return owned_texts_.back().c_str();
}

void init_item_api_impl::set_state(const std::string& key, const char* text) { states_[key] = text; }

item_impl* init_item_api_impl::upsert_item(const declaration& d)
{
    std::string key = make_key(d.name);
    bool default_on = d.default_on;
    // Development mode turns on unfinished work: untagged flags and priority tags other than
    // the blocked ones ("p9-").
    if (!d.built_in && development_mode_ &&
        (d.tag == nullptr || (d.tag[0] == 'p' && d.tag[1] != '9'))) {
        default_on = true;
    }

    vantor::cs_lock guard(lock_.get());
    auto module = modules_.find(d.module);
    if (module == modules_.end()) {
        module = modules_.emplace(std::string(d.module), item_table{}).first;
    }
    item_table& table = module->second;
    item_impl* item = nullptr;
    if (auto found = table.find(key); found != table.end()) {
        item = found->second;
        if (!d.no_checks) {
            if (default_on && default_on != item->default_value()) {
                set_state(key, "default changed");
            }
            if (d.built_in != item->built_in()) {
                set_state(key, "build changed");
            }
        }
        if (item->removed()) {
            set_state(key, "already removed");
        }
    } else {
        const char* tag = d.tag;
        if (!d.static_strings && tag != nullptr) {
            tag = keep_text(tag);
        }
        if (auto first = items_.find(key); first != items_.end()) {
            // Another module has the flag: the new item shares its name text and override.
            item_impl* existing = first->second;
            if (d.count && !d.built_in && !default_on) {
                default_on = existing->default_value();
            }
            item = &all_items_.emplace_back(this, existing->name(), tag, default_on, existing->override_state(),
                                            d.built_in);
            table[key] = item;
        } else {
            const char* name = d.static_strings ? d.name : keep_text(d.name);
            std::int32_t stored = d.built_in ? 0 : storage_->read(key);
            item = &all_items_.emplace_back(this, name, tag, default_on, static_cast<std::int16_t>(stored),
                                            d.built_in);
            table[key] = item;
            items_[key] = item;
        }
    }
    if (d.tag != nullptr && item->tag() == nullptr) {
        set_state(key, "tag changed");
    }
    if (d.count) {
        item->declarations_.fetch_add(1, std::memory_order_relaxed);
    }
    if (d.mark_added) {
        item->added_.store(true, std::memory_order_relaxed);
    }
    return item;
}

void init_item_api_impl::file_under_sources(item_impl* item)
{
    vantor::cs_lock guard(lock_.get());
    for (const source_pair& pair : pending_sources_) {
        sources_[pair][make_key(item->name())] = item;
    }
    pending_sources_.clear();
}

item_impl* init_item_api_impl::find_in(std::string_view module, const char* name)
{
    std::string key = make_key(name);
    vantor::cs_lock guard(lock_.get());
    auto table = modules_.find(module);
    if (table == modules_.end()) {
        table = modules_.emplace(std::string(module), item_table{}).first;
    }
    auto found = table->second.find(key);
    return found == table->second.end() ? nullptr : found->second;
}

void init_item_api_impl::for_each_declared_in(std::string_view module, void* context, item_fn fn)
{
    std::vector<named_item> copy;
    {
        vantor::cs_lock guard(lock_.get());
        auto table = modules_.find(module);
        if (table != modules_.end()) {
            for (const auto& [key, item] : table->second) {
                if (!item->removed() && (item->declarations() > 0 || item->added())) {
                    copy.push_back({item->name(), item});
                }
            }
        }
    }
    for (const named_item& entry : copy) {
        fn(context, entry.name, entry.item);
    }
}

void init_item_api_impl::set_item(item_impl& item, bool clear, bool on)
{
    vantor::cs_lock guard(lock_.get());
    std::int16_t previous = item.override_state();
    item.override_.store(clear ? 0 : (on ? 1 : -1), std::memory_order_relaxed);
    try {
        storage_->write(make_key(item.name()), item);
    } catch (...) {
        item.override_.store(previous, std::memory_order_relaxed);
        throw;
    }
}

item_api* init_item_api_impl::find(const char* name) { return find_in(own_module, name); }

item_api* init_item_api_impl::declare(std::uint8_t static_strings, const char* tag, const char* name,
                                      std::uint8_t default_on)
{
    declaration d;
    d.module = own_module;
    d.static_strings = static_strings != 0;
    d.tag = tag;
    d.name = name;
    d.default_on = default_on != 0;
    item_impl* item = upsert_item(d);
    file_under_sources(item);
    return item;
}

item_api* init_item_api_impl::get_or_add(const char* name, std::uint8_t default_on)
{
    declaration d;
    d.module = own_module;
    d.name = name;
    d.default_on = default_on != 0;
    d.count = true;
    d.no_checks = true;
    return upsert_item(d);
}

item_api* init_item_api_impl::add(std::uint8_t static_strings, const char* name, std::uint8_t default_on)
{
    declaration d;
    d.module = own_module;
    d.static_strings = static_strings != 0;
    d.name = name;
    d.default_on = default_on != 0;
    d.mark_added = true;
    d.no_checks = true;
    return upsert_item(d);
}

void init_item_api_impl::for_each_active(void* context, item_fn fn)
{
    std::vector<named_item> copy;
    {
        vantor::cs_lock guard(lock_.get());
        for (const auto& [key, item] : items_) {
            if (!item->removed()) {
                copy.push_back({item->name(), item});
            }
        }
    }
    for (const named_item& entry : copy) {
        fn(context, entry.name, entry.item);
    }
}

void init_item_api_impl::store(const char* name, item_api* item)
{
    if (item == nullptr) {
        return;
    }
    // The storage's loaded map is shared with set, so the lock guards this write as well.
    vantor::cs_lock guard(lock_.get());
    storage_->write(make_key(name), *item);
}

item_api* init_item_api_impl::remove(const char* name)
{
    declaration d;
    d.module = own_module;
    d.name = name;
    d.default_on = true;
    item_impl* item = upsert_item(d);
    vantor::cs_lock guard(lock_.get());
    item->removed_.store(true, std::memory_order_relaxed);
    return item;
}

void init_item_api_impl::for_each_removed(void* context, item_fn fn)
{
    std::vector<named_item> copy;
    {
        vantor::cs_lock guard(lock_.get());
        for (const auto& [key, item] : items_) {
            if (item->removed()) {
                copy.push_back({item->name(), item});
            }
        }
    }
    for (const named_item& entry : copy) {
        fn(context, entry.name, entry.item);
    }
}

void init_item_api_impl::for_each_state(void* context, state_fn fn)
{
    std::vector<std::pair<std::string, named_item>> copy;
    {
        vantor::cs_lock guard(lock_.get());
        for (const auto& [key, text] : states_) {
            auto item = items_.find(key);
            if (item != items_.end()) {
                copy.emplace_back(text, named_item{item->second->name(), item->second});
            }
        }
    }
    for (const auto& [text, entry] : copy) {
        fn(context, text.c_str(), entry.name, entry.item);
    }
}

init_item_api* init_item_api_impl::create_api_module(const char* module)
{
    auto view = std::make_unique<set_src>(this, module != nullptr ? module : "");
    vantor::cs_lock guard(lock_.get());
    views_.push_back(std::move(view));
    return views_.back().get();
}

void init_item_api_impl::add_source(const char* path, const char* language)
{
    vantor::cs_lock guard(lock_.get());
    pending_sources_.emplace_back(path != nullptr ? path : "", language != nullptr ? language : "");
}

void init_item_api_impl::for_each_source(void* context, source_fn fn)
{
    struct entry {
        source_pair pair;
        named_item item;
    };
    std::vector<entry> copy;
    {
        vantor::cs_lock guard(lock_.get());
        for (const auto& [pair, table] : sources_) {
            for (const auto& [key, item] : table) {
                copy.push_back({pair, {item->name(), item}});
            }
        }
    }
    for (const entry& e : copy) {
        fn(context, e.item.name, e.pair.first.c_str(), e.pair.second.c_str(), e.item.item);
    }
}

void init_item_api_impl::for_each_in_modules(void* context, module_fn fn)
{
    struct entry {
        std::string module;
        named_item item;
    };
    std::vector<entry> copy;
    {
        vantor::cs_lock guard(lock_.get());
        for (const auto& [module, table] : modules_) {
            for (const auto& [key, item] : table) {
                if (!item->removed()) {
                    copy.push_back({module, {item->name(), item}});
                }
            }
        }
    }
    for (const entry& e : copy) {
        fn(context, e.item.name, e.module.c_str(), e.item.item);
    }
}

item_api* init_item_api_impl::declare_built_in(const char* tag, const char* name, std::uint8_t default_on)
{
    declaration d;
    d.module = own_module;
    d.tag = tag;
    d.name = name;
    d.default_on = default_on != 0;
    d.built_in = true;
    item_impl* item = upsert_item(d);
    file_under_sources(item);
    return item;
}

std::string init_item_api_impl::state_for_testing(const std::string& key)
{
    vantor::cs_lock guard(lock_.get());
    auto it = states_.find(key);
    return it == states_.end() ? std::string() : it->second;
}

set_src::set_src(init_item_api_impl* owner, std::string module) : owner_(owner), module_(std::move(module)) {}

item_api* set_src::find(const char* name) { return owner_->find_in(module_, name); }

item_api* set_src::declare(std::uint8_t static_strings, const char* tag, const char* name, std::uint8_t default_on)
{
    init_item_api_impl::declaration d;
    d.module = module_;
    d.static_strings = static_strings != 0;
    d.tag = tag;
    d.name = name;
    d.default_on = default_on != 0;
    return owner_->upsert_item(d);
}

item_api* set_src::get_or_add(const char* name, std::uint8_t default_on)
{
    init_item_api_impl::declaration d;
    d.module = module_;
    d.name = name;
    d.default_on = default_on != 0;
    d.count = true;
    return owner_->upsert_item(d);
}

item_api* set_src::add(std::uint8_t static_strings, const char* name, std::uint8_t default_on)
{
    init_item_api_impl::declaration d;
    d.module = module_;
    d.static_strings = static_strings != 0;
    d.name = name;
    d.default_on = default_on != 0;
    d.mark_added = true;
    return owner_->upsert_item(d);
}

void set_src::for_each_active(void* context, item_fn fn) { owner_->for_each_declared_in(module_, context, fn); }

item_api* set_src::declare_built_in(const char* tag, const char* name, std::uint8_t default_on)
{
    return owner_->declare_built_in(tag, name, default_on);
}

}  // namespace flag
