// The model's cache: every line's G_f for each set of model parameters the
// model computed during one command, keyed by the parameters, so that the
// minimiser's per-line requests and the derivative passes reuse them.
#pragma once

#include <cstddef>
#include <vector>

#include "model/model_parameters.h"

namespace lumora {

using TPreCalcDataArray = std::vector<double>;

// Whether two parameter sets hold the same bits in every field.
bool SameKeyBits(const ModelParameters& a, const ModelParameters& b);

class ModelCache {
 public:
  // The entry of p, or -1. Entries are unique, so the newest (most likely
  // asked for) is searched first.
  int FindComputed(const ModelParameters& p) const;
  // Appends the entry of parameters the model has just computed.
  const TPreCalcDataArray& StoreComputed(const ModelParameters& p, TPreCalcDataArray data);
  void Clear();
  // Empties the cache but for the entry of p (every field with the same
  // bits) when it is the last one the model computed; true when it was kept.
  bool ClearKeeping(const ModelParameters& p);

  // An array for a new entry, reusing those of cleared entries.
  TPreCalcDataArray NewDataArray(size_t size);

  size_t Size() const { return entries_.size(); }
  const TPreCalcDataArray& Data(size_t entry) const { return entries_[entry].data; }
  const ModelParameters& Key(size_t entry) const { return entries_[entry].key; }

 private:
  struct Entry {
    ModelParameters key;
    bool ordinaryKey = true;  // see OrdinaryKey
    TPreCalcDataArray data;
  };
  std::vector<Entry> entries_;
  // Data arrays of cleared entries, reused rather than allocated anew for
  // every grid point of a map.
  std::vector<TPreCalcDataArray> spareArrays_;
};

}  // namespace lumora
