// The atomic lines of a line base in a compact form: each line's numbers and
// short codes in place, its longer texts as numbers into one pool of distinct
// texts. A line record carries some 300 bytes of fixed-width text, mostly
// blank, while configurations, terms and references recur from line to line.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "linedb/line_file.h"

namespace lumora {

// Distinct texts, each kept once under a number; 0 is the empty text.
class TextPool {
 public:
  using Id = uint32_t;

  TextPool();
  TextPool(const TextPool& other);
  TextPool& operator=(const TextPool& other);
  TextPool(TextPool&& other) noexcept;
  TextPool& operator=(TextPool&& other) noexcept;
  ~TextPool();

  // The number of `text`, which is added when it is new.
  Id Intern(std::string_view text);
  std::string_view Text(Id id) const { return id == 0 ? std::string_view() : texts_[id - 1]; }
  // Forgets every text.
  void Clear();

 private:
  std::string_view Keep(std::string_view text);

  // The characters live in blocks that never move, so that the views the
  // texts and the index hold stay valid while the pool grows.
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* blockNext_ = nullptr;
  size_t blockFree_ = 0;
  std::vector<std::string_view> texts_;  // text n at n - 1
  std::unordered_map<std::string_view, Id> ids_;
};

// One atomic line as the base holds it (the fields of TRecord).
struct StoredAtomLine {
  // Confs or Terms that are the lower and upper states joined, as the line
  // files give them: formed again when the record is made.
  static constexpr TextPool::Id kJoined = UINT32_MAX;

  double WaveLength = 0;
  double RelIntensity = 0;
  double Aki = 0;
  double fik = 0;
  double S = 0;
  double log_gf = 0;
  double Ei_eV = 0;
  double Ek_eV = 0;
  double Ji = 0;
  double Jk = 0;
  int32_t gi = 0;
  int32_t gk = 0;
  int32_t Order = 0;
  String2 Name;
  String4 Ion;
  String4 Acc;
  TextPool::Id Confi = 0;
  TextPool::Id Confk = 0;
  TextPool::Id Confs = 0;
  TextPool::Id Termi = 0;
  TextPool::Id Termk = 0;
  TextPool::Id Terms = 0;
  TextPool::Id LineType = 0;
  TextPool::Id TPRefs = 0;
  TextPool::Id LineRefs = 0;
};

// The atomic lines of a base with the pool of their texts; a vector of
// lines to the code that sorts and searches them.
class AtomLines {
 public:
  using value_type = StoredAtomLine;
  using iterator = std::vector<StoredAtomLine>::iterator;
  using const_iterator = std::vector<StoredAtomLine>::const_iterator;

  size_t size() const { return lines_.size(); }
  void resize(size_t n) { lines_.resize(n); }
  void reserve(size_t n) { lines_.reserve(n); }
  // Forgets the lines and their texts.
  void clear();
  void push_back(const StoredAtomLine& line) { lines_.push_back(line); }
  StoredAtomLine& operator[](size_t i) { return lines_[i]; }
  const StoredAtomLine& operator[](size_t i) const { return lines_[i]; }
  iterator begin() { return lines_.begin(); }
  iterator end() { return lines_.end(); }
  const_iterator begin() const { return lines_.begin(); }
  const_iterator end() const { return lines_.end(); }

  // The line of a record, its texts added to the pool; valid in this array.
  StoredAtomLine Store(const TRecord& r);
  // The record of a line of this array.
  TRecord Record(const StoredAtomLine& line) const;

 private:
  std::vector<StoredAtomLine> lines_;
  TextPool texts_;
};

}  // namespace lumora
