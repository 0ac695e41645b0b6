// Micro-benchmarks of the engine's inner loops: ReplaceText, the per-file
// scan (TextRewriter::FindsChange) and the per-file rewrite. Each case is
// followed by two references over the same bytes: "<case>/memmem" only
// searches them for the find text with memmem(3), and "<case>/memchr"
// only looks for a byte they never hold with memchr(3), the fastest pass
// over bytes there is. The ratios of the bytes_per_second figures tell how
// far the engine is from those limits.
//
// Every input is made up here from a fixed seed, so runs compare, and each
// case checks its result once before it is timed: a case that stopped
// doing its work reports an error instead of a speed.
#include <benchmark/benchmark.h>
#include <string.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/code_page.h"
#include "engine/file_system.h"
#include "engine/matcher.h"
#include "engine/file_steps.h"
#include "engine/text_rewriter.h"
#include "tests/memory_file.h"

namespace vs::bench {
namespace {

using test::CountingSink;
using test::MemoryReadableFile;

constexpr std::string_view kFind = "EXPORT_SYMBOL_GPL";
constexpr std::string_view kReplace = "EXPORT_SYMBOL_VS";
// "あい" in Shift_JIS.
constexpr std::string_view kFindSjis = "\x82\xa0\x82\xa2";
constexpr std::string_view kReplaceSjis = "\x82\xa4";

// A small deterministic generator (xorshift64*), the same on every
// compiler, so the inputs are too.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed | 1) {}
  std::uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  // In [0, n).
  std::size_t Below(std::size_t n) { return Next() % n; }

 private:
  std::uint64_t state_;
};

// C-like source: indented lines of lower-case words and punctuation,
// 0 to about 100 bytes long; never holds a capital letter or a byte
// above 0x7F, so no find text above occurs by chance.
class SourceMaker {
 public:
  explicit SourceMaker(std::uint64_t seed) : random_(seed) {}

  std::string Line() {
    static const char* const kPunctuation[] = {"(", ");", " = ", ", ",
                                               " + ", "->", " {", "};"};
    std::string line(random_.Below(3), '\t');
    std::size_t words = random_.Below(9);
    for (std::size_t w = 0; w < words; ++w) {
      std::size_t length = 2 + random_.Below(8);
      for (std::size_t i = 0; i < length; ++i)
        line += static_cast<char>(
            random_.Below(5) == 0 ? '_' : 'a' + random_.Below(26));
      line += kPunctuation[random_.Below(8)];
    }
    return line;
  }

  // Lines ended by LF, about `size` bytes in all; every `hit_every`-th
  // line (0: none) ends with `insert`.
  std::string Text(std::size_t size, std::size_t hit_every = 0,
                   std::string_view insert = {}) {
    std::string text;
    for (std::size_t n = 1; text.size() < size; ++n) {
      text += Line();
      if (hit_every && n % hit_every == 0) text += insert;
      text += '\n';
    }
    return text;
  }

  Random& random() { return random_; }

