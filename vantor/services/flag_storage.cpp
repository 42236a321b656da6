#include "vantor/services/flag_storage.h"

#include <optional>

#include "vantor/core/exception.h"
#include "vantor/core/win_api.h"
#include "vantor/services/flag_local_api.h"

namespace flag {

reg_storage::reg_storage(std::string path, std::int32_t hive_selector)
    : path_(std::move(path)), hive_selector_(hive_selector)
{
    vantor::settings::load_values(hive_selector_, path_, values_);
}

std::unique_ptr<reg_storage> reg_storage::create(const std::string& path)
{
    return std::make_unique<reg_storage>(path, vantor::settings::machine_hive);
}

std::unique_ptr<init_item_api_impl> reg_storage::make_api(std::unique_ptr<reg_storage> storage)
{
    return std::make_unique<init_item_api_impl>(std::move(storage));
}

void reg_storage::write(const std::string& key, item_api& item)
{
    std::string text;
    if (!item.is_default()) {
        text = item.value() ? "true" : "false";
    }
    std::optional<std::string> previous;
    if (auto it = values_.find(key); it != values_.end()) {
        previous = it->second;
    }
    if (text.empty()) {
        values_.erase(key);
    } else {
        values_[key] = text;
    }
    std::uint32_t status = vantor::settings::store_value(hive_selector_, path_ + "\\" + key, text);
    if (status == ERROR_SUCCESS) {
        return;
    }
    // The override must not look persisted when the registry refused it.
    if (previous) {
        values_[key] = *previous;
    } else {
        values_.erase(key);
    }
    throw vantor::exception("cannot store flag " + key + ": " + std::to_string(status) + ", " +
                            vantor::last_error_message(status));
}

std::int32_t reg_storage::read(const std::string& key)
{
    auto it = values_.find(key);
    if (it == values_.end() || it->second.empty()) {
        return 0;
    }
    return it->second == "true" ? 1 : -1;
}

}  // namespace flag
