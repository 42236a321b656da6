#pragma once
// Query-string texts: form encoding of names and values, and the split of a text at the first
// occurrence of a separator.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vantor {

// A blank becomes "+"; letters, digits and "_" stay; every other byte becomes "%" and two
// lower-case hexadecimal digits.
std::string url_encode(std::string_view text);
// "+" becomes a blank; "%" and two hexadecimal digits become that byte (a non-digit counts as
// 0); a "%" with fewer than two characters after it ends the text there.
std::string url_decode(std::string_view text);
// name=value pairs of the map in name order (entries with an empty name left out), joined by "&".
std::string url_query_string(const std::map<std::string, std::string>& values);
// Pairs split at `pair_separator`, each divided at its first `name_separator`; empty names are
// skipped; a later pair overwrites an earlier one of the same name.
std::map<std::string, std::string> parse_query_string(std::string_view text, char pair_separator,
                                                      char name_separator);
// [text] when the separator does not occur, else the text before and after its first occurrence.
std::vector<std::string> split_once(std::string_view text, std::string_view separator);

}  // namespace vantor
