// The manual page and the shell completions name every option --help
// lists, and none it does not: an option added to the help needs its
// lines there too.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "cli/cli_options.h"

namespace vs {
namespace {

using Names = std::set<std::string>;

std::string ReadSource(const std::string& path) {
  std::ifstream file(std::string(VS_SOURCE_DIR) + "/" + path);
  EXPECT_TRUE(file) << "cannot read " << path;
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Every match of `pattern`'s first group (or the whole match) in `text`.
Names AllMatches(const std::string& text, const std::regex& pattern) {
  Names names;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    names.insert(it->size() > 1 && (*it)[1].matched ? (*it)[1].str()
                                                    : it->str());
  }
  return names;
}

// The options of the help, short and long ("-f", "--find"), from the
// lines of its option list: "  -f, --find=TEXT  ..." and
// "      --no-text  ...".
Names HelpOptions() {
  Names names;
  std::istringstream lines(kUsage);
  const std::regex head("^ +((-[A-Za-z]), )?(--[a-z][a-z-]*)");
  for (std::string line; std::getline(lines, line);) {
    std::smatch found;
    if (!std::regex_search(line, found, head)) continue;
    if (found[2].matched) names.insert(found[2].str());
    names.insert(found[3].str());
  }
  return names;
}

// Options spelt out in `text` as words of their own: "-f", "--find".
Names OptionWords(const std::string& text) {
  return AllMatches(
      text, std::regex("(?:^|[^A-Za-z0-9_-])(--?[A-Za-z][a-z-]*)"));
}

Names LongOnly(const Names& names) {
  Names long_names;
  for (const std::string& name : names)
    if (name.compare(0, 2, "--") == 0) long_names.insert(name);
  return long_names;
}

TEST(CliDocsTest, HelpListsItsOptions) {
  const Names help = HelpOptions();
  EXPECT_EQ(1u, help.count("-f"));
  EXPECT_EQ(1u, help.count("--find"));
  EXPECT_EQ(1u, help.count("--no-wait"));
  EXPECT_EQ(1u, help.count("--version"));
}

// The options of the manual page are the tags of its OPTIONS section:
// the line after each ".TP", where a '-' is written "\-".
TEST(CliDocsTest, ManPageNamesTheOptionsOfTheHelp) {
  std::string page = ReadSource("cli/doc/vellumshaper-cli.1.in");
  const std::size_t start = page.find("\n.SH OPTIONS\n");
  ASSERT_NE(std::string::npos, start);
  const std::size_t end = page.find("\n.SH ", start + 1);
  std::istringstream lines(page.substr(start, end - start));
  std::string tags;
  bool tag_next = false;
  for (std::string line; std::getline(lines, line);) {
    if (tag_next) tags += std::regex_replace(line, std::regex(R"(\\-)"), "-") + "\n";
    tag_next = line == ".TP";
  }
  EXPECT_EQ(HelpOptions(), OptionWords(tags)) << tags;
}

// bash and zsh spell each option out; fish names it with -s and -l.
// Every option of the help is offered, and no long option the help
// does not have.
TEST(CliDocsTest, CompletionsOfferTheOptionsOfTheHelp) {
  const Names help = HelpOptions();
  for (const char* path : {"cli/completion/vellumshaper-cli.bash",
                           "cli/completion/_vellumshaper-cli"}) {
    SCOPED_TRACE(path);
    const Names offered = OptionWords(ReadSource(path));
    for (const std::string& name : help)
      EXPECT_EQ(1u, offered.count(name)) << name;
    EXPECT_EQ(LongOnly(help), LongOnly(offered));
  }

  const std::string fish = ReadSource("cli/completion/vellumshaper-cli.fish");
  Names offered;
  for (const std::string& name :
       AllMatches(fish, std::regex(R"(\s-s ([A-Za-z])\b)")))
    offered.insert("-" + name);
  for (const std::string& name :
       AllMatches(fish, std::regex(R"(\s-l ([a-z][a-z-]*))")))
    offered.insert("--" + name);
  EXPECT_EQ(help, offered);
}

}  // namespace
}  // namespace vs
