// The undo journal's records: what is written reads back the same, and a
// journal damaged or edited is refused rather than trusted.
#include "engine/journal_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vs {
namespace {

// Every character the format escapes, and a few it does not.
const std::string kAwkward = "a\\b\tc\nd\re \\t é";

JournalRecord SampleRecord(std::uint64_t number) {
  JournalRecord record;
  record.number = number;
  record.folder = "sub/de\tep";
  record.name = "old\\name\n.txt";
  record.new_name = "new\rname.txt";
  record.old_text = OldText::kMoved;
  record.before = FileInfo{};
  record.before.mode = 04755;
  record.before.device = 2049;
  record.before.inode = 1234567890123;
  record.before.size = 42;
  record.before.modified_ns = 1733900000123456789;
  record.after.device = 2049;
  record.after.inode = 99;
  record.after.size = 0;
  record.after.modified_ns = -5;  // before the epoch: still a time
  return record;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (char c : line) {
    if (c == '\t') {
      fields.emplace_back();
    } else if (c != '\n') {
      fields.back().push_back(c);
    }
  }
  return fields;
}

std::string Join(const std::vector<std::string>& fields) {
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line.push_back('\t');
    line += fields[i];
  }
  return line + "\n";
}

TEST(JournalRecordsTest, EverythingWrittenReadsBackTheSame) {
  JournalHeader header;
  header.base_dir = "/home/u/tree\twith tab";
  header.find = kAwkward;
  header.replace = kAwkward + "2";
  header.modes.ignore_case = true;
  header.modes.regex = true;
  header.sub_folders = false;
  header.change_names = true;
  header.change_text = false;
  header.started = 1733900000;
  JournalHeader read;
  ASSERT_TRUE(DecodeHeader(EncodeHeader(header), &read).ok());
  EXPECT_EQ(header.base_dir, read.base_dir);
  EXPECT_EQ(header.find, read.find);
  EXPECT_EQ(header.replace, read.replace);
  EXPECT_TRUE(read.modes.ignore_case);
  EXPECT_FALSE(read.modes.whole_word);
  EXPECT_FALSE(read.modes.preserve_case);
  EXPECT_TRUE(read.modes.regex);
  EXPECT_FALSE(read.sub_folders);
  EXPECT_TRUE(read.change_names);
  EXPECT_FALSE(read.change_text);
  EXPECT_EQ(header.started, read.started);

  JournalRecord first = SampleRecord(1);
  JournalRecord second = SampleRecord(3);
  second.folder = "";
  second.new_name = "";
  second.old_text = OldText::kCopied;
  const ChangeList entries{"Line 1: " + kAwkward, "Changed File Name to: x"};
  const std::string text = EncodeRecord(first) + EncodeRecord(second) +
                           EncodeEntries(1, entries) + EncodeEntries(3, {});
  JournalChanges changes;
  ASSERT_TRUE(DecodeChanges(text, &changes).ok());
  ASSERT_EQ(2u, changes.records.size());
  for (const auto& [written, got] :
       {std::pair{first, changes.records[0]},
        std::pair{second, changes.records[1]}}) {
    EXPECT_EQ(written.number, got.number);
    EXPECT_EQ(written.folder, got.folder);
    EXPECT_EQ(written.name, got.name);
    EXPECT_EQ(written.new_name, got.new_name);
    EXPECT_EQ(written.old_text, got.old_text);
    EXPECT_EQ(written.before.mode, got.before.mode);
    for (const auto& [w, g] : {std::pair{written.before, got.before},
                               std::pair{written.after, got.after}}) {
      EXPECT_EQ(w.device, g.device);
      EXPECT_EQ(w.inode, g.inode);
      EXPECT_EQ(w.size, g.size);
      EXPECT_EQ(w.modified_ns, g.modified_ns);
    }
  }
  EXPECT_EQ((std::vector<std::string>{"Line 1: " + kAwkward,
                                      "Changed File Name to: x"}),
            changes.entries[1]);
  EXPECT_TRUE(changes.entries.count(3));
  EXPECT_TRUE(changes.entries[3].empty());

  for (bool stopped : {false, true}) {
    JournalEnd end;
    end.stopped = stopped;
    end.ended = 1733900999;
    JournalEnd got;
    ASSERT_TRUE(DecodeEnd(EncodeEnd(end), &got).ok());
    EXPECT_EQ(stopped, got.stopped);
    EXPECT_EQ(end.ended, got.ended);
  }
}

