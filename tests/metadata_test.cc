// A rewritten file keeps everything it carries besides its bytes (owner,
// group, mode, ACLs, extended attributes, inode flags), or it is not
// rewritten at all and the failure names what could not be kept.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/fault_file_system.h"
#include "tests/memory_file_system.h"
#include "tests/temp_folder.h"
#include "tests/test_engine.h"

namespace vs::test {
namespace {

using Snapshot = std::map<std::string, std::string>;

constexpr char kAccessAcl[] = "system.posix_acl_access";
constexpr char kDefaultAcl[] = "system.posix_acl_default";

// An ACL in the form the kernel takes as an attribute value: a version,
// then (tag, permissions, id) entries ordered by tag and id.
std::string Acl(std::uint32_t nobody_permissions) {
  struct Entry {
    std::uint16_t tag, permissions;
    std::uint32_t id;
  };
  constexpr std::uint32_t kNoId = 0xFFFFFFFF;
  const std::uint32_t version = 2;
  const std::uint16_t perms = static_cast<std::uint16_t>(nobody_permissions);
  const Entry entries[] = {{0x01, 6, kNoId},       // owner: rw
                           {0x02, perms, 65534},  // nobody
                           {0x04, 4, kNoId},       // group: r
                           {0x10, 6, kNoId},       // mask: rw
                           {0x20, 4, kNoId}};      // others: r
  std::string value(reinterpret_cast<const char*>(&version), sizeof version);
  for (const Entry& entry : entries) {
    value.append(reinterpret_cast<const char*>(&entry.tag), 2);
    value.append(reinterpret_cast<const char*>(&entry.permissions), 2);
    value.append(reinterpret_cast<const char*>(&entry.id), 4);
  }
  return value;
}

// File capabilities (version 2): cap_net_bind_service, permitted.
std::string Capabilities() {
  const std::uint32_t words[5] = {0x02000000, 1u << 10, 0, 0, 0};
  return std::string(reinterpret_cast<const char*>(words), sizeof words);
}

// "" when set, or why the machine would not.
std::string SetAttribute(const std::string& path, const char* name,
                         const std::string& value) {
  if (setxattr(path.c_str(), name, value.data(), value.size(), 0) == 0)
    return "";
  return std::string("cannot set ") + name + " here: " + std::strerror(errno);
}

std::string ChangeFlags(const std::string& path, int set, int clear) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  int flags = 0;
  bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  flags = (flags | set) & ~clear;
  done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  std::string reason = done ? "" : std::string("cannot set inode flags "
                                               "here: ") +
                                       std::strerror(errno);
  if (fd >= 0) close(fd);
  return reason;
}

// Everything a file carries but its bytes and times.
struct Metadata {
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  int flags = 0;
  std::map<std::string, std::string> attributes;

  bool operator==(const Metadata& o) const {
    return mode == o.mode && owner == o.owner && group == o.group &&
           flags == o.flags && attributes == o.attributes;
  }
};

void PrintTo(const Metadata& m, std::ostream* out) {
  *out << "mode " << std::oct << m.mode << std::dec << ", " << m.owner << ":"
       << m.group << ", flags " << std::hex << m.flags << std::dec;
  for (const auto& [name, value] : m.attributes)
    *out << ", " << name << " (" << value.size() << " bytes)";
}

Metadata MetadataOf(const std::string& path) {
  Metadata m;
  struct stat st;
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  m.mode = st.st_mode & 07777;
  m.owner = st.st_uid;
  m.group = st.st_gid;
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &m.flags) != 0) m.flags = 0;
  char names[4096];
  ssize_t length = fd >= 0 ? flistxattr(fd, names, sizeof names) : -1;
  for (ssize_t at = 0; at < length; at += std::strlen(names + at) + 1) {
    char value[4096];
    ssize_t size = fgetxattr(fd, names + at, value, sizeof value);
    if (size >= 0) m.attributes[names + at] = std::string(value, size);
  }
  if (fd >= 0) close(fd);
  return m;
}

struct Outcome {
  std::string out;
  int status = -1;
};

// A copy of the command line that the user nobody may run: the build's
// own may sit below a folder only its owner can enter (a checkout in a
// private scratch folder, say). Beside it, a state folder of nobody's own
// for the run's undo journal, as a real user has one in their home.
class CliForNobody {
 public:
  CliForNobody() {
    chmod(folder_.path().c_str(), 0755);
    std::filesystem::copy_file(VS_CLI_PATH, path_);
    chmod(path_.c_str(), 0755);
    const passwd* nobody = getpwnam("nobody");
    if (mkdir(state_home_.c_str(), 0700) != 0 || !nobody ||
        chown(state_home_.c_str(), nobody->pw_uid, nobody->pw_gid) != 0)
      throw std::runtime_error("cannot make nobody's state folder");
  }
  const std::string& path() const { return path_; }
  const std::string& state_home() const { return state_home_; }

