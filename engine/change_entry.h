// The change entries a run records, as text and read back. The entries
// are what the listing and the dialog show; a front end that needs their
// parts (a line's number and text, a new name, a failure's reason) reads
// them here rather than knowing their wording.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vs {

// "Line N: TEXT": TEXT is the line's new text without its line end.
inline constexpr std::string_view kLineEntryStart = "Line ";
// "Changed File Name to: NAME".
inline constexpr std::string_view kNewNameEntryStart = "Changed File Name to: ";
// "Failed to change File Name to: NAME (REASON)".
inline constexpr std::string_view kNameFailureStart =
    "Failed to change File Name to: ";
// "Failed to change Text (REASON)".
inline constexpr std::string_view kTextFailureStart = "Failed to change Text (";

// What an undo gives a file it restores, or fails to.
// "Restored Text": the old text is back.
inline constexpr std::string_view kRestoredTextEntry = "Restored Text";
// "Restored File Name: NAME": NAME is the old name, back.
inline constexpr std::string_view kRestoredNameStart = "Restored File Name: ";
// "Failed to restore File Name: NAME (REASON)".
inline constexpr std::string_view kRestoreNameFailureStart =
    "Failed to restore File Name: ";
// "Failed to restore (REASON)": the file was left alone.
inline constexpr std::string_view kRestoreFailureStart = "Failed to restore (";

// An entry, its parts viewing the entry's text.
struct ChangeEntry {
  enum class Kind {
    kLine,         // `number` and `text`
    kNewName,      // `text` is the new name
    kNameFailure,  // `text` is the name not given, `reason` why
    kTextFailure,  // `reason`
    kRestoredText,         // nothing more
    kRestoredName,         // `text` is the old name, back
    kRestoreNameFailure,   // `text` is the old name not given, `reason` why
    kRestoreFailure,       // `reason`
    kOther,        // none of those: `text` is the whole entry
  };
  Kind kind = Kind::kOther;
  std::uint64_t number = 0;
  std::string_view text;
  std::string_view reason;
};

// Reads `entry`'s parts. Every entry is cut at 1023 bytes, so a part at
// its end may be cut short: a failure entry cut before its reason's ")"
// gets the rest of the entry as its text or reason. A reason never holds
// " (", so the last one starts it.
ChangeEntry ReadChangeEntry(std::string_view entry);

// "Failed to change Text (REASON)" and its kin, as the engine makes them.
std::string TextFailureEntry(const std::string& reason);
std::string NameFailureEntry(const std::string& name,
                             const std::string& reason);
std::string NewNameEntry(const std::string& name);
std::string RestoredNameEntry(const std::string& name);
std::string RestoreFailureEntry(const std::string& reason);
std::string RestoreNameFailureEntry(const std::string& name,
                                    const std::string& reason);

}  // namespace vs
