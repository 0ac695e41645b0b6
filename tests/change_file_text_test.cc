#include <gtest/gtest.h>

#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

TEST(ChangeFileTextTest, AppendsAfterExistingEntriesAndAnswersChanged) {
  TempFolder tree;
  tree.Write("f.txt", "b\nab\n");
  TestEngine engine;
  engine.settings.find = "b";
  engine.settings.replace = "x";
  ChangeList changes{"earlier"};
  EXPECT_TRUE(engine.ChangeFileText(tree.Path("f.txt"), changes));
  EXPECT_EQ(changes, (ChangeList{"earlier", "Line 1: x", "Line 2: ax"}));
  EXPECT_EQ(tree.Read("f.txt"), "x\nax\n");

  changes.clear();
  EXPECT_FALSE(engine.ChangeFileText(tree.Path("f.txt"), changes));
  EXPECT_FALSE(engine.ChangeFileText(tree.Path("missing.txt"), changes));
  EXPECT_TRUE(changes.empty());
  EXPECT_EQ(tree.Snapshot().size(), 1u);  // no temporary file left behind
}

TEST(ChangeFileTextTest, LinesOfSeveralMegabytesWithAnOccurrenceAtTheEnd) {
  TempFolder tree;
  std::string line(5 << 20, 'a');
  tree.Write("big.txt", "head\n" + line + "old\r\n");
  TestEngine engine;
  engine.settings.find = "old";
  engine.settings.replace = "new";
  ChangeList changes;
  EXPECT_TRUE(engine.ChangeFileText(tree.Path("big.txt"), changes));
  EXPECT_EQ(tree.Read("big.txt"), "head\n" + line + "new\r\n");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].substr(0, 10), "Line 2: aa");
}

}  // namespace
}  // namespace vs::test
