#include "model/model_cache.h"

#include "model/extended_bits.h"

namespace lumora {

namespace {

constexpr size_t kMaxSpareArrays = 64;

bool SameKeyValues(const ModelParameters& a, const ModelParameters& b) {
  return a.log10N1 == b.log10N1 && a.second == b.second && a.gasTemperature == b.gasTemperature &&
         a.path == b.path && a.mass == b.mass && a.levelCount == b.levelCount &&
         a.distribution == b.distribution;
}

// An ordinary number (zero, denormal, normal or infinite), whose equal bits
// mean equal values; not so for a nan, nor for encodings the FPU does not
// support.
bool OrdinaryNumber(long double v) {
  const Bits80 bits = BitsOf(v);
  const int exponent = bits.signExponent & 0x7fff;
  const bool integerBit = (bits.mantissa >> 63) != 0;
  return exponent == 0x7fff ? bits.mantissa == (uint64_t{1} << 63) : exponent == 0 || integerBit;
}

// Every real key field ordinary, so that equal bits mean equal values.
bool OrdinaryKey(const ModelParameters& p) {
  return OrdinaryNumber(p.log10N1) && OrdinaryNumber(p.second) &&
         OrdinaryNumber(p.gasTemperature) && OrdinaryNumber(p.path) && OrdinaryNumber(p.mass);
}

}  // namespace

bool SameKeyBits(const ModelParameters& a, const ModelParameters& b) {
  return SameBits(a.log10N1, b.log10N1) && SameBits(a.second, b.second) &&
         SameBits(a.gasTemperature, b.gasTemperature) && SameBits(a.path, b.path) &&
         SameBits(a.mass, b.mass) && a.levelCount == b.levelCount &&
         a.distribution == b.distribution;
}

int ModelCache::FindComputed(const ModelParameters& p) const {
  for (size_t e = entries_.size(); e-- > 0;) {
    if (!SameKeyBits(entries_[e].key, p)) continue;
    if (entries_[e].ordinaryKey) return static_cast<int>(e);
    break;
  }
  // Equal values in other bits (0 and -0), and nans, by comparing the values.
  for (size_t e = entries_.size(); e-- > 0;)
    if (SameKeyValues(entries_[e].key, p)) return static_cast<int>(e);
  return -1;
}

const TPreCalcDataArray& ModelCache::StoreComputed(const ModelParameters& p,
                                                   TPreCalcDataArray data) {
  entries_.push_back(Entry{p, OrdinaryKey(p), std::move(data)});
  return entries_.back().data;
}

TPreCalcDataArray ModelCache::NewDataArray(size_t size) {
  if (spareArrays_.empty()) return TPreCalcDataArray(size);
  TPreCalcDataArray data = std::move(spareArrays_.back());
  spareArrays_.pop_back();
  data.resize(size);
  return data;
}

bool ModelCache::ClearKeeping(const ModelParameters& p) {
  const bool keep =
      !entries_.empty() && entries_.back().ordinaryKey && SameKeyBits(entries_.back().key, p);
  if (!keep) {
    Clear();
    return false;
  }
  Entry last = std::move(entries_.back());
  entries_.pop_back();
  Clear();
  entries_.push_back(std::move(last));
  return true;
}

void ModelCache::Clear() {
  for (Entry& entry : entries_)
    if (spareArrays_.size() < kMaxSpareArrays) spareArrays_.push_back(std::move(entry.data));
  entries_.clear();
}

}  // namespace lumora
