#include "linedb/line_store.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace lumora {
namespace {

constexpr size_t kPoolBlockSize = 64 * 1024;

// The numbers and short codes, which a record and a stored line hold alike.
template <class From, class To>
void CopyInPlaceFields(const From& from, To& to) {
  to.Name = from.Name;
  to.Ion = from.Ion;
  to.WaveLength = from.WaveLength;
  to.RelIntensity = from.RelIntensity;
  to.Aki = from.Aki;
  to.fik = from.fik;
  to.S = from.S;
  to.log_gf = from.log_gf;
  to.Acc = from.Acc;
  to.Ei_eV = from.Ei_eV;
  to.Ek_eV = from.Ek_eV;
  to.Ji = from.Ji;
  to.Jk = from.Jk;
  to.gi = from.gi;
  to.gk = from.gk;
  to.Order = from.Order;
}

}  // namespace

// ---------------------------------------------------------------------------
// TextPool

TextPool::TextPool() = default;

// The copy adds the texts in the same order, so that they keep their numbers
// while its views point into its own blocks.
TextPool::TextPool(const TextPool& other) {
  for (std::string_view text : other.texts_) Intern(text);
}

TextPool& TextPool::operator=(const TextPool& other) {
  if (this != &other) *this = TextPool(other);
  return *this;
}

// Moving hands the blocks over whole, so that the views stay valid; the pool
// moved from is left empty.
TextPool::TextPool(TextPool&& other) noexcept
    : blocks_(std::move(other.blocks_)),
      blockNext_(std::exchange(other.blockNext_, nullptr)),
      blockFree_(std::exchange(other.blockFree_, 0)),
      texts_(std::move(other.texts_)),
      ids_(std::move(other.ids_)) {
  other.Clear();
}

TextPool& TextPool::operator=(TextPool&& other) noexcept {
  if (this != &other) {
    blocks_ = std::move(other.blocks_);
    blockNext_ = std::exchange(other.blockNext_, nullptr);
    blockFree_ = std::exchange(other.blockFree_, 0);
    texts_ = std::move(other.texts_);
    ids_ = std::move(other.ids_);
    other.Clear();
  }
  return *this;
}

TextPool::~TextPool() = default;

void TextPool::Clear() {
  blocks_.clear();
  blockNext_ = nullptr;
  blockFree_ = 0;
  texts_.clear();
  ids_.clear();
}

std::string_view TextPool::Keep(std::string_view text) {
  if (text.size() > blockFree_) {
    const size_t size = std::max(kPoolBlockSize, text.size());
    blocks_.push_back(std::make_unique<char[]>(size));
    blockNext_ = blocks_.back().get();
    blockFree_ = size;
  }
  char* at = blockNext_;
  std::memcpy(at, text.data(), text.size());
  blockNext_ += text.size();
  blockFree_ -= text.size();
  return std::string_view(at, text.size());
}

TextPool::Id TextPool::Intern(std::string_view text) {
  if (text.empty()) return 0;
  auto found = ids_.find(text);
  if (found != ids_.end()) return found->second;
  const std::string_view kept = Keep(text);
  texts_.push_back(kept);
  const Id id = static_cast<Id>(texts_.size());
  ids_.emplace(kept, id);
  return id;
}

// ---------------------------------------------------------------------------
// AtomLines

void AtomLines::clear() {
  lines_.clear();
  texts_.Clear();
}

StoredAtomLine AtomLines::Store(const TRecord& r) {
  StoredAtomLine line;
  CopyInPlaceFields(r, line);
  line.Confi = texts_.Intern(r.Confi.view());
  line.Confk = texts_.Intern(r.Confk.view());
  line.Confs = r.Confs == JoinedStates(r.Confi, r.Confk).view() ? StoredAtomLine::kJoined
                                                                : texts_.Intern(r.Confs.view());
  line.Termi = texts_.Intern(r.Termi.view());
  line.Termk = texts_.Intern(r.Termk.view());
  line.Terms = r.Terms == JoinedStates(r.Termi, r.Termk).view() ? StoredAtomLine::kJoined
                                                                : texts_.Intern(r.Terms.view());
  line.LineType = texts_.Intern(r.LineType.view());
  line.TPRefs = texts_.Intern(r.TPRefs.view());
  line.LineRefs = texts_.Intern(r.LineRefs.view());
  return line;
}

TRecord AtomLines::Record(const StoredAtomLine& line) const {
  TRecord r;
  CopyInPlaceFields(line, r);
  r.Confi = texts_.Text(line.Confi);
  r.Confk = texts_.Text(line.Confk);
  r.Confs = line.Confs == StoredAtomLine::kJoined ? JoinedStates(r.Confi, r.Confk).view()
                                                  : texts_.Text(line.Confs);
  r.Termi = texts_.Text(line.Termi);
  r.Termk = texts_.Text(line.Termk);
  r.Terms = line.Terms == StoredAtomLine::kJoined ? JoinedStates(r.Termi, r.Termk).view()
                                                  : texts_.Text(line.Terms);
  r.LineType = texts_.Text(line.LineType);
  r.TPRefs = texts_.Text(line.TPRefs);
  r.LineRefs = texts_.Text(line.LineRefs);
  return r;
}

}  // namespace lumora
