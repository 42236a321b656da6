#pragma once
// Small byte-wise text functions shared by every subsystem. No function here interprets
// multi-byte characters.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "vantor/core/map.h"
#include "vantor/core/vector.h"

namespace vantor {

// A non-owning text reference; the referenced characters must outlive it.
struct str_ref {
    str_ref(const std::string& text) noexcept
        : data(text.data()), length(static_cast<std::uint32_t>(text.size()))
    {
    }
    // Length 0 for a null pointer, else the length up to the NUL.
    str_ref(const char* text) noexcept;

    std::string_view view() const noexcept { return {data, length}; }

    const char* data;
    std::uint32_t length;
};

// The first part, then the separator and the next part for each further one; "" for none.
std::string join(std::string_view separator, const vantor_stl::vector<std::string>& parts);
// The same, each part written through a string stream.
std::string join_strings(str_ref separator, const vantor_stl::vector<std::string>& parts);

// Cuts at every byte equal to one of `separators`. Empty pieces stay, and the piece after the
// last cut is always added: "" gives one empty piece.
vantor_stl::vector<std::string> split(std::string_view text, std::string_view separators);
// The same cuts; only non-empty pieces are kept.
vantor_stl::vector<std::string> split_nonempty(std::string_view text, std::string_view separators);
vantor_stl::vector<std::string> split_any(std::string_view separators, std::string_view text);

// Removes leading and trailing tab, LF, CR and blank in place.
void trim(std::string& text);

// Skips a leading UTF-8 byte-order mark, then cuts at CR LF, lone CR and lone LF. Empty lines
// between breaks are kept; a break at the very end adds no empty last line.
vantor_stl::vector<std::string> split_lines(std::string_view text);

bool starts_with(std::string_view text, std::string_view prefix) noexcept;
bool ends_with(std::string_view text, std::string_view suffix) noexcept;
// False for an empty text.
bool ends_with_char(std::string_view text, char byte) noexcept;

// Each byte through the runtime library's tolower / toupper.
std::string to_lower_copy(std::string_view text);
std::string to_upper_copy(std::string_view text);

// a + "\\" + b.
std::string path_join(std::string_view a, std::string_view b);

// A copy of the value for `key`, or "" when absent.
std::string string_map_get(const vantor_stl::map<std::string, std::string>& values,
                           const std::string& key);

// Replaces every occurrence of `search`, found left to right in the original text (inserted
// text is never rescanned). True when at least one was found. An empty `search` matches nothing.
bool replace_all(std::string& text, std::string_view search, std::string_view replacement);

// A raw block for reading registry values: room for wide_chars UTF-16 units (bytes bytes)
// and a terminating unit. Owned by the object; from the general allocator.
class heap_buffer {
public:
    static constexpr std::size_t wide_chars = 0x20000;
    static constexpr std::size_t bytes = 0x40000;
    static constexpr std::size_t block_size = bytes + 2;

    heap_buffer() : block_(std::make_unique_for_overwrite<char[]>(block_size)) {}

    char* data() noexcept { return block_.get(); }
    wchar_t* wide() noexcept { return reinterpret_cast<wchar_t*>(block_.get()); }

private:
    std::unique_ptr<char[]> block_;
};

// The user-agent text of the client's web requests.
inline constexpr char user_agent[] = "TarvoLight-Client/1.0.0.0 (Win; x86)";

}  // namespace vantor
