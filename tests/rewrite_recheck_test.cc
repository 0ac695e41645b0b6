// A file another program changes between the engine's first look at it
// and its rewrite is looked at again and rewritten as it is now; one
// changed while it is being rewritten is left as the other program wrote
// it. Both the new text worked out in memory (small files) and the one
// streamed at the file's turn (files over kMaxNewTextSource) are checked,
// with the first look taken by the walk and by scan threads.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/scan_ahead.h"
#include "tests/fault_file_system.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Op = FaultFileSystem::Op;
using Snapshot = std::map<std::string, std::string>;

const std::string kChangedMeanwhile =
    "Failed to change Text (changed during the run)";

// Lines without the find text, enough to take the file past the size
// whose new text is worked out in memory.
std::string Filler(bool large) {
  std::string filler;
  while (large && filler.size() <= kMaxNewTextSource)
    filler += "plain text line\n";
  return filler;
}

void WriteInPlace(const std::string& path, const char* mode,
                  const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), mode);
  ASSERT_NE(f, nullptr) << path;
  EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  EXPECT_EQ(std::fclose(f), 0);
}

class RewriteRecheckTest : public testing::Test {
 protected:
  // A run replacing "old" by "new" in the texts of `tree`'s files (names
  // stay) through `fs`, with `scan_threads` threads looking ahead.
  static std::unique_ptr<TestEngine> Run(FileSystem* fs, const TempFolder& tree,
                                         unsigned scan_threads) {
    auto engine = std::make_unique<TestEngine>(fs);
    engine->settings.find = "old";
    engine->settings.replace = "new";
    engine->settings.change_names = 0;
    engine->settings.scan_threads = scan_threads;
    engine->ProcessFolder(tree.path());
    return engine;
  }
};

TEST_F(RewriteRecheckTest, AFileChangedSinceTheFirstLookIsRewrittenAsItIsNow) {
  const std::string kHead = "one old\ntwo old\n";
  enum class When {
    kAfterFirstLook,  // the first look has the file open: it reads the old
    kWhileRewritten,  // the new text is being made durable
  };
  enum class How {
    kReplaced,     // a new file takes the name, as editors save
    kAppended,     // written to in place
    kOverwritten,  // kHead written over in place, the size kept
  };
  enum class Time {
    kAsWritten,
    kKept,  // the old one put back, as rsync does; or a clock too coarse
            // to tell the write
    kASecondLater,  // a write the clock surely tells
  };
  struct Case {
    const char* name;
    When when;
    How how;
    Time time;
    std::string text;  // replaces kHead, or is appended
    // The file after the run is after_head, the filler, after_tail.
    std::string after_head;
    std::string after_tail;
    ChangeList entries;
  } cases[] = {
      {"replaced, still matching", When::kAfterFirstLook, How::kReplaced,
       Time::kAsWritten, "three old\n", "three new\n", "",
       {"Line 1: three new"}},
      {"replaced with the same size and time, still matching",
       When::kAfterFirstLook, How::kReplaced, Time::kKept,
       "six old\nten old\n", "six new\nten new\n", "",
       {"Line 1: six new", "Line 2: ten new"}},
      {"replaced, no longer matching", When::kAfterFirstLook, How::kReplaced,
       Time::kAsWritten, "none left\n", "none left\n", "", {}},
      {"replaced, now binary", When::kAfterFirstLook, How::kReplaced,
       Time::kAsWritten, std::string("one old\0\n", 9),
       std::string("one old\0\n", 9), "", {}},
      {"appended to while rewritten", When::kWhileRewritten, How::kAppended,
       Time::kAsWritten, "three old\n", kHead, "three old\n",
       {kChangedMeanwhile}},
      {"appended to while rewritten, the time kept", When::kWhileRewritten,
       How::kAppended, Time::kKept, "three old\n", kHead, "three old\n",
       {kChangedMeanwhile}},
      {"written over in place while rewritten, the size kept",
       When::kWhileRewritten, How::kOverwritten, Time::kASecondLater,
       "six old\nten old\n", "six old\nten old\n", "", {kChangedMeanwhile}},
      {"replaced with the same size and time while rewritten",
       When::kWhileRewritten, How::kReplaced, Time::kKept,
       "six old\nten old\n", "six old\nten old\n", "", {kChangedMeanwhile}},
  };
  for (const Case& c : cases) {
    if (c.how != How::kAppended && c.time != Time::kAsWritten) {
      ASSERT_EQ(c.text.size(), kHead.size())
          << c.name << ": only the inode or the time should tell";
    }
    for (bool large : {false, true}) {
      for (unsigned scan_threads : {0u, 2u}) {
        SCOPED_TRACE(std::string(c.name) + (large ? ", large" : ", small") +
                     ", " + std::to_string(scan_threads) + " scan threads");
        TempFolder tree;
        const std::string filler = Filler(large);
        tree.Write("a.txt", kHead + filler);
        const std::string path = tree.Path("a.txt");

        // What the other program does.
        auto meddle = [&] {
          struct stat old_st = {};
          ASSERT_EQ(stat(path.c_str(), &old_st), 0);
          std::string written = path;
          switch (c.how) {
            case How::kReplaced:
              written = tree.Path("other");
              tree.Write("other", c.text + filler);
              break;
            case How::kAppended:
              WriteInPlace(path, "ab", c.text);
              break;
            case How::kOverwritten:
              WriteInPlace(path, "r+b", c.text);
              break;
          }
          timespec times[2] = {old_st.st_atim, old_st.st_mtim};
          if (c.time == Time::kASecondLater) times[1].tv_sec += 1;
          if (c.time != Time::kAsWritten) {
            ASSERT_EQ(utimensat(AT_FDCWD, written.c_str(), times, 0), 0);
          }
          if (written != path) {
            ASSERT_EQ(std::rename(written.c_str(), path.c_str()), 0);
          }
        };
        FaultFileSystem fs;
        if (c.when == When::kAfterFirstLook) {
          fs.OnRead("/a.txt", [&](std::uint64_t read_number) {
            if (read_number == 1) meddle();
          });
        } else {
          fs.Before(Op::kSync, "a.txt.tmp", meddle);
        }
        std::unique_ptr<TestEngine> engine = Run(&fs, tree, scan_threads);

        // As rewritten or as left, and no temporary file beside it.
        Snapshot after = tree.Snapshot();
        const std::string text = after["a.txt"];
        EXPECT_TRUE(text == c.after_head + filler + c.after_tail)
            << "a.txt is " << text.size() << " bytes, beginning "
            << testing::PrintToString(text.substr(0, 20));
        EXPECT_EQ(after.size(), 1u);
        EXPECT_EQ(engine->log().Entries(path), c.entries);
        EXPECT_EQ(engine->files, c.entries.empty()
                                     ? std::vector<std::string>{}
                                     : std::vector<std::string>{path});
        EXPECT_EQ(engine->problems().unreadable_files, 0);
        EXPECT_EQ(engine->problems().failure_entries,
                  c.when == When::kWhileRewritten ? 1 : 0);
        // A file left with nothing to change is only read: no new text
        // is even begun for it.
        const std::vector<std::string> calls = fs.calls();
        const bool began = std::any_of(
            calls.begin(), calls.end(), [](const std::string& call) {
              return call.rfind("CreateExclusive ", 0) == 0;
            });
        EXPECT_EQ(began, !c.entries.empty());
      }
    }
  }
}

}  // namespace
}  // namespace vs::test