// A run killed while it wrote leaves a last line without its newline:
// the records before it stand, the torn one is not there.
TEST(JournalRecordsTest, TornLastLineIsLeftOut) {
  const std::string whole = EncodeRecord(SampleRecord(1));
  const std::string next = EncodeRecord(SampleRecord(2));
  for (std::size_t cut : {std::size_t{1}, next.size() / 2, next.size() - 1}) {
    SCOPED_TRACE(cut);
    JournalChanges changes;
    ASSERT_TRUE(DecodeChanges(whole + next.substr(0, cut), &changes).ok());
    ASSERT_EQ(1u, changes.records.size());
    EXPECT_EQ(1u, changes.records[0].number);
  }
}

TEST(JournalRecordsTest, DamagedOrEditedLinesAreRefused) {
  const std::vector<std::string> good = Fields(EncodeRecord(SampleRecord(2)));
  auto with = [&](std::size_t field, const std::string& value) {
    std::vector<std::string> fields = good;
    fields[field] = value;
    return Join(fields);
  };
  std::vector<std::string> unchanged = good;
  unchanged[4] = "";        // no new name
  unchanged[5] = "none";    // and no text
  const std::string first = EncodeRecord(SampleRecord(1));
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"a folder going up", first + with(2, "sub/../..")},
      {"a folder that is absolute", first + with(2, "/etc")},
      {"an empty folder name", first + with(2, "a//b")},
      {"a name going up", first + with(3, "..")},
      {"a name with a slash", first + with(3, "a/b")},
      {"a new name that is a folder", first + with(4, ".")},
      {"a new name with a slash", first + with(4, "../x")},
      {"a number that is no number", first + with(1, "2x")},
      {"a number of 0", with(1, "0")},
      {"a negative inode", first + with(8, "-1")},
      {"a size too large", first + with(9, "18446744073709551616")},
      {"a mode that is not octal", first + with(6, "9")},
      {"a mode beyond the permission bits", first + with(6, "170000")},
      {"an unknown way of keeping old text", first + with(5, "lost")},
      {"a field too few", first + Join({good.begin(), good.end() - 1})},
      {"a field too many", first + with(14, "1\t2")},
      {"records out of order", EncodeRecord(SampleRecord(2)) + first},
      {"a record given twice", first + first},
      {"entries of no record", first + EncodeEntries(2, {})},
      {"an unknown record", first + "undo\t1\n"},
      {"an unknown escape", first + with(3, "a\\qb")},
      {"a backslash at a line's end", first + with(14, "5\\")},
      {"a record that changes nothing", first + Join(unchanged)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JournalChanges changes;
    Status status = DecodeChanges(c.text, &changes);
    EXPECT_FALSE(status.ok());
    EXPECT_NE(std::string::npos, status.reason().find("damaged journal"))
        << status.reason();
  }

  JournalHeader header;
  header.base_dir = "/tree";
  const std::string encoded = EncodeHeader(header);
  JournalHeader read;
  EXPECT_FALSE(DecodeHeader("another file\n" + encoded, &read).ok());
  std::string relative = encoded;
  relative.replace(relative.find("\t/tree"), 6, "\ttree");
  EXPECT_FALSE(DecodeHeader(relative, &read).ok());
  std::string bad_flag = encoded;
  bad_flag.replace(bad_flag.find("regex\t0"), 7, "regex\t2");
  EXPECT_FALSE(DecodeHeader(bad_flag, &read).ok());

  JournalEnd end;
  EXPECT_FALSE(DecodeEnd("", &end).ok());
  EXPECT_FALSE(DecodeEnd("finished\t1\nfinished\t2\n", &end).ok());
  EXPECT_FALSE(DecodeEnd("undone\t1\n", &end).ok());
}

}  // namespace
}  // namespace vs
