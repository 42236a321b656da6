#pragma once
// Standard Base64 (alphabet A-Z, a-z, 0-9, "+", "/", "=" for padding) as the signed documents
// carry their signatures.
#include <string>

namespace xstd {
namespace base64 {

// Replaces the Base64 text in `text` with the bytes it encodes. The empty text decodes to
// nothing. The text is whole groups of four alphabet characters, the last of which may end in
// "=" or "==" (a padded group must be the end of the text); anything else, including blanks,
// line breaks and an incomplete last group, throws vantor::exception
// "/xstd/base64/decode:Decode error" and leaves `text` unchanged.
void decode(std::string& text);

}  // namespace base64
}  // namespace xstd
