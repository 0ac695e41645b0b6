#include "cli/terminal_text.h"

namespace vs {
namespace {

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// The letter of the escape a control byte has one for, or 0.
char EscapeLetter(unsigned char byte) {
  switch (byte) {
    case '\a': return 'a';
    case '\b': return 'b';
    case '\t': return 't';
    case '\n': return 'n';
    case '\v': return 'v';
    case '\f': return 'f';
    case '\r': return 'r';
    default: return 0;
  }
}

void AppendEscaped(unsigned char byte, std::string* shown) {
  shown->push_back('\\');
  if (byte == '\\') {
    shown->push_back('\\');
  } else if (char letter = EscapeLetter(byte)) {
    shown->push_back(letter);
  } else {
    shown->push_back(static_cast<char>('0' + (byte >> 6)));
    shown->push_back(static_cast<char>('0' + ((byte >> 3) & 7)));
    shown->push_back(static_cast<char>('0' + (byte & 7)));
  }
}

}  // namespace

std::string EscapeForTerminal(std::string_view text,
                              const CodePage& code_page, bool keep_tabs) {
  std::string shown;
  shown.reserve(text.size());
  bool after_lead = false;  // the byte before led a double-byte character
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((IsControl(byte) && !(keep_tabs && byte == '\t')) ||
        (byte == '\\' && !after_lead)) {
      AppendEscaped(byte, &shown);
      after_lead = false;
    } else {
      shown.push_back(c);
      after_lead = !after_lead && code_page.IsLeadByte(byte);
    }
  }
  return shown;
}

}  // namespace vs
