#include "vantor/core/api_registry.h"

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace vantor {
namespace {

std::atomic<api_registry*> host_registry{nullptr};
std::atomic<api_registry*> local_registry{nullptr};

class registry final : public api_registry {
public:
    registry() { local_registry.store(this); }

    void* lookup(const char* name) override
    {
        try {
            std::shared_lock guard(lock_);
            auto it = map_.find(name ? name : "");
            return it == map_.end() ? nullptr : it->second;
        } catch (...) {
            return nullptr;
        }
    }

    bool register_interface(const char* name, void* object) override
    {
        try {
            std::unique_lock guard(lock_);
            if (parent_) {
                api_registry* parent = parent_;
                guard.unlock();
                return parent->register_interface(name, object);
            }
            return map_.emplace(name ? name : "", object).second;
        } catch (...) {
            return false;
        }
    }

    void* destroy_slot(unsigned) override { return this; }

    // Registers every local name with the parent, in name order, outside the lock; the local
    // map keeps its entries and later registrations go to the parent.
    void hand_over_to_parent(api_registry* parent)
    {
        if (parent == this) return;
        std::map<std::string, void*> copy;
        {
            std::unique_lock guard(lock_);
            copy = map_;
            parent_ = parent;
        }
        for (const auto& [name, object] : copy) parent->register_interface(name.c_str(), object);
    }

private:
    std::shared_mutex lock_;
    std::map<std::string, void*> map_;
    api_registry* parent_ = nullptr;
};

// Registries live until the process ends: whoever kept a pointer to one still reaches it.
std::mutex made_lock;

registry* make_local()
{
    static std::deque<std::unique_ptr<registry>> made;
    std::lock_guard guard(made_lock);
    if (api_registry* local = local_registry.load()) return static_cast<registry*>(local);
    made.push_back(std::make_unique<registry>());
    return made.back().get();
}

}  // namespace

api_registry* api_registry_get()
{
    if (api_registry* host = host_registry.load()) return host;
    if (api_registry* local = local_registry.load()) return local;
    return make_local();
}

void set_parent_registry(api_registry* r)
{
    if (!r || r == host_registry.load()) return;
    api_registry* old = local_registry.exchange(nullptr);
    host_registry.store(r);
    if (old) static_cast<registry*>(old)->hand_over_to_parent(r);
}

void reset_registries_for_testing()
{
    host_registry.store(nullptr);
    local_registry.store(nullptr);
}

}  // namespace vantor
