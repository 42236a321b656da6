#pragma once
// The system's JSON-like value: the state tree shared with the host, session commands and their
// replies, manifests, packages and the results of many futures are elements. An element is a
// kind and a separately allocated value that the element owns. There is no boolean and no
// floating-point kind: the text reader keeps such JSON values as unparsed JSON text (kind 5).
//
// Not synchronised: one thread at a time per element tree. Nothing here logs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vantor/core/map.h"
#include "vantor/core/vector.h"

class netbuf;

namespace tarvojson {

// The kind numbers travel in packets and across the plug-in boundary.
enum class element_kind : std::uint32_t {
    null = 0,
    string = 1,       // a byte string (UTF-8 by convention, never checked)
    array = 2,        // a vector of elements
    object = 3,       // members ordered by the names' bytes, each name once
    int64 = 4,        // a signed 64-bit integer
    text = 5,         // JSON text kept as text until it is written
    netbuf = 6,       // a byte block
    json_netbuf = 7,  // a byte block holding JSON text
};

// Readers and the packed codec refuse values nested deeper than this many arrays and objects,
// so that the recursive walks over a tree (copy, destruction, the writers) stay within a
// thread's stack.
inline constexpr std::size_t max_nesting = 512;

// One value and, for arrays and objects, the tree below it. Whoever holds an element owns the
// whole tree; it is used by one thread at a time and lives on no executor of its own.
class element {
public:
    using array_type = vantor_stl::vector<element>;
    using object_type = vantor_stl::map<std::string, element>;
    using string_map = vantor_stl::map<std::string, std::string>;

    element() noexcept = default;
    // Deep copy; a byte block is shared, not copied.
    element(const element& other);
    // Takes over the other's value; the other becomes null.
    element(element&& other) noexcept;
    element& operator=(const element& other);
    element& operator=(element&& other) noexcept;
    ~element();

    void copy_from(const element& other);
    void move_from(element& other) noexcept;
    void swap(element& other) noexcept;

    element_kind kind() const noexcept { return kind_; }
    bool is_null() const noexcept { return kind_ == element_kind::null; }

    // Kind switches: the value of that kind, made empty (0 for the integer) after releasing the
    // old value when the element had another kind; unchanged when it already had it.
    std::string& as_string();
    array_type& as_array();
    object_type& as_object();
    std::int64_t& as_int64();
    std::string& as_text();
    netbuf& as_netbuf();
    netbuf& as_json_netbuf();

    // Read-only access to the value of one kind; null for any other kind.
    const std::string* string_if() const noexcept;
    const array_type* array_if() const noexcept;
    const object_type* object_if() const noexcept;
    const std::int64_t* int64_if() const noexcept;
    const std::string* text_if() const noexcept;
    const netbuf* netbuf_if() const noexcept;       // kind 6
    const netbuf* json_netbuf_if() const noexcept;  // kind 7

    // Kind 1: its string. Kind 6: the element first becomes a string holding the block's bytes.
    // Other kinds: null.
    std::string* string_ptr();
    // Kind 1 its string, kind 6 the block's bytes, otherwise empty.
    std::string string_value() const;
    // The string value (kinds 1 and 6) of the element at `path`, else `fallback`.
    std::string get_string(std::string_view path, const std::string& fallback) const;

    // False for a null pointer or an element that is not an object (the map is then left
    // untouched). Otherwise the map is cleared and receives every member whose value reads as a
    // string (kinds 1 and 6); other members are skipped.
    static bool get_string_map(const element* e, string_map& out);
    // The element becomes an object holding one string member per entry, and nothing else.
    void set_string_map(const string_map& values);
    void set_string(const char* data, std::size_t length);

    // Paths: member names separated by ".", each optionally followed by one index in brackets:
    // "[n]" (n >= 0), "[]" or "[-1]" for the end of the array, "[+n]" to insert before item n
    // (make_path only). An index text that is not a number, or below -1, is invalid.

    // The element at the path, created as needed: a step converts the element it meets into
    // an array or object when it is not one already. Throws vantor::exception "invalid_path"
    // for an invalid index.
    element& make_path(std::string_view path);
    // The element at the path, or null; never changes anything and never throws.
    element* find_path(std::string_view path) noexcept;
    const element* find_path(std::string_view path) const noexcept;
    // Removes what the path names; the empty path makes this element null. Throws
    // vantor::exception "invalid_path" when the path names nothing.
    void erase_path(std::string_view path);

    // Appends the element as compact JSON text (no blanks, members in name order, strings
    // escaped to printable ASCII).
    void write_json(netbuf& out) const;
    std::string to_json() const;

    // The packed form (see packed.h): write_packet appends the element at the end of the packet;
    // read_packet takes one element from the end into this element (an array or object keeps
    // the items it has and receives more). Both throw vantor::exception on malformed data.
    void write_packet(netbuf& packet) const;
    void read_packet(netbuf& packet);

private:
    // Frees the value; the caller sets the new kind right after.
    void release() noexcept;
    // Releases the value and makes an empty one of `k`.
    void reset_to(element_kind k);

    element_kind kind_ = element_kind::null;
    void* value_ = nullptr;
};

// The string of a kind-1 element or the bytes of a kind-6 element; false for a null pointer and
// for every other kind.
bool try_get_string(const element* e, std::string& out);
// The integer of a kind-4 element; false otherwise.
bool try_get_int64(const element* e, std::int64_t& out);

// One step of a path. Returns true for an index step (`index` is the index: -1 for the end,
// below -1 when invalid; `insert` is set by a leading "+") and false for a member step (`first`
// is the member name). `rest` is the remainder of the path after the step.
bool split_path(std::string_view path, std::string& first, std::string& rest, int& index, bool& insert);

}  // namespace tarvojson
