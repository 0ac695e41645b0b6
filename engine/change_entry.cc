#include "engine/change_entry.h"

namespace vs {
namespace {

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// "N: TEXT" after "Line ".
bool ReadLineEntry(std::string_view rest, ChangeEntry* entry) {
  std::size_t at = 0;
  std::uint64_t number = 0;
  while (at < rest.size() && rest[at] >= '0' && rest[at] <= '9')
    number = number * 10 + static_cast<unsigned>(rest[at++] - '0');
  if (at == 0 || rest.substr(at, 2) != ": ") return false;
  entry->kind = ChangeEntry::Kind::kLine;
  entry->number = number;
  entry->text = rest.substr(at + 2);
  return true;
}

// "NAME (REASON)", or a NAME cut short.
void ReadNameFailure(std::string_view rest, ChangeEntry* entry,
                     ChangeEntry::Kind kind = ChangeEntry::Kind::kNameFailure) {
  entry->kind = kind;
  const std::size_t open = rest.rfind(" (");
  if (rest.empty() || rest.back() != ')' || open == std::string_view::npos) {
    entry->text = rest;
    return;
  }
  entry->text = rest.substr(0, open);
  entry->reason = rest.substr(open + 2, rest.size() - open - 3);
}

}  // namespace

ChangeEntry ReadChangeEntry(std::string_view text) {
  ChangeEntry entry;
  entry.text = text;
  if (StartsWith(text, kLineEntryStart) &&
      ReadLineEntry(text.substr(kLineEntryStart.size()), &entry))
    return entry;
  if (StartsWith(text, kNewNameEntryStart)) {
    entry.kind = ChangeEntry::Kind::kNewName;
    entry.text = text.substr(kNewNameEntryStart.size());
  } else if (StartsWith(text, kNameFailureStart)) {
    ReadNameFailure(text.substr(kNameFailureStart.size()), &entry);
  } else if (StartsWith(text, kTextFailureStart)) {
    entry.kind = ChangeEntry::Kind::kTextFailure;
    entry.text = {};
    std::string_view reason = text.substr(kTextFailureStart.size());
    if (!reason.empty() && reason.back() == ')') reason.remove_suffix(1);
    entry.reason = reason;
  } else if (text == kRestoredTextEntry) {
    entry.kind = ChangeEntry::Kind::kRestoredText;
    entry.text = {};
  } else if (StartsWith(text, kRestoredNameStart)) {
    entry.kind = ChangeEntry::Kind::kRestoredName;
    entry.text = text.substr(kRestoredNameStart.size());
  } else if (StartsWith(text, kRestoreNameFailureStart)) {
    ReadNameFailure(text.substr(kRestoreNameFailureStart.size()), &entry,
                    ChangeEntry::Kind::kRestoreNameFailure);
  } else if (StartsWith(text, kRestoreFailureStart)) {
    entry.kind = ChangeEntry::Kind::kRestoreFailure;
    entry.text = {};
    std::string_view reason = text.substr(kRestoreFailureStart.size());
    if (!reason.empty() && reason.back() == ')') reason.remove_suffix(1);
    entry.reason = reason;
  }
  return entry;
}

std::string TextFailureEntry(const std::string& reason) {
  return std::string(kTextFailureStart) + reason + ")";
}

std::string NameFailureEntry(const std::string& name,
                             const std::string& reason) {
  return std::string(kNameFailureStart) + name + " (" + reason + ")";
}

std::string NewNameEntry(const std::string& name) {
  return std::string(kNewNameEntryStart) + name;
}

std::string RestoredNameEntry(const std::string& name) {
  return std::string(kRestoredNameStart) + name;
}

std::string RestoreFailureEntry(const std::string& reason) {
  return std::string(kRestoreFailureStart) + reason + ")";
}

std::string RestoreNameFailureEntry(const std::string& name,
                                    const std::string& reason) {
  return std::string(kRestoreNameFailureStart) + name + " (" + reason + ")";
}

}  // namespace vs
