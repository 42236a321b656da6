#pragma once
// The two filters that the encoder settings carry: the window filter rule tree (which
// application windows the viewer may control) and the key filter list (key combinations the
// viewer may not send), with their packed-codec forms and the evaluation of a rule tree against
// one window.
//
// Both are plain values inside the settings record: copies are deep, and records are copied
// between threads and processes, never shared.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class netbuf;

namespace kova {

// The side of a window that a rule check reads; implemented by the desktop driver, which reads
// each property lazily and at most once per evaluated window.
class filter_window_i {
public:
    // The window's text for a check field (filter_field_desktop ... filter_field_ex_style) into
    // `out`; false when this window source cannot read that field, which makes the check fail.
    virtual bool field_text(std::int32_t field, std::string& out) = 0;

protected:
    ~filter_window_i() = default;
};

// Node kinds.
inline constexpr std::int32_t filter_kind_allow = 0;
inline constexpr std::int32_t filter_kind_deny = 1;
inline constexpr std::int32_t filter_kind_and = 2;
inline constexpr std::int32_t filter_kind_or = 3;
inline constexpr std::int32_t filter_kind_check = 4;

// Fields a check node compares.
inline constexpr std::int32_t filter_field_invalid = 0;
inline constexpr std::int32_t filter_field_desktop = 1;
inline constexpr std::int32_t filter_field_path = 2;
inline constexpr std::int32_t filter_field_class = 3;
inline constexpr std::int32_t filter_field_title = 4;
inline constexpr std::int32_t filter_field_style = 5;
inline constexpr std::int32_t filter_field_ex_style = 6;

// Evaluation results: a return node decides (allow or deny); conditions answer true or false.
inline constexpr std::int32_t filter_result_allow = 0;
inline constexpr std::int32_t filter_result_deny = 1;
inline constexpr std::int32_t filter_result_true = 100;
inline constexpr std::int32_t filter_result_false = 101;

// The field number of an exact (case-sensitive) field name; 0 for an unknown name.
std::int32_t filter_field_from_string(std::string_view name);
// The name of fields 1 to 6; the empty string for any other number.
std::string filter_field_name(std::int32_t field);

// One node of the window filter rule tree. The default node is an allow node without children.
struct filter_rule {
    // Trees nested deeper than this are refused when read, so that a peer cannot exhaust the
    // stack of the reading process.
    static constexpr int max_depth = 64;

    std::int32_t kind = filter_kind_allow;
    std::int32_t field = filter_field_invalid;  // check nodes
    std::string value;                          // check nodes: the text the field must equal
    std::vector<filter_rule> children;          // and / or nodes

    bool operator==(const filter_rule&) const = default;

    // Appends the node: its children from the last to the first (each a complete node), the
    // child count (u32), value (string), field (i32) and kind (i32), so that a reader meets
    // kind, field, value, count and the children in order.
    void write(netbuf& p) const;
    // Replaces this node with one read from the end of `p`. Throws the packed codec's errors on a
    // malformed packet ("error parsing packet" also for a child count that the packet cannot
    // hold or a tree nested deeper than max_depth); this node is then left unspecified.
    void read(netbuf& p);

    // Evaluates the tree at `depth` against one window: filter_result_allow or _deny as soon as
    // a return node is reached on a path whose conditions held, otherwise _true or _false.
    // Each node is logged before it is evaluated (see log).
    std::int32_t evaluate(filter_window_i& window, int depth) const;
    // Writes this node (not its children) to the "filters" log, indented by one blank per depth
    // level, when the encoder_filters debug category is on.
    void log(int depth) const;

private:
    void read_at(netbuf& p, int depth);
};

// One entry of the key filter list: a key down of `key` is refused while every key of `down`
// is held.
struct key_filter {
    std::uint32_t key = 0;
    std::set<std::uint32_t> down;
    // The switch: a refused key is counted (the raise flag of the key check).
    bool switch_ = false;

    bool operator==(const key_filter&) const = default;

    // Appends the entry so that a reader meets key, held count (u32), the held keys in
    // ascending order (u32 each) and the switch (bool).
    void write(netbuf& p) const;
    // Replaces this entry with one read from the end of `p`; throws the packed codec's errors
    // ("error parsing packet" also for a held count that the packet cannot hold).
    void read(netbuf& p);
};

// The name the settings record gives to a key filter entry.
using forbidden_key = key_filter;

// The filter block of the settings record: the rule tree, then the key filter list.
namespace filter_block {

// Appends the block so that a reader meets the rule tree, the key filter count (u32) and the
// entries in list order.
void write(netbuf& p, const filter_rule& rules, const std::vector<key_filter>& keys);
// Replaces both structures with the block read from the end of `p`; throws as the readers
// above.
void read(netbuf& p, filter_rule& rules, std::vector<key_filter>& keys);

}  // namespace filter_block

}  // namespace kova