 private:
  Random random_;
};

// Shift_JIS text: hiragana (0x82 0x9F..0xF1) with some ASCII between,
// and `hits` aligned occurrences of kFindSjis. Every 512 characters a
// katakana whose second byte is 0x82 is followed by "\xa0\x82\xa2", so
// kFindSjis also appears one byte off a character start: a false hit the
// matcher has to see through. `line_length` 0 makes it one line.
std::string SjisText(std::size_t size, std::size_t hits,
                     std::size_t line_length, std::uint64_t seed) {
  Random random(seed);
  std::string text;
  std::size_t hit_every = hits ? size / hits : 0;
  std::size_t next_hit = hit_every / 2, line_start = 0;
  for (std::size_t n = 0; text.size() < size; ++n) {
    if (hit_every && text.size() >= next_hit) {
      text += kFindSjis;
      next_hit += hit_every;
    } else if (n % 512 == 511) {
      text += "\x83\x82\xa0\x82\xa2";  // "モ", 0xA0, "い"
    } else if (random.Below(8) == 0) {
      text += static_cast<char>('a' + random.Below(26));
    } else {
      text += '\x82';
      // 0xA0 and 0xA2 are left out, so kFindSjis only occurs where
      // placed.
      unsigned char trail;
      do trail = static_cast<unsigned char>(0x9F + random.Below(0x53));
      while (trail == 0xA0 || trail == 0xA2);
      text += static_cast<char>(trail);
    }
    if (line_length && text.size() - line_start >= line_length) {
      text += '\n';
      line_start = text.size();
    }
  }
  return text;
}

std::size_t CountMemmem(std::string_view text, std::string_view find) {
  std::size_t count = 0;
  const char* at = text.data();
  const char* end = text.data() + text.size();
  while (const void* hit =
             memmem(at, static_cast<std::size_t>(end - at), find.data(),
                    find.size())) {
    ++count;
    at = static_cast<const char*>(hit) + find.size();
  }
  return count;
}

// The engine's replacement rule with a case's texts, as ReplaceText
// applies it.
class BenchEngine {
 public:
  BenchEngine(std::string_view find, std::string_view replace, int code_page)
      : find_(find), replace_(replace), code_page_(code_page) {}

  std::string ReplaceText(std::string text) const {
    return ReplaceAll(std::move(text), find_, replace_, code_page_);
  }

 private:
  const std::string find_;
  const std::string replace_;
  const CodePage code_page_;
};

// One input: the bytes (one string per call of the code under test), the
// texts, and how many occurrences the engine must find in all of it.
struct Case {
  explicit Case(std::string case_name) : name(std::move(case_name)) {}

  std::string name;
  std::vector<std::string> pieces;
  std::string_view find = kFind;
  std::string_view replace = kReplace;
  int code_page = 1252;
  std::size_t occurrences = 0;  // on character boundaries

