// The rule of regular expressions written the plain way, for the fuzz
// targets and tests to hold the engine against: a line at a time, the
// pattern tried anchored at each character from the left, a match of no
// character passed over, the replacement's $N, ${name} and $$ expanded by
// hand. It uses RE2 to match, but none of the engine's own code.
#pragma once

#include <re2/re2.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzz/naive_rule.h"

namespace vs::fuzz {

class NaiveRegex {
 public:
  // A whole word has no word character (NaiveIsWord) right before it and
  // is followed by a line's end or a non-word character.
  // Preserving case, the replacement takes the shape of the match as
  // NaiveShaped gives it.
  NaiveRegex(const std::string& pattern, const std::string& replace,
             int code_page, bool ignore_case, bool whole_word,
             bool preserve_case = false)
      : code_page_(code_page),
        whole_word_(whole_word),
        preserve_case_(preserve_case),
        replace_(replace),
        re_(whole_word ? "(" + pattern + ")(?:$|" +
                             (code_page == 65001 ? "[^\\pL\\pM\\p{Nd}_]"
                                                 : "[^0-9A-Za-z_]") +
                             ")"
                       : "(" + pattern + ")",
            Options(code_page, ignore_case)) {}

  bool ok() const { return re_.ok(); }

  std::string ReplaceLine(std::string_view line) const {
    const std::vector<std::string> chars = NaiveCharacters(code_page_, line);
    std::vector<re2::StringPiece> groups(1 + re_.NumberOfCapturingGroups());
    std::string out;
    std::size_t k = 0, at = 0;
    while (k < chars.size()) {
      const std::size_t end = MatchAt(line, chars, k, at, &groups);
      if (end == 0) {
        out += chars[k];
        at += chars[k++].size();
        continue;
      }
      const std::string expanded = Expand(groups);
      out += preserve_case_
                 ? NaiveShaped(std::string(groups[1].data(), groups[1].size()),
                               expanded)
                 : expanded;
      while (at < end) at += chars[k++].size();
    }
    return out;
  }

 private:
  static RE2::Options Options(int code_page, bool ignore_case) {
    RE2::Options options;
    options.set_encoding(code_page == 65001 ? RE2::Options::EncodingUTF8
                                            : RE2::Options::EncodingLatin1);
    options.set_case_sensitive(!ignore_case);
    options.set_log_errors(false);
    return options;
  }

  // Where a match at character k (at byte `at`) ends, or 0 for none.
  std::size_t MatchAt(std::string_view line,
                      const std::vector<std::string>& chars, std::size_t k,
                      std::size_t at,
                      std::vector<re2::StringPiece>* groups) const {
    if (whole_word_ && k > 0 && NaiveIsWord(code_page_, chars[k - 1]))
      return 0;
    if (!re_.Match(re2::StringPiece(line.data(), line.size()), at,
                   line.size(), RE2::ANCHOR_START, groups->data(),
                   static_cast<int>(groups->size())) ||
        (*groups)[1].empty())
      return 0;
    return static_cast<std::size_t>((*groups)[1].data() +
                                    (*groups)[1].size() - line.data());
  }

  std::string Expand(const std::vector<re2::StringPiece>& groups) const {
    std::string out;
    auto group = [&](int n) {
      if (n + 1 < static_cast<int>(groups.size()))
        out.append(groups[n + 1].data(), groups[n + 1].size());
    };
    for (std::size_t i = 0; i < replace_.size(); ++i) {
      if (replace_[i] != '$') {
        out += replace_[i];
      } else if (replace_[i + 1] == '$') {
        out += '$';
        ++i;
      } else if (replace_[i + 1] == '{') {
        std::size_t close = replace_.find('}', i);
        std::string name = replace_.substr(i + 2, close - i - 2);
        if (name[0] >= '0' && name[0] <= '9') {
          group(std::stoi(name));
        } else {
          // Named groups keep their number, one more than the user's.
          group(re_.NamedCapturingGroups().at(name) - 1);
        }
        i = close;
      } else {
        std::size_t end = i + 1;
        while (end < replace_.size() && replace_[end] >= '0' &&
               replace_[end] <= '9')
          ++end;
        group(std::stoi(replace_.substr(i + 1, end - i - 1)));
        i = end - 1;
      }
    }
    return out;
  }

  const int code_page_;
  const bool whole_word_;
  const bool preserve_case_;
  const std::string replace_;
  const RE2 re_;
};

}  // namespace vs::fuzz
