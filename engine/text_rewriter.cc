#include "engine/text_rewriter.h"

#include <string.h>

#include <algorithm>

#include "engine/line_writer.h"

namespace vs {
namespace {

bool HoldsBinaryByte(const char* data, std::size_t length) {
  return memchr(data, '\0', length) || memchr(data, 0x1A, length);
}

}  // namespace

TextRewriter::TextRewriter(const Matcher& matcher, std::string_view replace,
                           const CodePage& code_page,
                           std::vector<char>* buffer,
                           std::size_t block_size)
    : m_matcher(matcher),
      m_replace(replace),
      m_codePage(code_page),
      m_buffer(buffer),
      m_blockSize(std::max<std::size_t>(block_size, 1)) {
  // Room for a whole block after the longest tail carried over.
  std::size_t needed = m_blockSize + matcher.length() + 1;
  if (m_buffer->size() < needed) m_buffer->resize(needed);
}

std::size_t TextRewriter::CountLines(std::size_t from, std::size_t to) {
  std::size_t lines = 0;
  for (const char* p = data() + from, *end = data() + to;
       (p = static_cast<const char*>(memchr(p, '\n', end - p))) != nullptr;
       ++p)
    ++lines;
  return lines;
}

Status TextRewriter::Fill(ReadableFile* file, std::size_t keep,
                          std::size_t* filled) {
  std::size_t got = 0;
  Status status = file->Read(data() + keep, m_blockSize, &got);
  *filled = keep + got;
  return status;
}

Status TextRewriter::FindsChange(ReadableFile* file, bool* found) {
  *found = false;
  // Replacing a text by itself changes no line.
  if (m_matcher.never_matches() || m_matcher.find() == m_replace)
    return Status::Ok();
  Status status = file->Rewind();
  const std::size_t find_length = m_matcher.length();
  // An occurrence that ends with a CR is no occurrence when that CR
  // belongs to a CR LF line end.
  const bool ends_with_cr = m_matcher.find().back() == '\r';
  std::size_t keep = 0, boundary = 0;
  while (status.ok()) {
    std::size_t n;
    status = Fill(file, keep, &n);
    if (!status.ok()) break;
    const bool at_end = n == keep;
    std::string_view window(data(), n);
    // Leave the last byte out of the search unless the text ends here, so
    // the byte after any hit is in view.
    std::string_view searched = window.substr(0, at_end ? n : n - 1);
    std::size_t from = 0;
    for (;;) {
      std::size_t hit = m_matcher.Find(searched, from, &boundary);
      if (hit == Matcher::npos) break;
      std::size_t after = hit + find_length;
      if (!(ends_with_cr && after < n && window[after] == '\n')) {
        *found = true;
        return Status::Ok();
      }
      from = hit + 1;
    }
    if (at_end) break;
    // Carry the tail that may hold the start of an occurrence.
    std::size_t carry_from = n > find_length ? n - find_length : 0;
    if (m_codePage.double_byte())
      m_matcher.AdvanceBoundary(window, carry_from, &boundary);
    memmove(data(), data() + carry_from, n - carry_from);
    keep = n - carry_from;
    boundary -= carry_from;
  }
  return status;
}

Status TextRewriter::IsBinary(ReadableFile* file, bool* binary) {
  *binary = false;
  Status status = file->Rewind();
  std::size_t n = 0;
  while (status.ok() && (status = Fill(file, 0, &n)).ok() && n > 0) {
    if (HoldsBinaryByte(data(), n)) {
      *binary = true;
      break;
    }
  }
  return status;
}

Status TextRewriter::Rewrite(ReadableFile* file, WritableFile* out,
                             ChangeList* changes, bool* binary) {
  *binary = false;
  Status status = file->Rewind();
  if (!status.ok()) return status;
  LineWriter writer(out, changes, m_codePage);
  const std::size_t find_length = m_matcher.length();
  const std::size_t reach = find_length ? find_length - 1 : 0;

  // Emits text[pos, limit) with every occurrence that starts before
  // `limit` replaced; an occurrence may end past `limit` but not past
  // the end of `text`. Returns where the emitted text ends.
  auto replace_up_to = [&](std::string_view text, std::size_t pos,
                           std::size_t limit, std::size_t* boundary) {
    for (;;) {
      std::size_t known = *boundary;
      std::size_t hit = m_matcher.Find(text, pos, boundary);
      if (hit == Matcher::npos || hit >= limit) {
        *boundary = known;  // what it learnt past `limit` is not kept
        break;
      }
      writer.Emit(text.data() + pos, hit - pos);
      writer.Emit(m_replace.data(), m_replace.size());
      if (m_matcher.find() != m_replace) writer.MarkChanged();
      // A find text may end with a lead byte, so the occurrence's end is no
      // sure character start; its start is.
      *boundary = hit;
      pos = hit + find_length;
    }
    std::size_t stop = std::max(pos, limit);
    writer.Emit(text.data() + pos, stop - pos);
    if (m_codePage.double_byte())
      m_matcher.AdvanceBoundary(text, stop, boundary);
    return stop;
  };

  std::size_t keep = 0, boundary = 0;
  bool at_line_start = true;
  for (;;) {
    std::size_t n;
    status = Fill(file, keep, &n);
    if (!status.ok()) return status;
    const bool at_end = n == keep;
    if (HoldsBinaryByte(data() + keep, n - keep)) {
      *binary = true;
      return Status::Ok();
    }
    std::string_view window(data(), n);
    std::size_t pos = 0;
    for (;;) {
      if (at_line_start) {
        // The whole lines before the next possible occurrence cannot
        // change: they go out as they are, all at once.
        std::size_t hit = m_matcher.Find(window, pos, &boundary);
        std::size_t stop = hit == Matcher::npos ? n : hit;
        const void* last_lf = memrchr(data() + pos, '\n', stop - pos);
        if (last_lf) {
          std::size_t end = static_cast<const char*>(last_lf) - data() + 1;
          writer.PassLines(data() + pos, end - pos, CountLines(pos, end));
          pos = end;
        }
        boundary = pos;  // a line start
      }
      const void* lf = memchr(data() + pos, '\n', n - pos);
      if (lf) {
        std::size_t lf_at = static_cast<const char*>(lf) - data();
        std::size_t text_end =
            lf_at > pos && window[lf_at - 1] == '\r' ? lf_at - 1 : lf_at;
        replace_up_to(window.substr(0, text_end), pos, text_end, &boundary);
        writer.EndLine(data() + text_end, lf_at + 1 - text_end);
        pos = boundary = lf_at + 1;
        at_line_start = true;
        continue;
      }
      if (at_end) {
        replace_up_to(window, pos, n, &boundary);
        writer.EndText();
        return writer.status();
      }
      // The line goes on in the next block. Emit what cannot belong to an
      // occurrence reaching into it, and carry the rest, keeping a last CR
      // back: it may be the start of a CR LF line end.
      std::size_t text_end = window[n - 1] == '\r' ? n - 1 : n;
      std::size_t limit = text_end - pos > reach ? text_end - reach : pos;
      std::size_t done =
          replace_up_to(window.substr(0, text_end), pos, limit, &boundary);
      memmove(data(), data() + done, n - done);
      keep = n - done;
      boundary -= done;
      at_line_start = false;
      break;
    }
    if (!writer.status().ok()) return writer.status();
  }
}

}  // namespace vs
