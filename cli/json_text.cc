#include "cli/json_text.h"

#include <cstdint>

namespace vs {
namespace {

// The length of the UTF-8 sequence at text[at], or 0 when none starts
// there.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return static_cast<unsigned char>(text[at + i]);
  };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  return length;
}

void AppendUnicodeEscape(unsigned code, std::string* json) {
  static const char kHex[] = "0123456789abcdef";
  json->append("\\u00");
  json->push_back(kHex[code >> 4]);
  json->push_back(kHex[code & 0xF]);
}

// Appends the character text[at, at + length) escaped as needed.
void AppendCharacter(std::string_view text, std::size_t at, std::size_t length,
                     std::string* json) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (length == 2 && lead == 0xC2 &&
      static_cast<unsigned char>(text[at + 1]) < 0xA0) {
    // C1 controls: some terminals act on them.
    return AppendUnicodeEscape(static_cast<unsigned char>(text[at + 1]), json);
  }
  if (length > 1) return json->append(text.substr(at, length)), void();
  switch (lead) {
    case '"': json->append("\\\""); return;
    case '\\': json->append("\\\\"); return;
    case '\b': json->append("\\b"); return;
    case '\f': json->append("\\f"); return;
    case '\n': json->append("\\n"); return;
    case '\r': json->append("\\r"); return;
    case '\t': json->append("\\t"); return;
  }
  if (lead < 0x20 || lead == 0x7F) return AppendUnicodeEscape(lead, json);
  json->push_back(static_cast<char>(lead));
}

void AppendString(std::string_view text, bool lossy, std::string* json) {
  json->push_back('"');
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceLength(text, at);
    if (length == 0) {
      if (lossy) json->append("\xEF\xBF\xBD");  // U+FFFD
      ++at;
      continue;
    }
    AppendCharacter(text, at, length, json);
    at += length;
  }
  json->push_back('"');
}

}  // namespace

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

void AppendJsonString(std::string_view text, std::string* json) {
  AppendString(text, /*lossy=*/false, json);
}

void AppendJsonMessage(std::string_view bytes, std::string* json) {
  AppendString(bytes, /*lossy=*/true, json);
}

void AppendJsonBytes(std::string_view bytes, std::string* json) {
  if (IsUtf8(bytes)) {
    json->append("{\"text\":");
    AppendJsonString(bytes, json);
  } else {
    json->append("{\"bytes\":\"");
    json->append(Base64(bytes));
    json->push_back('"');
  }
  json->push_back('}');
}

std::string Base64(std::string_view bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t at = 0;
  for (; at + 3 <= bytes.size(); at += 3) {
    const std::uint32_t group =
        static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 16 |
        static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
        static_cast<unsigned char>(bytes[at + 2]);
    for (int shift = 18; shift >= 0; shift -= 6)
      out.push_back(kAlphabet[(group >> shift) & 0x3F]);
  }
  const std::size_t left = bytes.size() - at;
  if (left > 0) {
    std::uint32_t group =
        static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 16;
    if (left == 2)
      group |= static_cast<std::uint32_t>(
                   static_cast<unsigned char>(bytes[at + 1])) << 8;
    out.push_back(kAlphabet[(group >> 18) & 0x3F]);
    out.push_back(kAlphabet[(group >> 12) & 0x3F]);
    out.push_back(left == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=');
    out.push_back('=');
  }
  return out;
}

}  // namespace vs
