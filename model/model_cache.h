// The model's cache: every line's G_f for each parameter vector the model
// computed during one command, keyed by slots 1..8 of the vector, so that
// the minimiser's per-line requests and the derivative passes reuse them.
#pragma once

#include <cstddef>
#include <vector>

#include "lsq/lsq_types.h"

namespace lumora {

using TPreCalcDataArray = std::vector<double>;
struct TPrecalcRecord {
  ParameterVector pars;
  TPreCalcDataArray data;
};

class ModelCache {
 public:
  // The entry of b by its slots first..first+count-1 compared as values,
  // searching from the oldest; false and -1 when there is none.
  bool Find(const ParameterVector& b, int first, int count, int& index) const;
  // The entry of b by slots 1..8, or -1. Entries the model stored itself
  // are unique, so the newest (most likely asked for) is searched first.
  int FindComputed(const ParameterVector& b) const;
  // Appends an entry as given.
  void Store(const ParameterVector& b, TPreCalcDataArray data);
  // Appends the entry of a vector the model has just computed.
  const TPreCalcDataArray& StoreComputed(const ParameterVector& b, TPreCalcDataArray data);
  void Clear();
  // Empties the cache but for the entry of b (all 15 slots alike) when it is
  // the last one the model computed; true when it was kept.
  bool ClearKeeping(const ParameterVector& b);

  // An array for a new entry, reusing those of cleared entries.
  TPreCalcDataArray NewDataArray(size_t size);

  const std::vector<TPrecalcRecord>& Entries() const { return entries_; }

 private:
  std::vector<TPrecalcRecord> entries_;
  // Per computed entry: whether its key is ordinary (see OrdinaryKey).
  std::vector<bool> ordinaryKeys_;
  // Entries at the front that the model itself stored.
  size_t computedEntries_ = 0;
  // Data arrays of cleared entries, reused rather than allocated anew for
  // every grid point of a map.
  std::vector<TPreCalcDataArray> spareArrays_;
};

}  // namespace lumora
