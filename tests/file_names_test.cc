#include "engine/file_names.h"

#include <gtest/gtest.h>

#include <string>

namespace vs {
namespace {

TEST(FileNamesTest, TemporaryNamesFitAndCountUp) {
  const std::string longest(255, 'x');
  struct Case {
    std::string name;
    int attempt;
    std::string expected;
  };
  const Case cases[] = {
      {"a.txt", 0, ".vellumshaper-a.txt.tmp"},
      {"a.txt", 1, ".vellumshaper-a.txt.1.tmp"},
      {"a.txt", 12, ".vellumshaper-a.txt.12.tmp"},
      {".hidden", 0, ".vellumshaper-.hidden.tmp"},
      // Cut so the whole stays a name the system takes.
      {longest, 0, ".vellumshaper-" + std::string(237, 'x') + ".tmp"},
      {longest, 7, ".vellumshaper-" + std::string(235, 'x') + ".7.tmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(TemporaryName(c.name, c.attempt), c.expected);
    EXPECT_TRUE(IsTemporaryName(c.expected));
  }
  for (const char* name : {"a.txt.tmp", ".vellumshaper-a.txt", "vellumshaper-a.tmp",
                           ".vellumshaper.tmp", ""})
    EXPECT_FALSE(IsTemporaryName(name)) << name;
}

TEST(FileNamesTest, NamesThatCannotBeUsedAreRefusedWithTheReason) {
  struct Case {
    std::string name;
    std::string refusal;
  };
  const Case cases[] = {
      {"new.txt", ""},
      {"...", ""},
      {"-n", ""},
      {std::string(255, 'n'), ""},
      {"", "not a valid file name"},
      {".", "not a valid file name"},
      {"..", "not a valid file name"},
      {"a/b", "not a valid file name"},
      {"/", "not a valid file name"},
      {std::string(256, 'n'), "File name too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RefusalOf(c.name), c.refusal);
  }
}

}  // namespace
}  // namespace vs
