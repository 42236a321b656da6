#pragma once
// Persistent overrides of the local flag API: "true" or "false" registry values named by flag
// keys, below "Software\Tarvo Online\" and the storage's path.
#include <cstdint>
#include <memory>
#include <string>

#include "vantor/services/flag.h"
#include "vantor/services/settings.h"

namespace flag {

class init_item_api_impl;

// Where the local API keeps overrides. Used under the API's lock.
class item_storage_api {
public:
    virtual ~item_storage_api() = default;

    // Stores the item's state under `key`: no value for an item without override, else "true"
    // or "false" after its value. Raises vantor::exception when the state cannot be stored;
    // what the storage holds is then unchanged.
    virtual void write(const std::string& key, item_api& item) = 0;
    // 0 for no stored state, +1 for exactly "true", -1 for any other text.
    virtual std::int32_t read(const std::string& key) = 0;
};

// The registry storage: every value of its key is loaded once at construction (a missing key
// loads nothing); writes go to the registry and to the loaded map.
class reg_storage final : public item_storage_api {
public:
    // The local API's path below "Software\Tarvo Online\".
    static constexpr char local_path[] = "Tarvo Light\\flags";

    // hive_selector: settings::machine_hive or settings::user_hive.
    reg_storage(std::string path, std::int32_t hive_selector);

    // The machine-wide storage on `path`.
    static std::unique_ptr<reg_storage> create(const std::string& path);
    // A local flag API over the storage.
    static std::unique_ptr<init_item_api_impl> make_api(std::unique_ptr<reg_storage> storage);

    void write(const std::string& key, item_api& item) override;
    std::int32_t read(const std::string& key) override;

private:
    std::string path_;
    std::int32_t hive_selector_;
    vantor::settings::value_map values_;
};

}  // namespace flag
