// The local metrics manager over the shared block, the do-nothing manager and metric, the
// process-wide manager and the registration helpers.
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "vantor/core/log.h"
#include "vantor/services/metric_types.h"
#include "vantor/services/metrics.h"
#include "vantor/services/metrics_block.h"

namespace vantor::metric {
namespace {

const log_context metrics_log{"metrics"};
const log_context metric_log{"metric"};

class dummy_ifc_ final : public stats_ifc {
public:
    void* destroy_slot(unsigned) override { return this; }
    std::int32_t version() override { return 2; }
    const descriptor* get_descriptor() override { return nullptr; }
    void add(std::int32_t, std::int32_t) override {}
    std::uint32_t totals(std::uint32_t* count, std::int64_t* sum) override
    {
        if (count) *count = 0;
        if (sum) *sum = 0;
        return 1;
    }
    bool bucket(std::uint32_t index, std::int32_t* lower, std::int32_t* upper, std::uint32_t* count) override
    {
        if (index != 0) return false;
        if (lower) *lower = 0;
        if (upper) *upper = 1;
        if (count) *count = 0;
        return true;
    }
    snapshot* make_snapshot() override { return nullptr; }
    void update_snapshot(snapshot*) override {}
};

class global final : public stats_ifc_manager {
public:
    std::int32_t version() override { return 2; }
    std::uint32_t descriptor_hash(const descriptor*) override { return 0; }
    stats_ifc* get_or_add(const descriptor*, bool) override { return dummy_metric(); }
    stats_ifc* get_or_add_named(const char*, metric_factory) override { return dummy_metric(); }
    stats_ifc* at(std::uint32_t) override { return nullptr; }
    bool shared_block(HANDLE*, std::uint32_t*) override { return false; }
    void refresh() override {}
};

std::uint32_t fnv1a(const void* data, std::size_t size)
{
    std::uint32_t h = 0x811c9dc5;
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) {
        h ^= p[i];
        h *= 16777619u;
    }
    return h;
}

std::uint32_t fnv1a_word(std::uint32_t x)
{
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(x >> 8),
                                   static_cast<std::uint8_t>(x >> 16), static_cast<std::uint8_t>(x >> 24)};
    return fnv1a(bytes, 4);
}

class manager_implementation final : public stats_ifc_manager {
public:
    // A manager over a new block (process memory when the block cannot be made).
    manager_implementation()
    {
        if (store_.init_new()) {
            metrics_log.write("allocated");
            for (const char* s : {"event", "enum", "linear", "bool", "num", "ms", "us", "count"}) {
                store_.add_string(s);
            }
        }
    }

    // A manager attached to a block that a parent handed over.
    manager_implementation(HANDLE handle, std::uint32_t size)
    {
        if (!store_.attach(handle, size)) {
            metrics_log.write("invalid shared memory");
            return;
        }
        metrics_log.write("loading exising shared metrics");
        loading_ = true;
        load_shared();
        loading_ = false;
    }

    bool attached() const { return store_.valid(); }

    std::int32_t version() override { return 2; }
    std::uint32_t descriptor_hash(const descriptor* d) override { return d ? hash_descriptor(*d) : 0; }

    stats_ifc* get_or_add(const descriptor* request, bool copy_strings) override
    {
        try {
            return add_metric(request, copy_strings);
        } catch (...) {
            return dummy_metric();
        }
    }

    stats_ifc* get_or_add_named(const char* name, metric_factory factory) override
    {
        try {
            const std::string key = name ? name : "";
            {
                std::lock_guard guard(lock_);
                if (auto it = names_.find(key); it != names_.end()) return it->second;
            }
            if (!factory) return nullptr;
            // The factory runs without the lock: it registers through this manager again (and
            // may register other named metrics), which must not wait for the lock held here.
            stats_ifc* made = factory(name);
            if (!made) made = dummy_metric();
            std::lock_guard guard(lock_);
            auto [it, inserted] = names_.emplace(key, made);
            if (inserted && made->get_descriptor()) list_.push_back(made);
            return it->second;
        } catch (...) {
            return dummy_metric();
        }
    }

    stats_ifc* at(std::uint32_t index) override
    {
        std::lock_guard guard(lock_);
        return index < list_.size() ? list_[index] : nullptr;
    }

    bool shared_block(HANDLE* handle, std::uint32_t* size) override
    {
        if (!store_.valid()) return false;
        HANDLE h = store_.mapping().duplicate_to();
        if (handle) *handle = h;
        if (size) *size = store_.total();
        return true;
    }

