// The change entries of one file in the order they were made: its line
// entries in line order, then at most one name entry. May be empty.
//
// Used like a std::vector<std::string> that can only grow at its end.
// Entries are stored back to back in one buffer (a length, then the
// bytes). Given a SpillStore, a list tells it what it holds and, while
// the store is over its budget, moves its bytes to the store's file;
// iterating reads them back. Without one it is all in memory. A list
// given a store, and every copy of it, must not outlive the store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vs {

class SpillStore;

class ChangeList {
 public:
  class const_iterator;
  using iterator = const_iterator;
  using value_type = std::string;
  using size_type = std::size_t;

  ChangeList() = default;
  ChangeList(std::initializer_list<std::string_view> entries);
  explicit ChangeList(SpillStore* store);
  ChangeList(const ChangeList& other);
  ChangeList(ChangeList&& other) noexcept;
  ChangeList& operator=(const ChangeList& other);
  ChangeList& operator=(ChangeList&& other) noexcept;
  ~ChangeList();

  void push_back(std::string_view entry) {
    if (!body_) body_ = std::make_unique<Body>();
    if (body_->store) return PushBackHeld(entry);
    AppendLength(entry.size());
    body_->bytes.append(entry.data(), entry.size());
    ++body_->count;
  }
  // Appends [first, last); `at` must be end().
  template <class Iterator>
  const_iterator insert(const const_iterator& at, Iterator first,
                        Iterator last);
  void clear();

  std::size_t size() const { return body_ ? body_->count : 0; }
  // Entry `index` (< size()), and the last entry (of a list not empty):
  // each found by reading from the start.
  std::string operator[](std::size_t index) const;
  std::string back() const { return (*this)[size() - 1]; }
  bool empty() const { return size() == 0; }
  const_iterator begin() const;
  const_iterator end() const;
  // The entries still in memory, encoded (for benchmarks to keep alive).
  const char* data() const { return body_ ? body_->bytes.data() : ""; }

  // Shares `store` (if the list has none yet) and, while the store is
  // over its budget, moves every entry held in memory to its file. For
  // a list that is complete.
  void Settle(SpillStore* store);
  // Bytes held in memory.
  std::size_t memory_used() const {
    return body_ ? body_->bytes.capacity() : 0;
  }

  friend bool operator==(const ChangeList& a, const ChangeList& b);
  friend bool operator!=(const ChangeList& a, const ChangeList& b) {
    return !(a == b);
  }

 private:
  // A stretch of the store's file, holding whole entries.
  struct Extent {
    std::uint64_t offset;
    std::uint64_t length;
  };

  // Everything a list holds. An empty list, which most files walked
  // record, has none and is one pointer.
  struct Body {
    std::string bytes;  // entries after the spilled ones
    std::size_t count = 0;
    SpillStore* store = nullptr;
    std::size_t held = 0;         // bytes the store was told of
    std::vector<Extent> spilled;  // the first entries, in order
  };

  void AppendLength(std::size_t length) {
    // Seven bits a byte, low first; the high bit says more follow.
    while (length >= 0x80) {
      body_->bytes.push_back(static_cast<char>((length & 0x7F) | 0x80));
      length >>= 7;
    }
    body_->bytes.push_back(static_cast<char>(length));
  }
  // push_back of a list with a store: the bytes may spill before the
  // buffer grows, so that the old and the new buffer are never both held
  // over the budget.
  void PushBackHeld(std::string_view entry);
  std::size_t extents() const { return body_ ? body_->spilled.size() : 0; }
  // Spills the bytes held when there are enough of them and the store is
  // over its budget, or would be once the buffer grows.
  void BeforeGrowth();
  // Tells the store of a change of the memory held.
  void Hold();
  // Moves the bytes held to the store's file; keeps them when it cannot.
  void Spill();

  std::unique_ptr<Body> body_;
};

// Reads entries in turn; the entry in hand is kept in the iterator, so a
// reference to it holds until the iterator moves or goes.
class ChangeList::const_iterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = std::string;
  using difference_type = std::ptrdiff_t;
  using pointer = const std::string*;
  using reference = const std::string&;

  const_iterator() = default;
  const std::string& operator*() const { return entry_; }
  const std::string* operator->() const { return &entry_; }
  const_iterator& operator++() {
    ++index_;
    Load();
    return *this;
  }
  void operator++(int) { ++*this; }
  bool operator==(const const_iterator& other) const {
    return index_ == other.index_;
  }
  bool operator!=(const const_iterator& other) const {
    return index_ != other.index_;
  }

 private:
  friend class ChangeList;
  const_iterator(const ChangeList* list, std::size_t index)
      : list_(list), index_(index) {
    Load();
  }
  // Reads entry index_ into entry_, unless past the end.
  void Load();
  void LoadSpilled();
  // Makes [at, at + length) of the extent in hand readable in chunk_.
  const char* Spilled(std::uint64_t at, std::size_t length);

  const ChangeList* list_ = nullptr;
  std::size_t index_ = 0;
  std::string entry_;
  std::size_t extent_ = 0;       // in the spilled; past them: in bytes
  std::uint64_t position_ = 0;   // of the next entry, in its extent or bytes
  std::string chunk_;            // of the extent in hand, read back
  std::uint64_t chunk_start_ = 0;
};

template <class Iterator>
ChangeList::const_iterator ChangeList::insert(const const_iterator&,
                                              Iterator first, Iterator last) {
  for (; first != last; ++first) push_back(*first);
  return end();
}

}  // namespace vs
