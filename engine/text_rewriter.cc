#include "engine/text_rewriter.h"

#include <string.h>

#include <algorithm>
#include <optional>

#include "engine/block_scanner.h"
#include "engine/line_bytes.h"
#include "engine/line_writer.h"

namespace vs {
namespace {

// Whether the scanner's window holds an occurrence that changes a line.
// The window's last byte is left out of the search unless the file ends
// there, so the byte after any occurrence is in view: an occurrence that
// ends with a CR is no occurrence when that CR belongs to a CR LF line end.
bool WindowHoldsChange(const Matcher& matcher, BlockScanner* scanner) {
  const std::string_view window = scanner->window();
  const std::size_t end = scanner->at_end() ? window.size() : window.size() - 1;
  const bool ends_with_cr = matcher.find().back() == '\r';
  for (std::size_t from = 0;;) {
    std::size_t hit = scanner->Find(from, end);
    if (hit == Matcher::npos) return false;
    std::size_t after = hit + matcher.length();
    if (!ends_with_cr || after == window.size() || window[after] != '\n')
      return true;
    from = hit + 1;
  }
}

// One rewrite of a file's text, a window of the scanner at a time: the
// lines that end in the window, then the line that goes on past its end,
// as far as no occurrence can reach into the next block.
class WindowRewriter {
 public:
  WindowRewriter(const Matcher& matcher, std::string_view replace,
                 BlockScanner* scanner, LineWriter* writer)
      : scanner_(scanner),
        writer_(writer),
        replace_(replace),
        find_length_(matcher.length()),
        changes_line_(matcher.find() != replace) {}

  // Rewrites the scanner's window; returns true at the end of the file,
  // which the window then holds all of.
  bool RewriteWindow();

 private:
  std::size_t PassLines(std::size_t pos);
  std::size_t RewriteLine(std::size_t pos, std::size_t lf_at);
  void RewriteLineStart(std::size_t pos);
  std::size_t ReplaceUpTo(std::size_t pos, std::size_t limit, std::size_t end);

  const char* data() const { return scanner_->window().data(); }

