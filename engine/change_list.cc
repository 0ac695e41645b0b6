#include "engine/change_list.h"

#include <algorithm>
#include <utility>

#include "engine/spill_store.h"

namespace vs {
namespace {

// A growing list spills no fewer bytes than this, so that its stretches
// of the file stay few; a finished list spills whatever it holds.
constexpr std::size_t kMinSpill = 64 * 1024;
// Bytes of a stretch read back at a time.
constexpr std::size_t kReadChunk = 64 * 1024;
// The most bytes a length takes, seven bits a byte.
constexpr std::size_t kMaxLengthBytes = 10;

}  // namespace

ChangeList::ChangeList(std::initializer_list<std::string_view> entries) {
  for (std::string_view entry : entries) push_back(entry);
}

ChangeList::ChangeList(SpillStore* store) {
  if (!store) return;
  body_ = std::make_unique<Body>();
  body_->store = store;
}

ChangeList::ChangeList(const ChangeList& other) {
  if (!other.body_) return;
  // What was spilled is never rewritten, so both lists may read it.
  body_ = std::make_unique<Body>(*other.body_);
  body_->held = 0;
  if (body_->store) Hold();
}

ChangeList::ChangeList(ChangeList&& other) noexcept
    : body_(std::move(other.body_)) {}

ChangeList& ChangeList::operator=(const ChangeList& other) {
  if (this != &other) *this = ChangeList(other);
  return *this;
}

ChangeList& ChangeList::operator=(ChangeList&& other) noexcept {
  if (this == &other) return *this;
  if (body_ && body_->store)
    body_->store->Hold(-static_cast<std::ptrdiff_t>(body_->held));
  body_ = std::move(other.body_);
  return *this;
}

ChangeList::~ChangeList() {
  if (body_ && body_->store)
    body_->store->Hold(-static_cast<std::ptrdiff_t>(body_->held));
}

void ChangeList::clear() {
  if (!body_) return;
  body_->bytes = std::string();
  body_->spilled = std::vector<Extent>();
  body_->count = 0;
  if (body_->store) Hold();
}

void ChangeList::PushBackHeld(std::string_view entry) {
  const std::string& bytes = body_->bytes;
  if (bytes.capacity() - bytes.size() < entry.size() + kMaxLengthBytes)
    BeforeGrowth();
  AppendLength(entry.size());
  body_->bytes.append(entry.data(), entry.size());
  ++body_->count;
  if (body_->bytes.capacity() != body_->held) Hold();
}

ChangeList::const_iterator ChangeList::begin() const {
  return const_iterator(this, 0);
}

ChangeList::const_iterator ChangeList::end() const {
  return const_iterator(this, size());
}

std::string ChangeList::operator[](std::size_t index) const {
  const_iterator it = begin();
  for (std::size_t i = 0; i < index; ++i) ++it;
  return *it;
}

bool operator==(const ChangeList& a, const ChangeList& b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  if (a.extents() == 0 && b.extents() == 0)
    return a.body_->bytes == b.body_->bytes;
  auto ai = a.begin(), bi = b.begin();
  for (; ai != a.end(); ++ai, ++bi)
    if (*ai != *bi) return false;
  return true;
}

void ChangeList::Settle(SpillStore* store) {
  if (!store) return;
  if (!body_) body_ = std::make_unique<Body>();
  if (!body_->store) {
    body_->store = store;
    Hold();
  }
  if (body_->store->OverBudget()) Spill();
}

void ChangeList::BeforeGrowth() {
  // Growing about doubles the buffer, while the old one is still held.
  const std::string& bytes = body_->bytes;
  if (bytes.size() >= kMinSpill && body_->store->OverBudget(bytes.capacity()))
    Spill();
}

void ChangeList::Hold() {
  const std::size_t now = body_->bytes.capacity();
  body_->store->Hold(static_cast<std::ptrdiff_t>(now) -
                     static_cast<std::ptrdiff_t>(body_->held));
  body_->held = now;
}

void ChangeList::Spill() {
  std::string& bytes = body_->bytes;
  if (bytes.empty()) return;
  std::uint64_t offset = 0;
  if (!body_->store->Write(bytes, &offset)) return;  // kept in memory
  body_->spilled.push_back(Extent{offset, bytes.size()});
  bytes = std::string();
  Hold();
}

void ChangeList::const_iterator::Load() {
  if (index_ >= list_->size()) return;
  if (extent_ < list_->extents()) return LoadSpilled();
  const std::string& bytes = list_->body_->bytes;
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const unsigned char byte = static_cast<unsigned char>(bytes[position_++]);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) break;
  }
  entry_.assign(bytes.data() + position_, length);
  position_ += length;
}

void ChangeList::const_iterator::LoadSpilled() {
  const Extent& extent = list_->body_->spilled[extent_];
  const std::size_t most = static_cast<std::size_t>(
      std::min<std::uint64_t>(kMaxLengthBytes, extent.length - position_));
  const char* at = Spilled(position_, most);
  std::size_t length = 0;
  std::size_t used = 0;
  for (int shift = 0;; shift += 7) {
    const unsigned char byte = static_cast<unsigned char>(at[used++]);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) break;
  }
  position_ += used;
  entry_.assign(Spilled(position_, length), length);
  position_ += length;
  if (position_ == extent.length) {  // on to the next stretch, or memory
    ++extent_;
    position_ = 0;
    chunk_.clear();
    chunk_start_ = 0;
  }
}

const char* ChangeList::const_iterator::Spilled(std::uint64_t at,
                                                std::size_t length) {
  if (at < chunk_start_ || at + length > chunk_start_ + chunk_.size()) {
    const Extent& extent = list_->body_->spilled[extent_];
    const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(
        std::max(kReadChunk, length), extent.length - at));
    chunk_.resize(size);
    list_->body_->store->Read(extent.offset + at, chunk_.data(), size);
    chunk_start_ = at;
  }
  return chunk_.data() + (at - chunk_start_);
}

}  // namespace vs
