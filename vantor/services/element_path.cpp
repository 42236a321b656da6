#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "vantor/core/exception.h"
#include "vantor/core/stringstream.h"
#include "vantor/services/element.h"

namespace tarvojson {

namespace {

// The index value that split_path reports for an index text that is not a number or lies
// below -1; such steps name nothing.
constexpr int invalid_index = INT_MIN;

[[noreturn]] void raise_invalid_path()
{
    throw vantor::exception("invalid_path");
}

int read_index(std::string_view text)
{
    vantor_stl::stringstream s{std::string(text)};
    long long value = 0;
    s >> value;
    if (!s.good || value < -1 || value > INT_MAX) {
        return invalid_index;
    }
    return static_cast<int>(value);
}

// One step taken by find_path: the item or member that `step` names inside `e`, or null.
const element* find_step(const element& e, bool is_index, const std::string& name, int index)
{
    if (is_index) {
        const element::array_type* items = e.array_if();
        if (items == nullptr) {
            return nullptr;
        }
        if (index == -1) {
            return items->empty() ? nullptr : &items->back();
        }
        if (index >= 0 && static_cast<std::size_t>(index) < items->size()) {
            return &(*items)[static_cast<std::size_t>(index)];
        }
        return nullptr;
    }
    const element::object_type* members = e.object_if();
    if (members == nullptr) {
        return nullptr;
    }
    auto it = members->find(name);
    return it == members->end() ? nullptr : &it->second;
}

// Removes item `index` (-1: the last) of the array `e`.
void erase_index(element& e, int index)
{
    if (e.kind() != element_kind::array) {
        raise_invalid_path();
    }
    element::array_type& items = e.as_array();
    if (index == -1 && !items.empty()) {
        items.pop_back();
        return;
    }
    if (index >= 0 && static_cast<std::size_t>(index) < items.size()) {
        items.erase(items.begin() + index);
        return;
    }
    raise_invalid_path();
}

}  // namespace

bool split_path(std::string_view path, std::string& first, std::string& rest, int& index, bool& insert)
{
    std::string_view step = path;
    std::string_view after;
    std::size_t dot = path.find('.');
    if (dot != std::string_view::npos) {
        step = path.substr(0, dot);
        after = path.substr(dot + 1);
    }
    rest.assign(after);
    std::size_t open = step.find('[');
    std::size_t close = open == std::string_view::npos ? open : step.find(']', open);
    if (close == std::string_view::npos) {
        first.assign(step);
        return false;
    }
    if (open > 0) {
        // "a[2].c": the member a, then the index step with everything after it.
        first.assign(step.substr(0, open));
        rest.assign(path.substr(open));
        return false;
    }
    // Text after the closing bracket of this step ("[1][2]") is ignored.
    first.assign(step);
    std::string_view inside = step.substr(1, close - 1);
    insert = false;
    if (inside.empty()) {
        index = -1;
        return true;
    }
    if (inside.front() == '+') {
        insert = true;
        inside.remove_prefix(1);
    }
    index = read_index(inside);
    return true;
}

element& element::make_path(std::string_view path)
{
    element* at = this;
    std::string name;
    std::string rest(path);
    std::string next;
    while (!rest.empty()) {
        int index = 0;
        bool insert = false;
        if (split_path(rest, name, next, index, insert)) {
            if (index == invalid_index) {
                raise_invalid_path();
            }
            array_type& items = at->as_array();
            if (index == -1) {
                at = &items.emplace_back();
            } else if (static_cast<std::size_t>(index) < items.size()) {
                if (insert) {
                    items.insert(items.begin() + index, element());
                }
                at = &items[static_cast<std::size_t>(index)];
            } else {
                items.resize(static_cast<std::size_t>(index) + 1);
                at = &items.back();
            }
        } else {
            at = &at->as_object()[name];
        }
        rest.swap(next);
    }
    return *at;
}

const element* element::find_path(std::string_view path) const noexcept
{
    try {
        const element* at = this;
        std::string name;
        std::string rest(path);
        std::string next;
        while (at != nullptr && !rest.empty()) {
            int index = 0;
            bool insert = false;
            bool is_index = split_path(rest, name, next, index, insert);
            at = (is_index && index == invalid_index) ? nullptr : find_step(*at, is_index, name, index);
            rest.swap(next);
        }
        return at;
    } catch (...) {
        // Only the path's own copies can fail (out of memory): the path then names nothing.
        return nullptr;
    }
}

element* element::find_path(std::string_view path) noexcept
{
    return const_cast<element*>(static_cast<const element&>(*this).find_path(path));
}

void element::erase_path(std::string_view path)
{
    if (path.empty()) {
        release();
        kind_ = element_kind::null;
        return;
    }
    std::size_t last_dot = path.rfind('.');
    element* at = this;
    std::string_view last = path;
    if (last_dot != std::string_view::npos) {
        at = find_path(path.substr(0, last_dot));
        if (at == nullptr) {
            raise_invalid_path();
        }
        last = path.substr(last_dot + 1);
    }
    std::string name;
    std::string rest;
    int index = 0;
    bool insert = false;
    if (split_path(last, name, rest, index, insert)) {
        if (index == invalid_index) {
            raise_invalid_path();
        }
        erase_index(*at, index);
        return;
    }
    if (at->kind() != element_kind::object) {
        raise_invalid_path();
    }
    object_type& members = at->as_object();
    auto it = members.find(name);
    if (it == members.end()) {
        raise_invalid_path();
    }
    if (rest.empty()) {
        members.erase(it);
        return;
    }
    // "a[2]": the index step applies to the member's array.
    std::string after_index;
    if (!split_path(rest, name, after_index, index, insert) || index == invalid_index) {
        raise_invalid_path();
    }
    erase_index(it->second, index);
}

}  // namespace tarvojson