  BlockScanner* const scanner_;
  LineWriter* const writer_;
  const std::string_view replace_;
  const std::size_t find_length_;
  const bool changes_line_;  // whether an occurrence changes its line
  bool at_line_start_ = true;
};

bool WindowRewriter::RewriteWindow() {
  const std::size_t size = scanner_->window().size();
  std::size_t pos = 0;
  for (;;) {
    if (at_line_start_) pos = PassLines(pos);
    const void* lf = memchr(data() + pos, '\n', size - pos);
    if (!lf) break;
    pos = RewriteLine(pos, static_cast<const char*>(lf) - data());
  }
  if (!scanner_->at_end()) {
    RewriteLineStart(pos);
    return false;
  }
  ReplaceUpTo(pos, size, size);
  writer_->EndText();
  return true;
}

// Writes the whole lines from `pos` on before the next possible
// occurrence as they are, all at once: they cannot change. Returns where
// the line in hand starts.
std::size_t WindowRewriter::PassLines(std::size_t pos) {
  const std::size_t size = scanner_->window().size();
  std::size_t hit = scanner_->Find(pos, size);
  std::size_t stop = hit == Matcher::npos ? size : hit;
  const void* last_lf = memrchr(data() + pos, '\n', stop - pos);
  if (last_lf) {
    std::size_t end = static_cast<const char*>(last_lf) - data() + 1;
    std::string_view lines(data() + pos, end - pos);
    writer_->PassLines(lines.data(), lines.size(), CountLines(lines));
    pos = end;
  }
  scanner_->MarkCharacterStart(pos);
  return pos;
}

// Rewrites the line in hand from `pos` to its line feed at `lf_at`.
// Returns where the next line starts.
std::size_t WindowRewriter::RewriteLine(std::size_t pos, std::size_t lf_at) {
  std::size_t text_end =
      lf_at > pos && data()[lf_at - 1] == '\r' ? lf_at - 1 : lf_at;
  ReplaceUpTo(pos, text_end, text_end);
  writer_->EndLine(data() + text_end, lf_at + 1 - text_end);
  scanner_->MarkCharacterStart(lf_at + 1);
  at_line_start_ = true;
  return lf_at + 1;
}

// The line in hand goes on in the next block. Rewrites what cannot belong
// to an occurrence reaching into it, and carries the rest, keeping a last
// CR back: it may be the start of a CR LF line end.
void WindowRewriter::RewriteLineStart(std::size_t pos) {
  const std::size_t size = scanner_->window().size();
  std::size_t text_end = data()[size - 1] == '\r' ? size - 1 : size;
  std::size_t reach = find_length_ ? find_length_ - 1 : 0;
  std::size_t limit = text_end - pos > reach ? text_end - reach : pos;
  scanner_->Carry(ReplaceUpTo(pos, limit, text_end));
  at_line_start_ = false;
}

// Writes window[pos, limit) with every occurrence that starts before
// `limit` replaced; an occurrence may end past `limit` but not past `end`.
// Returns where the written text ends.
std::size_t WindowRewriter::ReplaceUpTo(std::size_t pos, std::size_t limit,
                                        std::size_t end) {
  const std::size_t start = pos;
  for (std::size_t hit;
       (hit = scanner_->FindBefore(pos, limit, end)) != Matcher::npos;
       pos = hit + find_length_) {
    writer_->Emit(data() + pos, hit - pos);
    writer_->Emit(replace_.data(), replace_.size());
    if (changes_line_) writer_->MarkChanged();
  }
  std::size_t stop = std::max(pos, limit);
  writer_->Emit(data() + pos, stop - pos);
  writer_->Consumed(data() + start, stop - start);
  return stop;
}

}  // namespace

TextRewriter::TextRewriter(const Matcher& matcher, std::string_view replace,
                           const CodePage& code_page, std::vector<char>* buffer,
                           std::size_t block_size)
    : matcher_(matcher),
      replace_(replace),
      code_page_(code_page),
      buffer_(buffer),
      block_size_(block_size) {}

Status TextRewriter::FindsChange(ReadableFile* file, bool* found) {
  *found = false;
  // Replacing a text by itself changes no line.
  if (matcher_.never_matches() || matcher_.find() == replace_)
    return Status::Ok();
  BlockScanner scanner(matcher_, code_page_, buffer_, block_size_);
  Status status = scanner.Start(file);
  while (status.ok() && (status = scanner.Read()).ok()) {
    if (WindowHoldsChange(matcher_, &scanner)) {
      *found = true;
      break;
    }
    if (scanner.at_end()) break;
    // Carry the tail that may hold the start of an occurrence.
    std::size_t size = scanner.window().size();
    scanner.Carry(size > matcher_.length() ? size - matcher_.length() : 0);
  }
  return status;
}

Status TextRewriter::IsBinary(ReadableFile* file, bool* binary) {
  *binary = false;
  BlockScanner scanner(matcher_, code_page_, buffer_, block_size_);
  Status status = scanner.Start(file);
  while (status.ok() && (status = scanner.Read()).ok() && !scanner.at_end()) {
    if (HoldsBinaryByte(scanner.fresh())) {
      *binary = true;
      break;
    }
  }
  return status;
}

Status TextRewriter::Rewrite(ReadableFile* file, WritableFile* out,
                             ChangeList* changes, bool* binary,
                             ChangeList* line_texts) {
  *binary = false;
  BlockScanner scanner(matcher_, code_page_, buffer_, block_size_);
  std::optional<LineTextKeeper> keeper;
  if (line_texts) keeper.emplace(line_texts);
  LineWriter writer(out, changes, code_page_, keeper ? &*keeper : nullptr);
  WindowRewriter rewriter(matcher_, replace_, &scanner, &writer);
  Status status = scanner.Start(file);
  while (status.ok() && (status = scanner.Read()).ok()) {
    if (HoldsBinaryByte(scanner.fresh())) {
      *binary = true;
      break;
    }
    bool done = rewriter.RewriteWindow();
    if (done || !writer.status().ok()) return writer.status();
  }
  return status;
}

}  // namespace vs