  std::int64_t bytes() const {
    std::int64_t total = 0;
    for (const auto& piece : pieces) total += piece.size();
    return total;
  }
};

// The references: memmem over the same bytes, piece by piece, and memchr
// for a NUL byte, which none of the inputs holds.
void RunMemmem(benchmark::State& state, const Case& c) {
  for (auto _ : state) {
    std::size_t count = 0;
    for (const auto& piece : c.pieces) count += CountMemmem(piece, c.find);
    benchmark::DoNotOptimize(count);
  }
  state.SetBytesProcessed(state.iterations() * c.bytes());
}

void RunMemchr(benchmark::State& state, const Case& c) {
  for (const auto& piece : c.pieces) {
    if (memchr(piece.data(), '\0', piece.size())) {
      state.SkipWithError("the input holds a NUL byte");
      return;
    }
  }
  for (auto _ : state) {
    for (const auto& piece : c.pieces) {
      benchmark::DoNotOptimize(memchr(piece.data(), '\0', piece.size()));
    }
  }
  state.SetBytesProcessed(state.iterations() * c.bytes());
}

void RunReplaceText(benchmark::State& state, const Case& c) {
  BenchEngine engine(c.find, c.replace, c.code_page);
  std::int64_t expected = c.bytes() + static_cast<std::int64_t>(
                                          c.occurrences) *
                                          (static_cast<std::int64_t>(
                                               c.replace.size()) -
                                           static_cast<std::int64_t>(
                                               c.find.size()));
  std::int64_t got = 0;
  for (const auto& piece : c.pieces) got += engine.ReplaceText(piece).size();
  if (got != expected) {
    state.SkipWithError("ReplaceText replaced the wrong number of times");
    return;
  }
  for (auto _ : state) {
    for (const auto& piece : c.pieces) {
      std::string replaced = engine.ReplaceText(piece);
      benchmark::DoNotOptimize(replaced.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * c.bytes());
}

// The case's pieces as files, read where they are: each read copies, as
// read(2) would.
std::vector<MemoryReadableFile> FilesOf(const Case& c) {
  std::vector<MemoryReadableFile> files;
  files.reserve(c.pieces.size());
  for (const auto& piece : c.pieces)
    files.push_back(MemoryReadableFile::Borrowing(piece));
  return files;
}

// The scan every file goes through: one engine-sized buffer for the
// whole run, a matcher and a rewriter per file, as the engine does.
void RunFindsChange(benchmark::State& state, const Case& c) {
  const CodePage code_page(c.code_page);
  std::vector<char> buffer;
  std::vector<MemoryReadableFile> files = FilesOf(c);
  auto scan = [&](MemoryReadableFile* file, bool* found) {
    Matcher matcher(c.find, code_page);
    TextRewriter rewriter(matcher, c.replace, code_page, &buffer);
    return rewriter.FindsChange(file, found);
  };
  for (auto& file : files) {
    bool found = false;
    if (!scan(&file, &found).ok() || found != (c.occurrences > 0)) {
      state.SkipWithError("FindsChange gave the wrong answer");
      return;
    }
  }
  for (auto _ : state) {
    for (auto& file : files) {
      bool found = false;
      benchmark::DoNotOptimize(scan(&file, &found).ok());
      benchmark::DoNotOptimize(found);
    }
  }
  state.SetBytesProcessed(state.iterations() * c.bytes());
}

// The rewrite of a file that holds occurrences, into a file that only
// counts what it is given, with the change entries the log keeps.
void RunRewrite(benchmark::State& state, const Case& c) {
  const CodePage code_page(c.code_page);
  std::vector<char> buffer;
  std::vector<MemoryReadableFile> files = FilesOf(c);
  auto rewrite = [&](MemoryReadableFile* file, CountingSink* out,
                     ChangeList* changes) {
    Matcher matcher(c.find, code_page);
    TextRewriter rewriter(matcher, c.replace, code_page, &buffer);
    bool binary = false;
    Status status = rewriter.Rewrite(file, out, changes, &binary);
    return status.ok() && !binary;
  };
  std::int64_t expected =
      c.bytes() + static_cast<std::int64_t>(c.occurrences) *
                      (static_cast<std::int64_t>(c.replace.size()) -
                       static_cast<std::int64_t>(c.find.size()));
  CountingSink check;
  for (auto& file : files) {
    ChangeList changes;
    if (!rewrite(&file, &check, &changes)) {
      state.SkipWithError("Rewrite failed");
      return;
    }
  }
  if (static_cast<std::int64_t>(check.written()) != expected) {
    state.SkipWithError("Rewrite replaced the wrong number of times");
    return;
  }
  for (auto _ : state) {
    for (auto& file : files) {
      CountingSink out;
      ChangeList changes;
      benchmark::DoNotOptimize(rewrite(&file, &out, &changes));
      benchmark::DoNotOptimize(changes.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * c.bytes());
}

std::vector<Case> ReplaceTextCases() {
  std::vector<Case> cases;
  SourceMaker maker(1);

  // File names and short lines: one in 16 holds the text once.
  Case short_lines{"short_lines"};
  for (std::size_t n = 1; n <= 8192; ++n) {
    std::string line = maker.Line();
    if (n % 16 == 0) {
      line.insert(line.size() / 2, kFind);
      ++short_lines.occurrences;
    }
    short_lines.pieces.push_back(line);
  }
  cases.push_back(short_lines);

  // One 4 MiB line, an occurrence every 64 KiB.
  Case long_line{"long_line"};
  std::string line;
  while (line.size() < (4u << 20)) {
    line += maker.Line();
    if (line.size() / (64u << 10) > long_line.occurrences) {
      line += kFind;
      ++long_line.occurrences;
    }
  }
  long_line.pieces.push_back(line);
  cases.push_back(long_line);

  // 1 MiB where most of the bytes belong to occurrences.
  Case many{"many_occurrences"};
  line.clear();
  while (line.size() < (1u << 20)) {
    line += "\t";
    line += kFind;
    line += "(f);";
    ++many.occurrences;
  }
  many.pieces.push_back(line);
  cases.push_back(many);

  // 1 MiB of Shift_JIS on one line: 256 occurrences, and false hits one
  // byte off a character start every 1 KiB or so.
  Case sjis{"double_byte_932"};
  sjis.pieces.push_back(SjisText(1u << 20, 256, 0, 2));
  sjis.find = kFindSjis;
  sjis.replace = kReplaceSjis;
  sjis.code_page = 932;
  sjis.occurrences = 256;
  cases.push_back(sjis);
  return cases;
}

std::vector<Case> ScanCases() {
  std::vector<Case> cases;
  SourceMaker maker(3);
  // What most files of a source tree are: a few KiB, no occurrence. 64
  // files per iteration, so the per-file set-up is in the figure.
  Case small{"source_16k_x64"};
  for (int i = 0; i < 64; ++i) small.pieces.push_back(maker.Text(16 << 10));
  cases.push_back(small);

  Case large{"source_4m"};
  large.pieces.push_back(maker.Text(4 << 20));
  cases.push_back(large);

  // The find text's first bytes on every line, the whole text nowhere.
  Case near{"near_misses_1m"};
  near.pieces.push_back(maker.Text(1 << 20, 1, "EXPORT_SYMBOL(f);"));
  cases.push_back(near);

  // Shift_JIS lines where the find text only occurs one byte off a
  // character start.
  Case sjis{"double_byte_932_1m"};
  sjis.pieces.push_back(SjisText(1 << 20, 0, 80, 4));
  sjis.find = kFindSjis;
  sjis.replace = kReplaceSjis;
  sjis.code_page = 932;
  cases.push_back(sjis);
  return cases;
}

std::vector<Case> RewriteCases() {
  std::vector<Case> cases;
  SourceMaker maker(5);
  // A typical changed file: 16 KiB, 6 lines with the text.
  Case typical{"source_16k_6hits_x64"};
  for (int i = 0; i < 64; ++i) {
    std::string text = maker.Text(16 << 10, 50, kFind);
    typical.occurrences += CountMemmem(text, kFind);
    typical.pieces.push_back(text);
  }
  cases.push_back(typical);

  // Every line changes.
  Case every{"every_line_1m"};
  every.pieces.push_back(maker.Text(1 << 20, 1, kFind));
  every.occurrences = CountMemmem(every.pieces[0], kFind);
  cases.push_back(every);
  return cases;
}

// `cases` must outlive the run: the benchmarks refer to them.
void Register(const std::string& group, const std::vector<Case>& cases,
              void (*run)(benchmark::State&, const Case&)) {
  for (const Case& c : cases) {
    const Case* input = &c;
    benchmark::RegisterBenchmark(
        (group + "/" + c.name).c_str(),
        [run, input](benchmark::State& state) { run(state, *input); });
    benchmark::RegisterBenchmark(
        (group + "/" + c.name + "/memmem").c_str(),
        [input](benchmark::State& state) { RunMemmem(state, *input); });
    benchmark::RegisterBenchmark(
        (group + "/" + c.name + "/memchr").c_str(),
        [input](benchmark::State& state) { RunMemchr(state, *input); });
  }
}

}  // namespace
}  // namespace vs::bench

int main(int argc, char** argv) {
  using namespace vs::bench;
  const std::vector<Case> replace_text = ReplaceTextCases();
  const std::vector<Case> scan = ScanCases();
  const std::vector<Case> rewrite = RewriteCases();
  Register("ReplaceText", replace_text, RunReplaceText);
  Register("FindsChange", scan, RunFindsChange);
  Register("Rewrite", rewrite, RunRewrite);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
