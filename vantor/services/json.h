#pragma once
// The text form of an element: a compact JSON writer and a lenient JSON reader.
//
// The writer emits standard JSON in printable ASCII: every string unit outside 0x20..0x7E and
// each of " ' \ < > & is written as a lower-case \uXXXX escape (characters above U+FFFF as
// their surrogate pair). Unparsed JSON text (kinds 5 and 7) is written as it is stored.
//
// The reader accepts standard JSON and, beyond it: strings in apostrophes, the escape \' ,
// raw control bytes inside strings, leading zeros, missing or repeated commas, and any text
// after the first complete value. true, false, numbers with a fraction or an exponent, and
// integers outside the signed 64-bit range are kept as unparsed JSON text (kind 5) holding
// the literal as written. Malformed text raises the "Error in line" exception of
// vantor::internal_error with the number of the failed check:
//   55  bad escape (unknown letter, or a \u escape with a non-hexadecimal digit)
//   67  a \u escape shorter than six characters
//   74, 77, 83  a high surrogate escape not followed by a low surrogate escape
//   127 a character other than blanks or ":" after a member name
//   141 a member name that does not start with a quote
//   182 an "n" that does not begin "null"
//   193 a character that cannot start a value, or a malformed number or literal
//   202 the text ends before a value is complete (empty text, only blanks, an open string,
//       array, object or number)
// Nesting deeper than max_nesting arrays and objects raises vantor::exception
// "json text nested too deeply". A failed read leaves the target with what was built so far.
#include <cstddef>
#include <string>
#include <string_view>

#include "vantor/services/element.h"

namespace tarvojson {

// Appends `text` (UTF-8; ill-formed bytes are dropped) as a JSON string literal.
void write_json_string(netbuf& out, std::string_view text);

// Replaces `target` with the value that the text holds. No recursion: any nesting within the
// bound is read with a heap stack.
void parse_text(element& target, const char* text, std::size_t length);
void parse_text(element& target, const std::string& text);

}  // namespace tarvojson