    void refresh() override
    {
        try {
            if (store_.valid()) load_shared();
        } catch (...) {
        }
    }

private:
    stats_ifc* add_metric(const descriptor* request, bool copy_strings)
    {
        if (!request || request->size != descriptor_size || request->name.length == 0 || !request->name.text ||
            (request->type == 2 && request->minimum != 1)) {
            return dummy_metric();
        }
        descriptor d = *request;
        if (d.units.length == 0 || !d.units.text) {
            const char* units = default_units(d.type);
            d.units = {static_cast<std::uint32_t>(std::strlen(units)), units};
        }
        if (d.buckets == 0) d.buckets = default_buckets(d.type, d.minimum, d.maximum);
        if (d.buckets > (d.type == 2 ? 2000u : 50u)) return dummy_metric();
        const std::uint32_t m = counter_size(d.buckets);

        void* counters = nullptr;
        metric_storage storage;
        // A descriptor that will be refused stays out of the block: its entries would stop every
        // later scan of the block (other processes could not load anything registered after it).
        if (store_.valid() && fits_type(d)) counters = counters_in_block(d, m);
        if (!counters) {
            if (copy_strings) {
                storage.name.assign(d.name.text, d.name.length);
                storage.units.assign(d.units.text, d.units.length);
            }
            storage.counters = std::make_unique<std::uint64_t[]>((m + 7) / 8);
            counters = storage.counters.get();
        }
        stats_ifc* made = create_metric(d, counters, std::move(storage));
        return made ? made : dummy_metric();
    }

    // Points the descriptor's texts into the block and returns the counters of its data entry,
    // or null when the block cannot take them.
    void* counters_in_block(descriptor& d, std::uint32_t m)
    {
        const std::uint32_t name_at = store_.find_or_add_string({d.name.text, d.name.length});
        const std::uint32_t units_at = store_.find_or_add_string({d.units.text, d.units.length});
        if (!name_at || !units_at) return nullptr;
        const std::string_view name = store_.read_string(name_at);
        const std::string_view units = store_.read_string(units_at);
        const std::uint32_t type_payload[4] = {d.type, d.buckets, static_cast<std::uint32_t>(d.minimum),
                                               static_cast<std::uint32_t>(d.maximum)};
        const std::uint32_t type_at = store_.find_or_add_type(type_payload);
        if (!type_at || !name.data() || !units.data()) return nullptr;
        const std::uint32_t key[4] = {name_at, units_at, type_at, 0};
        const std::uint32_t data_at = store_.find_or_add_data(key, m);
        if (!data_at) return nullptr;
        d.name.text = name.data();
        d.units.text = units.data();
        return store_.base() + data_at + 32;
    }

    void load_shared()
    {
        std::map<std::uint32_t, std::string_view> strings;
        std::map<std::uint32_t, std::array<std::uint32_t, 4>> types;
        std::uint32_t called = 0, updated = 0, added = 0;
        store_.for_each([&](std::uint32_t offset, persistent::entry_header* e) {
            ++called;
            const auto* words = reinterpret_cast<const std::uint32_t*>(e + 1);
            switch (e->tag) {
            case tag_string: {
                const std::string_view text = store_.read_string(offset);
                if (!text.data()) {
                    if (loading_) metric_log.log(VANTOR_FMT("invalid string r: %1%"), offset);
                    return false;
                }
                strings[offset] = text;
                return true;
            }
            case tag_type:
                if (e->size != 32 || words[1] < 1 || words[1] > 2000 ||
                    static_cast<std::int32_t>(words[2]) > static_cast<std::int32_t>(words[3])) {
                    if (loading_) metric_log.log(VANTOR_FMT("invalid data r: %1%"), offset);
                    return false;
                }
                types[offset] = {words[0], words[1], words[2], words[3]};
                return true;
            case tag_data: {
                const auto name = strings.find(words[0]);
                const auto units = strings.find(words[1]);
                const auto type = types.find(words[2]);
                std::uint32_t buckets = 0;
                std::int32_t min = 0, max = 0;
                if (type != types.end()) {
                    buckets = type->second[1];
                    min = static_cast<std::int32_t>(type->second[2]);
                    max = static_cast<std::int32_t>(type->second[3]);
                }
                if (name == strings.end() || units == strings.end() || type == types.end() ||
                    default_buckets(type->second[0], min, max) != buckets ||
                    e->size != ((4 * buckets + 59) & ~15u)) {
                    if (loading_) {
                        metric_log.log(VANTOR_FMT("invalid type r: %1% name: %2% units: %3% info: %4% buckets: "
                                                  "%5% min: %6% max: %7%"),
                                       offset, words[0], words[1], words[2], buckets, min, max);
                    }
                    return false;
                }
                ++updated;
                descriptor d{descriptor_size,
                             {static_cast<std::uint32_t>(name->second.size()), name->second.data()},
                             {static_cast<std::uint32_t>(units->second.size()), units->second.data()},
                             type->second[0],
                             min,
                             max,
                             buckets};
                std::lock_guard guard(lock_);
                const std::string key(name->second);
                if (names_.count(key)) return true;
                stats_ifc* made = create_metric(d, reinterpret_cast<std::uint8_t*>(e) + 32, {});
                if (!made) return true;
                if (made->get_descriptor()) {
                    ++added;
                    list_.push_back(made);
                }
                names_.emplace(key, made);
                return true;
            }
            default:
                if (loading_) metric_log.log(VANTOR_FMT("invalid type r: %1% t: %2%"), offset, e->tag);
                return false;
            }
        });
        if (updated) metric_log.log(VANTOR_FMT("updated: %1% new: %2%"), updated, added);
        if (loading_) metric_log.log(VANTOR_FMT("called: %1% valid: %2%"), called, updated);
    }