 private:
  TempFolder folder_;
  const std::string path_ = folder_.Path("vellumshaper-cli");
  const std::string state_home_ = folder_.Path("state");
};

// Runs the command line on `folder`, as the user nobody if `as_nobody`.
Outcome RunCli(const std::string& folder, bool as_nobody) {
  std::optional<CliForNobody> copy;
  if (as_nobody) copy.emplace();
  const std::string cli = as_nobody ? copy->path() : VS_CLI_PATH;
  std::FILE* out = std::tmpfile();
  pid_t pid = fork();
  if (pid == 0) {
    if (dup2(fileno(out), STDOUT_FILENO) < 0) _exit(126);
    if (as_nobody) {
      const passwd* nobody = getpwnam("nobody");
      if (!nobody || setgroups(0, nullptr) != 0 ||
          setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0 ||
          setenv("XDG_STATE_HOME", copy->state_home().c_str(), 1) != 0)
        _exit(126);
    }
    execl(cli.c_str(), cli.c_str(), "-f", "old", "-r", "new", "--no-names",
          folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  Outcome outcome;
  outcome.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  std::rewind(out);
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, out)) > 0)
    outcome.out.append(buffer, got);
  std::fclose(out);
  return outcome;
}

struct Row {
  const char* name;
  // Sets up d/a.txt (holding "old text\n") in the folder; returns why the
  // machine cannot, or "".
  std::function<std::string(const TempFolder&)> set_up;
  bool as_nobody = false;
  const char* refusal = "";  // the failure entry when the file is kept
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class KeptMetadataTest : public testing::TestWithParam<Row> {};

TEST_P(KeptMetadataTest, ARewriteKeepsWhatTheFileCarriesOrLeavesItAlone) {
  const Row& row = GetParam();
  TempFolder tree;
  tree.Write("d/a.txt", "old text\n");
  const std::string file = tree.Path("d/a.txt");
  const std::string reason = row.set_up(tree);
  if (!reason.empty()) GTEST_SKIP() << reason;
  const Metadata before = MetadataOf(file);

  const Outcome outcome = RunCli(tree.Path("d"), row.as_nobody);

  const bool refused = *row.refusal != '\0';
  EXPECT_EQ(MetadataOf(file), before);
  ChangeFlags(file, 0, FS_IMMUTABLE_FL);  // so the folder can go
  EXPECT_EQ(tree.Snapshot(),
            (Snapshot{{"d", "<dir>"},
                      {"d/a.txt", refused ? "old text\n" : "new text\n"}}));
  if (refused) {
    EXPECT_NE(outcome.out.find(row.refusal), std::string::npos)
        << outcome.out;
    EXPECT_NE(outcome.status, 0);
  } else {
    EXPECT_EQ(outcome.status, 0) << outcome.out;
  }
}

std::string NeedsRoot() {
  return geteuid() == 0 ? "" : "needs root";
}

const Row kRows[] = {
    {"Acl",
     [](const TempFolder& t) {
       return SetAttribute(t.Path("d/a.txt"), kAccessAcl, Acl(6));
     }},
    {"OwnAclInFolderWithDefaultAcl",
     [](const TempFolder& t) {
       std::string reason = SetAttribute(t.Path("d/a.txt"), kAccessAcl, Acl(4));
       if (reason.empty())
         reason = SetAttribute(t.Path("d"), kDefaultAcl, Acl(6));
       return reason;
     }},
    {"NoAclInFolderWithDefaultAcl",
     [](const TempFolder& t) {
       return SetAttribute(t.Path("d"), kDefaultAcl, Acl(6));
     }},
    {"UserAttribute",
     [](const TempFolder& t) {
       return SetAttribute(t.Path("d/a.txt"), "user.note", "keepme");
     }},
    {"InodeFlags",
     [](const TempFolder& t) {
       return ChangeFlags(t.Path("d/a.txt"), FS_NODUMP_FL | FS_NOATIME_FL, 0);
     }},
    // A write clears capabilities, and so does a change of owner.
    {"Capabilities",
     [](const TempFolder& t) {
       std::string reason = NeedsRoot();
       if (reason.empty() && chown(t.Path("d/a.txt").c_str(), 65534, 65534))
         reason = "cannot give the file away";
       if (reason.empty())
         reason = SetAttribute(t.Path("d/a.txt"), "security.capability",
                               Capabilities());
       return reason;
     }},
    {"OwnerTheRunnerMayNotGive",
     [](const TempFolder& t) {
       // A file of root's, readable by all, in a folder nobody owns.
       std::string reason = NeedsRoot();
       if (reason.empty() &&
           (chmod(t.path().c_str(), 0755) != 0 ||
            chown(t.Path("d").c_str(), 65534, 65534) != 0 ||
            chmod(t.Path("d/a.txt").c_str(), 0644) != 0))
         reason = std::string("cannot set up: ") + std::strerror(errno);
       return reason;
     },
     true, "Failed to change Text (cannot keep the file's owner)"},
    // Only a privileged process may set capabilities, even on its own file.
    {"CapabilitiesTheRunnerMayNotSet",
     [](const TempFolder& t) {
       std::string reason = NeedsRoot();
       if (reason.empty() &&
           (chmod(t.path().c_str(), 0755) != 0 ||
            chown(t.Path("d").c_str(), 65534, 65534) != 0 ||
            chown(t.Path("d/a.txt").c_str(), 65534, 65534) != 0))
         reason = std::string("cannot set up: ") + std::strerror(errno);
       if (reason.empty())
         reason = SetAttribute(t.Path("d/a.txt"), "security.capability",
                               Capabilities());
       return reason;
     },
     true, "Failed to change Text (cannot keep the file's capabilities)"},
    {"Immutable",
     [](const TempFolder& t) {
       std::string reason = NeedsRoot();
       if (reason.empty())
         reason = ChangeFlags(t.Path("d/a.txt"), FS_IMMUTABLE_FL, 0);
       return reason;
     },
     false, "Failed to change Text (the file is immutable)"},
};

INSTANTIATE_TEST_SUITE_P(Rows, KeptMetadataTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

// The same through the engine, where the file system is in memory: a text
// worked out in memory and one streamed (too large for that) alike.
const std::string kLarge(2 << 20, 'x');

TEST(KeptMetadataMemoryTest, AttributesAreCarriedExactly) {
  MemoryFileSystem fs({{"t/a.txt", "old"}, {"t/big.txt", kLarge + "old"},
                       {"t/plain.txt", "old"}});
  for (const char* name : {"t/a.txt", "t/big.txt"}) {
    fs.SetAttribute(name, kAccessAcl, "own acl");
    fs.SetAttribute(name, "user.note", "keepme");
  }
  // plain.txt has no ACL: the one a new file inherits must go.
  fs.SetAttribute("t", kDefaultAcl, "folder's acl");
  TestEngine engine(&fs);
  engine.settings.find = "old";
  engine.settings.replace = "new";
  engine.ProcessFolder("t");
  const std::map<std::string, std::string> carried = {
      {kAccessAcl, "own acl"}, {"user.note", "keepme"}};
  EXPECT_EQ(fs.Read("t/a.txt"), "new");
  EXPECT_EQ(fs.Attributes("t/a.txt"), carried);
  EXPECT_EQ(fs.Read("t/big.txt"), kLarge + "new");
  EXPECT_EQ(fs.Attributes("t/big.txt"), carried);
  EXPECT_EQ(fs.Read("t/plain.txt"), "new");
  EXPECT_TRUE(fs.Attributes("t/plain.txt").empty());
}

TEST(KeptMetadataMemoryTest, WhatCannotBeKeptLeavesTheFileAlone) {
  for (const char* name : {"a.txt", "big.txt"}) {
    SCOPED_TRACE(name);
    const std::string text = name == std::string("a.txt") ? "old" : kLarge + "old";
    MemoryFileSystem fs(Snapshot{{std::string("t/") + name, text}});
    fs.SetAttribute(std::string("t/") + name, "security.selinux", "label");
    fs.RefuseAttribute("security.selinux");
    TestEngine engine(&fs);
    engine.settings.find = "old";
    engine.settings.replace = "new";
    engine.ProcessFolder("t");
    EXPECT_EQ(fs.Snapshot("t"), (Snapshot{{name, text}}));
    EXPECT_EQ(engine.log().Entries(std::string("t/") + name),
              ChangeList{"Failed to change Text (cannot keep the file's "
                         "extended attribute security.selinux)"});
    EXPECT_EQ(engine.problems().failure_entries, 1);
  }
}

}  // namespace
}  // namespace vs::test
