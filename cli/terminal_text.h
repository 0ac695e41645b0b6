// Text as it is shown on a terminal, where a person reads the listing: a
// name or an entry holding a newline or another control byte must not
// print as a line of its own, nor move the cursor, nor ring the bell.
#pragma once

#include <string>
#include <string_view>

#include "engine/code_page.h"

namespace vs {

// `text` with every control byte (0x00 to 0x1F and 0x7F) written as an
// escape: \a \b \t \n \v \f \r for those that have a letter, three octal
// digits after a backslash (\033, \177) for the rest. A backslash itself
// becomes \\, so that what is shown reads back to one text only: a name
// holding a backslash and an "n" never looks like one holding a newline.
// Every other byte is kept, so UTF-8 and the characters of a double-byte
// `code_page` show as they are; there the byte after a lead byte belongs
// to the lead byte's character (it may be 0x5C, a backslash on its own)
// and is kept too, unless it is a control byte. With `keep_tabs`, a TAB
// is kept as it is (for lines of a file's text, where TABs indent).
std::string EscapeForTerminal(std::string_view text,
                              const CodePage& code_page,
                              bool keep_tabs = false);

}  // namespace vs
