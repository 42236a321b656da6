#include "vantor/services/flag.h"

#include "vantor/core/thread.h"
#include "vantor/core/timers.h"
#include "vantor/services/flag_local_api.h"
#include "vantor/services/flag_names.h"
#include "vantor/services/flag_storage.h"

namespace flag {
namespace {

// The records waiting to be bound, newest first. Constant-initialised, so records of every
// source file can link themselves during static initialisation in any order.
std::atomic<static_item*> pending_list{nullptr};

// Flags that the foundation core consults through its query hooks (it cannot declare records
// itself, being below this library).
static_item crash_on_thread_creation_failed{names::crash_on_thread_creation_failed, false};
static_item no_delete_of_repeating_tasks{names::no_delete_of_repeating_tasks_without_id, false};

bool thread_start_crash_answer() { return crash_on_thread_creation_failed.value(); }
bool unkept_repeating_release_answer() { return no_delete_of_repeating_tasks.value(); }

bool is_ascii_alnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

init_item_api* current_api = nullptr;

static_item::static_item(const char* name, bool default_on) noexcept : name_(name), default_on_(default_on)
{
    static_item* head = pending_list.load(std::memory_order_relaxed);
    do {
        next_ = head;
    } while (!pending_list.compare_exchange_weak(head, this, std::memory_order_release,
                                                 std::memory_order_relaxed));
}

bool static_item::value() const
{
    if (item_api* bound = item_.load(std::memory_order_acquire)) {
        return bound->value();
    }
    // Not bound yet: the first get_api binds every pending record. A record made after that
    // stays unbound and asks the API each time; a name the API does not know reads as the
    // record's own default.
    item_api* found = get_api()->find(name_);
    return found != nullptr ? found->value() : default_on_;
}

void bind_static_items(init_item_api* api)
{
    static_item* record = pending_list.exchange(nullptr, std::memory_order_acquire);
    while (record != nullptr) {
        static_item* next = record->next_;
        record->next_ = nullptr;
        record->item_.store(api->get_or_add(record->name_, record->default_on_ ? 1 : 0),
                            std::memory_order_release);
        record = next;
    }
}

init_item_api* build_local_api()
{
    std::unique_ptr<init_item_api_impl> api =
        reg_storage::make_api(reg_storage::create(reg_storage::local_path));
    api->declare_table();
    bind_static_items(api.get());
    // The process's flag API lives until the process ends.
    return api.release();
}

init_item_api* create_api()
{
    if (current_api == nullptr) {
        current_api = build_local_api();
    }
    bind_static_items(current_api);
    return current_api;
}

init_item_api* get_api()
{
    static init_item_api* const api = create_api();
    return api;
}

std::string make_key(std::string_view name)
{
    std::string key;
    key.reserve(name.size());
    bool separator = false;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (!is_ascii_alnum(c)) {
            separator = true;
            continue;
        }
        if (separator && !key.empty()) {
            key += '_';
        }
        separator = false;
        key += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
    }
    return key;
}

void install_foundation_queries()
{
    vantor::set_thread_start_crash_query(&thread_start_crash_answer);
    vantor::timers::set_unkept_repeating_release_query(&unkept_repeating_release_answer);
}

}  // namespace flag