    std::mutex lock_;
    std::vector<stats_ifc*> list_;
    std::map<std::string, stats_ifc*> names_;
    persistent::store store_;
    bool loading_ = false;
};

std::atomic<stats_ifc_manager*> global_manager_pointer{nullptr};

// Managers live until the process ends.
std::mutex managers_lock;
std::deque<std::unique_ptr<manager_implementation>>& managers()
{
    static std::deque<std::unique_ptr<manager_implementation>> list;
    return list;
}

manager_implementation* keep(std::unique_ptr<manager_implementation> m)
{
    std::lock_guard guard(managers_lock);
    managers().push_back(std::move(m));
    return managers().back().get();
}

}  // namespace

std::uint32_t hash_descriptor(const descriptor& d)
{
    if (d.size < descriptor_size || d.name.length == 0 || !d.name.text) return 0;
    const std::uint32_t h = fnv1a(d.name.text, d.name.length);
    const std::uint32_t mix = ((((fnv1a_word(static_cast<std::uint32_t>(d.maximum)) * 2) ^
                                 fnv1a_word(static_cast<std::uint32_t>(d.minimum))) *
                                2) ^
                               fnv1a_word(d.type)) *
                              2;
    return h ^ mix;
}

stats_ifc* dummy_metric()
{
    static dummy_ifc_ metric;
    return &metric;
}

stats_ifc_manager* dummy_manager()
{
    static global manager;
    return &manager;
}

stats_ifc_manager* global_manager()
{
    stats_ifc_manager* m = global_manager_pointer.load();
    return m ? m : dummy_manager();
}

void set_global_manager(stats_ifc_manager* manager)
{
    if (manager) global_manager_pointer.store(manager);
}

stats_ifc_manager* create_local_manager() { return keep(std::make_unique<manager_implementation>()); }

stats_ifc_manager* open_shared_manager(HANDLE handle, std::uint32_t size)
{
    if (!persistent::store::validate_handle(handle, size)) return nullptr;
    auto m = std::make_unique<manager_implementation>(handle, size);
    if (!m->attached()) return nullptr;
    return keep(std::move(m));
}

stats_ifc* register_checked(stats_ifc_manager* manager, const descriptor& d)
{
    if (!manager) return dummy_metric();
    stats_ifc* m = manager->get_or_add(&d, false);
    if (!m) return dummy_metric();
    const descriptor* got = m->get_descriptor();
    if (!got || got->type != d.type || manager->descriptor_hash(got) != manager->descriptor_hash(&d)) {
        return dummy_metric();
    }
    return m;
}

stats_ifc* add_histogram(std::uint32_t kind, const char* name)
{
    if (!name) return dummy_metric();
    std::int32_t min, max;
    switch (kind) {
    case 4:
        min = 0, max = 1;
        break;
    case 5:
        min = 0, max = 2147483647;
        break;
    case 6:
    case 8:
    case 13:
        min = 2, max = 20000;
        break;
    case 7:
        min = 10, max = 20000;
        break;
    case 9:
        min = 2, max = 2000;
        break;
    case 10:
        min = 1, max = 200;
        break;
    case 11:
        min = 10, max = 200000;
        break;
    case 12:
    case 14:
        min = 1, max = 2000;
        break;
    default:
        return dummy_metric();
    }
    const descriptor d{descriptor_size, {static_cast<std::uint32_t>(std::strlen(name)), name}, {0, nullptr}, kind,
                       min, max, 0};
    return register_checked(global_manager(), d);
}

stats_ifc* add_enum(const char* name, std::int32_t n)
{
    if (!name) return dummy_metric();
    const descriptor d{descriptor_size, {static_cast<std::uint32_t>(std::strlen(name)), name}, {0, nullptr}, 2, 1,
                       n, 0};
    return register_checked(global_manager(), d);
}

}  // namespace vantor::metric
