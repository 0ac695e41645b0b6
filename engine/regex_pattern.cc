#include "engine/regex_pattern.h"

#include <string.h>

#include <re2/re2.h>

#include <algorithm>
#include <map>
#include <utility>

#include "engine/required_literal.h"

namespace vs {
namespace {

constexpr char kKelvinSign[] = "\xE2\x84\xAA";
constexpr char kLongS[] = "\xC5\xBF";
// Shorter, a search for the required bytes stops too often to gain on
// the expression's own search of the block.
constexpr std::size_t kShortestRequiredLiteral = 3;

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Whether the block form of `pattern` (with ^ and $ at every line) finds
// every line that its line form finds a match in. It would not for an
// anchor to the text's ends (\A, \z), for a $ before a CR LF line end
// (the line form ends the line's text before the CR), nor where the
// pattern's own flags turn multi-line matching off again: "(?-m)",
// "(?i-m:". Looked for anywhere, escaped or in a class too: a pattern
// taken for one only loses the block search's speed.
bool BlockFormFindsEveryLine(const std::string& pattern) {
  if (pattern.find('$') != std::string::npos ||
      pattern.find("\\A") != std::string::npos ||
      pattern.find("\\z") != std::string::npos)
    return false;
  for (std::size_t at = pattern.find("(?"); at != std::string::npos;
       at = pattern.find("(?", at + 2)) {
    const std::size_t flags_end = pattern.find_first_not_of("imsU-", at + 2);
    if (pattern.find('-', at + 2) < flags_end) return false;
  }
  return true;
}

RE2::Options OptionsFor(bool utf8, bool ignore_case) {
  RE2::Options options;
  options.set_encoding(utf8 ? RE2::Options::EncodingUTF8
                            : RE2::Options::EncodingLatin1);
  options.set_case_sensitive(!ignore_case);
  // A match never spans a line end: not even a class or an escape that
  // names one matches an LF.
  options.set_never_nl(true);
  options.set_log_errors(false);
  return options;
}

}  // namespace

RegexPattern::RegexPattern(const MatchModes& modes, const CodePage& code_page)
    : LinePattern(modes.preserve_case && modes.ignore_case),
      utf8_(code_page.number() == CodePage::kUtf8) {}

RegexPattern::~RegexPattern() = default;

std::unique_ptr<RegexPattern> RegexPattern::Make(const std::string& find,
                                                 const std::string& replace,
                                                 const MatchModes& modes,
                                                 const CodePage& code_page,
                                                 std::string* error) {
  std::unique_ptr<RegexPattern> p(new RegexPattern(modes, code_page));
  const bool utf8 = p->utf8_;
  std::string pattern = modes.regex ? find : RE2::QuoteMeta(find);
  const RE2::Options options = OptionsFor(utf8, modes.ignore_case);
  if (modes.whole_word) {
    // The characters on either side are taken into the match, and the
    // match proper is group 1. A search that goes on from a match's end
    // starts a character before it, so that character can be the one in
    // front of the next match; it must be taken, so that search's form
    // has no ^ (which would match again at the line's start).
    const std::string non_word =
        utf8 ? "[^\\pL\\pM\\p{Nd}_]" : "[^0-9A-Za-z_]";
    const std::string rest = "(" + pattern + ")(?:$|" + non_word + ")";
    p->inner_re_ = std::make_unique<RE2>(non_word + rest, options);
    pattern = "(?:^|" + non_word + ")" + rest;
    p->match_group_ = 1;
  }
  p->line_re_ = std::make_unique<RE2>(pattern, options);
  if (!p->line_re_->ok()) {
    *error = "invalid regular expression '" + find +
             "': " + p->line_re_->error();
    return nullptr;
  }
  if (modes.regex) {
    if (!p->ParseTemplate(replace, error)) return nullptr;
  } else {
    p->pieces_.push_back(Piece{replace, -1});
  }

  if (!modes.regex && !modes.ignore_case) {
    p->prefilter_ = Prefilter::kBytes;
    p->plain_find_ = find;
    p->byte_search_ = std::make_unique<ByteSearch>(p->plain_find_);
  } else if (!modes.regex && IsAscii(find)) {
    p->prefilter_ = Prefilter::kFolded;
    p->fold_search_ = std::make_unique<FoldSearch>(find);
    p->special_letters_ =
        utf8 && find.find_first_of("kKsS") != std::string::npos;
  } else if (std::string required = modes.regex && !modes.ignore_case
                                        ? RequiredLiteral(find)
                                        : std::string();
             required.size() >= kShortestRequiredLiteral) {
    // Lines without the bytes every match holds are passed over as fast
    // as for a plain find text; the expression sees only the others.
    p->prefilter_ = Prefilter::kBytes;
    p->plain_find_ = std::move(required);
    p->byte_search_ = std::make_unique<ByteSearch>(p->plain_find_);
  } else if (!modes.regex || BlockFormFindsEveryLine(find)) {
    p->block_re_ = std::make_unique<RE2>("(?m)" + pattern, options);
    p->prefilter_ =
        p->block_re_->ok() ? Prefilter::kBlockRegex : Prefilter::kEveryLine;
  }
  return p;
}

bool RegexPattern::ParseTemplate(const std::string& replace,
                                 std::string* error) {
  const int offset = match_group_;
  const int groups = line_re_->NumberOfCapturingGroups() - offset;
  const std::map<std::string, int>& named = line_re_->NamedCapturingGroups();
  std::string text;
  auto group = [&](const std::string& name, int* index) {
    if (!name.empty() &&
        std::all_of(name.begin(), name.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
      if (name.size() > 9 || std::stoi(name) > groups) {
        *error = "the replacement names group " + name +
                 ", but the pattern has " + std::to_string(groups) +
                 (groups == 1 ? " group" : " groups");
        return false;
      }
      const int number = std::stoi(name);
      *index = number == 0 ? match_group_ : number + offset;
      return true;
    }
    auto it = named.find(name);
    if (it == named.end()) {
      *error = "the replacement names a group '" + name +
               "' that the pattern does not have";
      return false;
    }
    *index = it->second;
    return true;
  };
  for (std::size_t i = 0; i < replace.size();) {
    if (replace[i] != '$') {
      text += replace[i++];
      continue;
    }
    const char next = i + 1 < replace.size() ? replace[i + 1] : '\0';
    std::string name;
    if (next == '$') {
      text += '$';
      i += 2;
      continue;
    } else if (next >= '0' && next <= '9') {
      std::size_t end = i + 1;
      while (end < replace.size() && replace[end] >= '0' && replace[end] <= '9')
        ++end;
      name = replace.substr(i + 1, end - i - 1);
      i = end;
    } else if (next == '{') {
      const std::size_t close = replace.find('}', i + 2);
      if (close == std::string::npos || close == i + 2) {
        *error = "the replacement has a '${' without a group name and '}'";
        return false;
      }
      name = replace.substr(i + 2, close - i - 2);
      i = close + 1;
    } else {
      *error =
          "a '$' in the replacement starts $1, ${name} or $$ (for a dollar)";
      return false;
    }
    int index = 0;
    if (!group(name, &index)) return false;
    if (!text.empty()) pieces_.push_back(Piece{std::move(text), -1});
    text.clear();
    pieces_.push_back(Piece{"", index});
  }
  if (!text.empty()) pieces_.push_back(Piece{std::move(text), -1});
  return true;
}

std::size_t RegexPattern::CharacterLength(std::string_view line,
                                          std::size_t at) const {
  if (!utf8_) return 1;
  // The bytes of a well-formed sequence; a byte that starts none is a
  // character of its own, as RE2 takes it.
  const unsigned char c = static_cast<unsigned char>(line[at]);
  const std::size_t length = c >= 0xF0 && c <= 0xF4   ? 4
                             : c >= 0xE0 && c <= 0xEF ? 3
                             : c >= 0xC2 && c <= 0xDF ? 2
                                                      : 1;
  if (line.size() - at < length) return 1;
  for (std::size_t k = 1; k < length; ++k)
    if ((static_cast<unsigned char>(line[at + k]) & 0xC0) != 0x80) return 1;
  return length;
}

std::size_t RegexPattern::CharacterStartBefore(std::string_view line,
                                               std::size_t at) const {
  std::size_t start = at - 1;
  if (!utf8_) return start;
  for (int back = 0; back < 3 && start > 0 &&
                     (static_cast<unsigned char>(line[start]) & 0xC0) == 0x80;
       ++back)
    --start;
  return start;
}

std::size_t RegexPattern::Candidate(std::string_view text, std::size_t from,
                                    CandidateCache* cache) const {
  if (from >= text.size()) return npos;
  const char* const base = text.data();
  switch (prefilter_) {
    case Prefilter::kBytes:
    case Prefilter::kFolded: {
      const char* hit =
          fold_search_ ? fold_search_->Find(base + from, text.size() - from)
                       : byte_search_->Find(base + from, text.size() - from);
      std::size_t at = hit ? static_cast<std::size_t>(hit - base) : npos;
      if (!special_letters_) return at;
      if (!cache->known || cache->next_special < from) {
        // Searched again only once the search has passed the last one.
        std::string_view rest = text.substr(from);
        std::size_t kelvin = rest.find(kKelvinSign);
        std::size_t long_s = rest.find(kLongS);
        std::size_t first = std::min(kelvin, long_s);
        cache->next_special = first == npos ? text.size() : from + first;
        cache->known = true;
      }
      if (cache->next_special < text.size())
        at = std::min(at, cache->next_special);
      return at;
    }
    case Prefilter::kBlockRegex: {
      re2::StringPiece match;
      if (!block_re_->Match(re2::StringPiece(base, text.size()), from,
                            text.size(), RE2::UNANCHORED, &match, 1))
        return npos;
      return static_cast<std::size_t>(match.data() - base);
    }
    case Prefilter::kEveryLine:
      return from;
  }
  return from;
}

bool RegexPattern::Find(std::string_view line, std::size_t from,
                        MatchState* state) const {
  thread_local std::vector<re2::StringPiece> groups;
  groups.resize(1 + line_re_->NumberOfCapturingGroups());
  const re2::StringPiece text(line.data(), line.size());
  while (from <= line.size()) {
    const bool inner = inner_re_ && from > 0;
    const std::size_t start = inner ? CharacterStartBefore(line, from) : from;
    if (!(inner ? inner_re_ : line_re_)->Match(text, start, line.size(), RE2::UNANCHORED,
                         groups.data(), static_cast<int>(groups.size())))
      return false;
    const re2::StringPiece& match = groups[match_group_];
    const std::size_t begin = static_cast<std::size_t>(match.data() - line.data());
    if (match.empty()) {
      // Skipped: the search goes on a character later.
      if (begin >= line.size()) return false;
      from = begin + CharacterLength(line, begin);
      continue;
    }
    state->begin = begin;
    state->end = begin + match.size();
    state->groups.resize(groups.size());
    for (std::size_t i = 0; i < groups.size(); ++i)
      state->groups[i] = groups[i].data()
                             ? std::string_view(groups[i].data(), groups[i].size())
                             : std::string_view();
    return true;
  }
  return false;
}

void RegexPattern::Expand(std::string_view, const MatchState& state,
                          std::string* out) const {
  for (const Piece& piece : pieces_) {
    if (piece.group < 0) {
      out->append(piece.text);
    } else if (static_cast<std::size_t>(piece.group) < state.groups.size()) {
      const std::string_view g = state.groups[piece.group];
      out->append(g.data(), g.size());
    }
  }
}

}  // namespace vs
