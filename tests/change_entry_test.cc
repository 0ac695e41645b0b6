// Change entries read back into their parts, as the JSON and diff
// outputs read them.
#include "engine/change_entry.h"

#include <gtest/gtest.h>

#include <string>

namespace vs {
namespace {

TEST(ChangeEntryTest, ReadsBackWhatTheEngineWrites) {
  using Kind = ChangeEntry::Kind;
  const std::string long_name(1100, 'n');
  const struct {
    std::string entry;
    Kind kind;
    std::uint64_t number;
    std::string text;
    std::string reason;
  } cases[] = {
      {"Line 12: a (b) c", Kind::kLine, 12, "a (b) c", ""},
      {"Line 3: ", Kind::kLine, 3, "", ""},
      {NewNameEntry("x (1).txt"), Kind::kNewName, 0, "x (1).txt", ""},
      {TextFailureEntry("No space left on device"), Kind::kTextFailure, 0, "",
       "No space left on device"},
      // A name may hold " (": the reason starts at the last one.
      {NameFailureEntry("a (b).txt", "File exists"), Kind::kNameFailure, 0,
       "a (b).txt", "File exists"},
      // Cut at 1023 bytes before its reason: the rest is the name.
      {NameFailureEntry(long_name, "File name too long").substr(0, 1023),
       Kind::kNameFailure, 0,
       long_name.substr(0, 1023 - kNameFailureStart.size()), ""},
      {"Line x: y", Kind::kOther, 0, "Line x: y", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry.substr(0, 60));
    const ChangeEntry entry = ReadChangeEntry(c.entry);
    EXPECT_EQ(c.kind, entry.kind);
    EXPECT_EQ(c.number, entry.number);
    EXPECT_EQ(c.text, entry.text);
    EXPECT_EQ(c.reason, entry.reason);
  }
}

}  // namespace
}  // namespace vs
