#include "model/model_cache.h"

#include "model/extended_bits.h"

namespace lumora {

namespace {

constexpr int kKeySlots = 8;  // the cache compares slots 1..8
constexpr size_t kMaxSpareArrays = 64;

bool SameKeyBits(const ParameterVector& a, const ParameterVector& b) {
  for (int i = 1; i <= kKeySlots; ++i)
    if (!SameBits(a.v[i], b.v[i])) return false;
  return true;
}

// Every key slot an ordinary number (zero, denormal, normal or infinite), so
// that equal bits mean equal values; not so for a nan, nor for encodings the
// FPU does not support.
bool OrdinaryKey(const ParameterVector& b) {
  for (int i = 1; i <= kKeySlots; ++i) {
    const Bits80 bits = BitsOf(b.v[i]);
    const int exponent = bits.signExponent & 0x7fff;
    const bool integerBit = (bits.mantissa >> 63) != 0;
    if (exponent == 0x7fff ? bits.mantissa != (uint64_t{1} << 63) : exponent != 0 && !integerBit)
      return false;
  }
  return true;
}

}  // namespace

bool ModelCache::Find(const ParameterVector& b, int first, int count, int& index) const {
  index = -1;
  for (size_t e = 0; e < entries_.size(); ++e) {
    const ParameterVector& pars = entries_[e].pars;
    bool same = true;
    for (int p = first; p < first + count && same; ++p) same = pars[p] == b[p];
    if (same) {
      index = static_cast<int>(e);
      return true;
    }
  }
  return false;
}

int ModelCache::FindComputed(const ParameterVector& b) const {
  int index = -1;
  // When the cache was filled from elsewhere it is searched as Find does.
  if (computedEntries_ != entries_.size()) {
    Find(b, 1, kKeySlots, index);
    return index;
  }
  for (size_t e = entries_.size(); e-- > 0;) {
    if (!SameKeyBits(entries_[e].pars, b)) continue;
    if (ordinaryKeys_[e]) return static_cast<int>(e);
    break;
  }
  // Equal values in other bits (0 and -0), and nans, by comparing the values.
  const long double* key = b.v;
  for (size_t e = entries_.size(); e-- > 0;) {
    const long double* pars = entries_[e].pars.v;
    if (pars[1] == key[1] && pars[2] == key[2] && pars[3] == key[3] && pars[4] == key[4] &&
        pars[5] == key[5] && pars[6] == key[6] && pars[7] == key[7] && pars[8] == key[8])
      return static_cast<int>(e);
  }
  return -1;
}

void ModelCache::Store(const ParameterVector& b, TPreCalcDataArray data) {
  entries_.push_back(TPrecalcRecord{b, std::move(data)});
}

const TPreCalcDataArray& ModelCache::StoreComputed(const ParameterVector& b,
                                                   TPreCalcDataArray data) {
  const bool unique = computedEntries_ == entries_.size();
  Store(b, std::move(data));
  if (unique) {
    computedEntries_ = entries_.size();
    ordinaryKeys_.resize(computedEntries_);
    ordinaryKeys_.back() = OrdinaryKey(b);
  }
  return entries_.back().data;
}

TPreCalcDataArray ModelCache::NewDataArray(size_t size) {
  if (spareArrays_.empty()) return TPreCalcDataArray(size);
  TPreCalcDataArray data = std::move(spareArrays_.back());
  spareArrays_.pop_back();
  data.resize(size);
  return data;
}

bool ModelCache::ClearKeeping(const ParameterVector& b) {
  bool keep = !entries_.empty() && computedEntries_ == entries_.size() && ordinaryKeys_.back();
  for (int i = 1; keep && i <= ParameterVector::kSize; ++i)
    keep = SameBits(entries_.back().pars.v[i], b.v[i]);
  if (!keep) {
    Clear();
    return false;
  }
  TPrecalcRecord last = std::move(entries_.back());
  entries_.pop_back();
  Clear();
  entries_.push_back(std::move(last));
  computedEntries_ = 1;
  ordinaryKeys_.assign(1, true);
  return true;
}

void ModelCache::Clear() {
  for (TPrecalcRecord& entry : entries_)
    if (spareArrays_.size() < kMaxSpareArrays) spareArrays_.push_back(std::move(entry.data));
  entries_.clear();
  computedEntries_ = 0;
  ordinaryKeys_.clear();
}

}  // namespace lumora
