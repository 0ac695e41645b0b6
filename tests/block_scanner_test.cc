#include "engine/block_scanner.h"

#include <gtest/gtest.h>

#include "tests/memory_file.h"

namespace vs::test {
namespace {

TEST(BlockScannerTest, WindowIsTheCarriedTailAndTheNextBlock) {
  CodePage cp(1252);
  Matcher matcher("abc", cp);
  std::vector<char> buffer;
  BlockScanner scanner(matcher, cp, &buffer, 4);
  MemoryReadableFile file(std::string("0123456789"));
  ASSERT_TRUE(scanner.Start(&file).ok());

  ASSERT_TRUE(scanner.Read().ok());
  EXPECT_EQ(scanner.window(), "0123");
  // The longest tail: one byte more than the find text.
  scanner.Carry(0);
  ASSERT_TRUE(scanner.Read().ok());
  EXPECT_EQ(scanner.window(), "01234567");
  EXPECT_EQ(scanner.fresh(), "4567");
  scanner.Carry(7);
  ASSERT_TRUE(scanner.Read().ok());
  EXPECT_EQ(scanner.window(), "789");
  EXPECT_FALSE(scanner.at_end());
  // Nothing carried: the window starts afresh.
  ASSERT_TRUE(scanner.Read().ok());
  EXPECT_EQ(scanner.window(), "");
  EXPECT_TRUE(scanner.at_end());
  EXPECT_LE(buffer.size(), 4u + 3 + 1);

  // Start goes back to the file's start and drops the carried tail.
  scanner.Carry(0);
  ASSERT_TRUE(scanner.Start(&file).ok());
  ASSERT_TRUE(scanner.Read().ok());
  EXPECT_EQ(scanner.window(), "0123");
}

// In code page 932, 0x82 is a lead byte and 0xA0 is a character of its
// own, so in "a\x82\x82\xA0" the find text "\x82\xA0" starts inside the
// second character. Read two bytes at a time, that character is cut in
// two; the search of the second window must still know where it starts.
TEST(BlockScannerTest, CharacterCutByABlockEndIsCarriedAlong) {
  CodePage cp(932);
  Matcher matcher("\x82\xA0", cp);
  std::vector<char> buffer;
  BlockScanner scanner(matcher, cp, &buffer, 2);
  MemoryReadableFile file(std::string("a\x82\x82\xA0"));
  for (std::size_t carry_from : {1, 2}) {
    SCOPED_TRACE(carry_from);
    ASSERT_TRUE(scanner.Start(&file).ok());
    ASSERT_TRUE(scanner.Read().ok());
    scanner.Carry(carry_from);
    ASSERT_TRUE(scanner.Read().ok());
    std::size_t size = scanner.window().size();
    EXPECT_EQ(scanner.Find(0, size), Matcher::npos);
  }

  // Without a carry the next window starts on a character start, where
  // the same bytes are an occurrence.
  ASSERT_TRUE(scanner.Start(&file).ok());
  ASSERT_TRUE(scanner.Read().ok());
  ASSERT_TRUE(scanner.Read().ok());
  EXPECT_EQ(scanner.window(), "\x82\xA0");
  EXPECT_EQ(scanner.Find(0, 2), 0u);
}

}  // namespace
}  // namespace vs::test
