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
      {"a.txt", 0, "a.txt.tmp"},
      {"a.txt", 1, "a.txt.1.tmp"},
      {"a.txt", 12, "a.txt.12.tmp"},
      {".hidden", 0, ".hidden.tmp"},
      // Cut so the whole stays a name the system takes.
      {longest, 0, std::string(251, 'x') + ".tmp"},
      {longest, 7, std::string(249, 'x') + ".7.tmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(TemporaryName(c.name, c.attempt), c.expected);
  }
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
