#include "vantor/services/element.h"

#include <memory>
#include <utility>

#include "vantor/core/exception.h"
#include "vantor/core/netbuf.h"

namespace tarvojson {

namespace {

// The value behind each kind. Values are made and freed only here, through these two helpers,
// so that the element's raw pointer always matches its kind.
template <typename T, typename... Args>
void* make_value(Args&&... args)
{
    return std::make_unique<T>(std::forward<Args>(args)...).release();
}

template <typename T>
void free_value(void* value) noexcept
{
    std::unique_ptr<T> owner(static_cast<T*>(value));
}

template <typename T>
T& value_as(void* value) noexcept
{
    return *static_cast<T*>(value);
}

template <typename T>
const T& value_as(const void* value) noexcept
{
    return *static_cast<const T*>(value);
}

// A copy of `value` of kind `k`; byte blocks share the source's bytes.
void* copy_value(element_kind k, const void* value)
{
    switch (k) {
        case element_kind::null:
            return nullptr;
        case element_kind::string:
        case element_kind::text:
            return make_value<std::string>(value_as<std::string>(value));
        case element_kind::array:
            return make_value<element::array_type>(value_as<element::array_type>(value));
        case element_kind::object:
            return make_value<element::object_type>(value_as<element::object_type>(value));
        case element_kind::int64:
            return make_value<std::int64_t>(value_as<std::int64_t>(value));
        case element_kind::netbuf:
        case element_kind::json_netbuf: {
            const auto& block = value_as<netbuf>(value);
            return make_value<netbuf>(netbuf::construct_range(block, 0, 2147483647));
        }
    }
    throw vantor::internal_error(134);
}

}  // namespace

element::element(const element& other) : kind_(other.kind_), value_(copy_value(other.kind_, other.value_)) {}

element::element(element&& other) noexcept
    : kind_(std::exchange(other.kind_, element_kind::null)), value_(std::exchange(other.value_, nullptr))
{
}

element& element::operator=(const element& other)
{
    copy_from(other);
    return *this;
}

element& element::operator=(element&& other) noexcept
{
    move_from(other);
    return *this;
}

element::~element()
{
    release();
}

void element::copy_from(const element& other)
{
    if (this == &other) {
        return;
    }
    // The copy is made first: `other` may live inside this element's value.
    void* fresh = copy_value(other.kind_, other.value_);
    release();
    kind_ = other.kind_;
    value_ = fresh;
}

void element::move_from(element& other) noexcept
{
    if (this == &other) {
        return;
    }
    // `other` may live inside this element's value: take it over before releasing the old one.
    element_kind k = std::exchange(other.kind_, element_kind::null);
    void* v = std::exchange(other.value_, nullptr);
    release();
    kind_ = k;
    value_ = v;
}

void element::swap(element& other) noexcept
{
    std::swap(kind_, other.kind_);
    std::swap(value_, other.value_);
}

void element::release() noexcept
{
    void* v = std::exchange(value_, nullptr);
    switch (kind_) {
        case element_kind::null:
            break;
        case element_kind::string:
        case element_kind::text:
            free_value<std::string>(v);
            break;
        case element_kind::array:
            free_value<array_type>(v);
            break;
        case element_kind::object:
            free_value<object_type>(v);
            break;
        case element_kind::int64:
            free_value<std::int64_t>(v);
            break;
        case element_kind::netbuf:
        case element_kind::json_netbuf:
            free_value<netbuf>(v);
            break;
    }
}

void element::reset_to(element_kind k)
{
    void* fresh = nullptr;
    switch (k) {
        case element_kind::null:
            break;
        case element_kind::string:
        case element_kind::text:
            fresh = make_value<std::string>();
            break;
        case element_kind::array:
            fresh = make_value<array_type>();
            break;
        case element_kind::object:
            fresh = make_value<object_type>();
            break;
        case element_kind::int64:
            fresh = make_value<std::int64_t>(0);
            break;
        case element_kind::netbuf:
        case element_kind::json_netbuf:
            fresh = make_value<netbuf>();
            break;
    }
    release();
    kind_ = k;
    value_ = fresh;
}

std::string& element::as_string()
{
    if (kind_ != element_kind::string) {
        reset_to(element_kind::string);
    }
    return value_as<std::string>(value_);
}

element::array_type& element::as_array()
{
    if (kind_ != element_kind::array) {
        reset_to(element_kind::array);
    }
    return value_as<array_type>(value_);
}

element::object_type& element::as_object()
{
    if (kind_ != element_kind::object) {
        reset_to(element_kind::object);
    }
    return value_as<object_type>(value_);
}

std::int64_t& element::as_int64()
{
    if (kind_ != element_kind::int64) {
        reset_to(element_kind::int64);
    }
    return value_as<std::int64_t>(value_);
}

std::string& element::as_text()
{
    if (kind_ != element_kind::text) {
        reset_to(element_kind::text);
    }
    return value_as<std::string>(value_);
}

netbuf& element::as_netbuf()
{
    if (kind_ != element_kind::netbuf) {
        reset_to(element_kind::netbuf);
    }
    return value_as<netbuf>(value_);
}

netbuf& element::as_json_netbuf()
{
    if (kind_ != element_kind::json_netbuf) {
        reset_to(element_kind::json_netbuf);
    }
    return value_as<netbuf>(value_);
}

const std::string* element::string_if() const noexcept
{
    return kind_ == element_kind::string ? &value_as<std::string>(value_) : nullptr;
}

const element::array_type* element::array_if() const noexcept
{
    return kind_ == element_kind::array ? &value_as<array_type>(value_) : nullptr;
}

const element::object_type* element::object_if() const noexcept
{
    return kind_ == element_kind::object ? &value_as<object_type>(value_) : nullptr;
}

const std::int64_t* element::int64_if() const noexcept
{
    return kind_ == element_kind::int64 ? &value_as<std::int64_t>(value_) : nullptr;
}

const std::string* element::text_if() const noexcept
{
    return kind_ == element_kind::text ? &value_as<std::string>(value_) : nullptr;
}

const netbuf* element::netbuf_if() const noexcept
{
    return kind_ == element_kind::netbuf ? &value_as<netbuf>(value_) : nullptr;
}

const netbuf* element::json_netbuf_if() const noexcept
{
    return kind_ == element_kind::json_netbuf ? &value_as<netbuf>(value_) : nullptr;
}

std::string* element::string_ptr()
{
    if (kind_ == element_kind::netbuf) {
        std::string bytes = value_as<netbuf>(value_).to_string();
        as_string() = std::move(bytes);
    }
    return kind_ == element_kind::string ? &value_as<std::string>(value_) : nullptr;
}

std::string element::string_value() const
{
    std::string out;
    try_get_string(this, out);
    return out;
}

std::string element::get_string(std::string_view path, const std::string& fallback) const
{
    std::string out;
    if (try_get_string(find_path(path), out)) {
        return out;
    }
    return fallback;
}

bool element::get_string_map(const element* e, string_map& out)
{
    if (e == nullptr || e->kind_ != element_kind::object) {
        return false;
    }
    out.clear();
    for (const auto& [name, value] : value_as<object_type>(e->value_)) {
        std::string text;
        if (try_get_string(&value, text)) {
            out[name] = std::move(text);
        }
    }
    return true;
}

void element::set_string_map(const string_map& values)
{
    object_type& members = as_object();
    members.clear();
    for (const auto& [name, value] : values) {
        members[name].as_string() = value;
    }
}

void element::set_string(const char* data, std::size_t length)
{
    as_string().assign(data, length);
}

bool try_get_string(const element* e, std::string& out)
{
    if (e == nullptr) {
        return false;
    }
    if (const std::string* s = e->string_if()) {
        out = *s;
        return true;
    }
    if (const netbuf* block = e->netbuf_if()) {
        out = block->to_string();
        return true;
    }
    return false;
}

bool try_get_int64(const element* e, std::int64_t& out)
{
    if (e == nullptr) {
        return false;
    }
    if (const std::int64_t* v = e->int64_if()) {
        out = *v;
        return true;
    }
    return false;
}

}  // namespace tarvojson
