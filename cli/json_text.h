// Bytes written as JSON: strings escaped so that any reader takes them
// back exactly, and byte strings that are no UTF-8 given as base64.
#pragma once

#include <string>
#include <string_view>

namespace vs {

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF).
bool IsUtf8(std::string_view text);

// Appends `text`, which must be UTF-8, as a JSON string in quotes: '"'
// and '\' escaped, every control character (U+0000 to U+001F, U+007F to
// U+009F) written as \n, \t, ... or \u00XX, so that the string holds no
// byte a terminal acts on. Every other character is kept as it is.
void AppendJsonString(std::string_view text, std::string* json);

// Appends `bytes` as a JSON string whatever they hold: a byte sequence
// that is no UTF-8 becomes U+FFFD. For messages, which are read, not
// used.
void AppendJsonMessage(std::string_view bytes, std::string* json);

// Appends {"text":"..."} when `bytes` are UTF-8, else {"bytes":"BASE64"}
// (standard alphabet, padded), so that a path or a line reads back to
// its exact bytes.
void AppendJsonBytes(std::string_view bytes, std::string* json);

// `bytes` in base64, standard alphabet, padded with '='.
std::string Base64(std::string_view bytes);

}  // namespace vs
