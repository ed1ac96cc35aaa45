#include "linedb/line_base.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>

#include "base/checked.h"

namespace lumora {

// One of the two line arrays of the base with its bookkeeping.
template <class Lines>
struct RecordArray {
  Lines& records;
  int32_t& last;
  int32_t savedLength;
  bool& hasSecond;
  bool& hasThird;
  bool& sorted;
};

namespace {

const char* const kLowLimits = "Low limits";
const char* const kNoData = "No data in database for the requested wavelength";

// Wavelength bounds of the lines that get higher-order copies on a load.
constexpr double kOrdersFromWl = 180;
constexpr double kOrdersToWl = 700;
// A current wavelength at or above this never wins the merge.
constexpr double kMergeCeiling = 1e15;

bool SameNamesIgnoringCase(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](const std::string& x, const std::string& y) {
                      return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                                        [&](char p, char q) { return lower(p) == lower(q); });
                    });
}

// The atomic lines are held compactly, the molecular ones as their records.
StoredAtomLine Stored(AtomLines& a, const TRecord& r) { return a.Store(r); }
TRecord RecordOf(const AtomLines& a, const StoredAtomLine& line) { return a.Record(line); }
const TMolRecord& Stored(std::vector<TMolRecord>&, const TMolRecord& r) { return r; }
TMolRecord RecordOf(const std::vector<TMolRecord>&, const TMolRecord& line) { return line; }

template <class Lines>
void ResizeRecords(Lines& a, int32_t& last, int32_t length) {
  if (length < 0) throw RangeError();
  a.resize(static_cast<size_t>(length));
  // Records cut off are no longer in use.
  if (last >= length) last = length - 1;
}

template <class Lines>
void AppendLine(Lines& a, int32_t& last, const typename Lines::value_type& line) {
  if (last == std::numeric_limits<int32_t>::max()) throw IntOverflowError();
  ++last;
  if (static_cast<int64_t>(a.size()) > last)
    a[last] = line;
  else
    a.push_back(line);
}

template <class Lines, class Rec>
void AppendRecord(Lines& a, int32_t& last, const Rec& r) {
  AppendLine(a, last, Stored(a, r));
}

template <class Lines>
auto RecordAt(const Lines& a, int32_t index) {
  if (index < 0) throw TxtError(kLowLimits);
  if (index >= static_cast<int64_t>(a.size())) throw TxtError(kNoData);
  return RecordOf(a, a[index]);
}

// Stable ascending sort of the records in use by wavelength; a wavelength
// that is not a number sorts last, so the order stays well defined.
template <class Lines>
void SortByWaveLength(Lines& a, int32_t last) {
  if (last < 1) return;
  using Line = typename Lines::value_type;
  auto before = [](const Line& x, const Line& y) {
    if (std::isnan(x.WaveLength)) return false;
    return std::isnan(y.WaveLength) || x.WaveLength < y.WaveLength;
  };
  auto end = a.begin() + last + 1;
  if (std::is_sorted(a.begin(), end, before)) return;
  std::stable_sort(a.begin(), end, before);
}

// Appends copies of the first-order lines in [stWl, enWl] at twice and
// three times their wavelength; copies made here are not visited again.
template <class Lines>
void AppendOrderCopies(Lines& a, int32_t& last, double stWl, double enWl, bool second, bool third) {
  const int32_t loaded = last;
  for (int32_t i = 0; i <= loaded; ++i) {
    const typename Lines::value_type r = a[i];  // a copy: appending may move the array
    if (r.Order != 1 || r.WaveLength < stWl || r.WaveLength > enWl) continue;
    for (int32_t order = 2; order <= 3; ++order) {
      if ((order == 2 && !second) || (order == 3 && !third)) continue;
      auto copy = r;
      copy.Order = order;
      copy.WaveLength = fp::ToDouble(static_cast<long double>(order) * r.WaveLength);
      AppendLine(a, last, copy);
    }
  }
}

// The first record from `from` on (the last record at most) whose
// wavelength is not below wl. A sorted array is searched by halving; one
// that records were added to since its sort is scanned.
template <class Lines>
int32_t FindNearest(const Lines& a, int32_t last, bool sorted, double wl, int32_t from,
                    TFoundFlag& flag) {
  if (from < 0) throw TextBaseError(kLowLimits);
  if (from > last) throw TextBaseError(kNoData);
  int32_t p = from;
  if (sorted)
    p = static_cast<int32_t>(
        std::partition_point(a.begin() + from, a.begin() + last,
                             [wl](const auto& r) { return r.WaveLength < wl; }) -
        a.begin());
  else
    while (p < last && a[p].WaveLength < wl) ++p;
  // On equal distances the upper line stays.
  if (p > 0 && std::fabs(wl - a[p - 1].WaveLength) < std::fabs(wl - a[p].WaveLength)) --p;
  const double found = a[p].WaveLength;
  flag = found == wl ? TFoundFlag::ffSame : (found > wl ? TFoundFlag::ffNext : TFoundFlag::ffPrior);
  return p;
}

// Merges the records of files that are each in ascending order: the file
// with the smallest current wavelength goes first, ties to the earlier file.
// Each file ends at its first invalid line.
template <class File, class Rec, class AddFn>
void MergeFiles(std::vector<std::unique_ptr<File>>& files, AddFn add) {
  const size_t n = files.size();
  std::vector<Rec> current(n);
  std::vector<bool> done(n);
  auto refill = [&](size_t i) {
    done[i] = !files[i]->GetRecord(current[i]);
    if (done[i]) current[i].WaveLength = std::numeric_limits<double>::infinity();
  };
  for (size_t i = 0; i < n; ++i) refill(i);
  for (;;) {
    double best = kMergeCeiling;
    size_t k = n;
    for (size_t i = 0; i < n; ++i) {
      if (!done[i] && current[i].WaveLength < best) {
        best = current[i].WaveLength;
        k = i;
      }
    }
    if (k == n) break;
    add(current[k]);
    refill(k);
  }
}

// Opens every file that exists and can be read, in the order of the names;
// the others are skipped without a message.
template <class File>
std::vector<std::unique_ptr<File>> OpenLineFiles(const std::vector<std::string>& paths) {
  std::vector<std::unique_ptr<File>> files;
  for (const std::string& p : paths) {
    try {
      auto f = std::make_unique<File>(p);
      f->OpenRead();
      files.push_back(std::move(f));
    } catch (const std::bad_alloc&) {
      throw;  // a file that memory ran out for is not a missing one
    } catch (const std::exception&) {
    }
  }
  return files;
}

template <class File>
void CloseLineFiles(std::vector<std::unique_ptr<File>>& files) {
  for (auto& f : files) {
    try {
      f->Close();
    } catch (const std::exception&) {
    }
  }
  files.clear();
}

template <class Lines>
void ClearRecords(RecordArray<Lines> arr) {
  arr.records.clear();
  arr.records.resize(static_cast<size_t>(arr.savedLength));
  arr.last = -1;
  arr.hasSecond = arr.hasThird = false;
  arr.sorted = true;
}

std::vector<std::string> LineFilePaths(const std::string& path, const std::string& prefix,
                                       const std::vector<std::string>& names,
                                       const std::vector<std::string>& ions) {
  std::vector<std::string> paths;
  for (const std::string& name : names)
    for (const std::string& ion : ions)
      paths.push_back(path + "/" + prefix + name + "_" + ion + ".txt");
  return paths;
}

// Room for the lines of the files, judged from their sizes: a large base
// then fills its array once instead of moving it as it grows. Lines in the
// files' layout are longer than this; what is not filled is never touched.
template <class File>
size_t ExpectedLines(const std::vector<std::unique_ptr<File>>& files) {
  constexpr uintmax_t kShortLineBytes = 160;
  uintmax_t bytes = 0;
  for (const auto& f : files) {
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(f->FileName(), ec);
    if (!ec) bytes += size;
  }
  return static_cast<size_t>(
      std::min<uintmax_t>(bytes / kShortLineBytes, std::numeric_limits<int32_t>::max()));
}

// Empties the array and fills it from the line files path/prefix+name_ion.txt
// that open; the array is cut to the records loaded.
template <class File, class Rec, class Lines>
void ReloadRecords(RecordArray<Lines> arr, const std::string& path, const std::string& prefix,
                   const std::vector<std::string>& names, const std::vector<std::string>& ions) {
  ClearRecords(arr);
  auto files = OpenLineFiles<File>(LineFilePaths(path, prefix, names, ions));
  arr.records.reserve(std::max(arr.records.size(), ExpectedLines(files)));
  // The merge keeps each file's order, which need not be ascending.
  arr.sorted = false;
  MergeFiles<File, Rec>(files, [&](const Rec& r) { AppendRecord(arr.records, arr.last, r); });
  ResizeRecords(arr.records, arr.last, arr.last + 1);
  CloseLineFiles(files);
}

}  // namespace

RecordArray<AtomLines> TTextBase::AtomArray() {
  return {AtomA, fLastAtom, SavedAtomLength, fAtomHasSecond, fAtomHasThird, fAtomSorted};
}

RecordArray<std::vector<TMolRecord>> TTextBase::MolArray() {
  return {MolA, fLastMol, SavedMolLength, fMolHasSecond, fMolHasThird, fMolSorted};
}

TTextBase::TTextBase(int32_t iAtomLength, int32_t iMolLength)
    : SavedAtomLength(iAtomLength), SavedMolLength(iMolLength) {
  if (iAtomLength < 0 || iMolLength < 0) throw RangeError();
  AtomA.resize(static_cast<size_t>(iAtomLength));
  MolA.resize(static_cast<size_t>(iMolLength));
}

void TTextBase::SetAtomLength(int32_t length) { ResizeRecords(AtomA, fLastAtom, length); }

void TTextBase::SetMolLength(int32_t length) { ResizeRecords(MolA, fLastMol, length); }

TRecord TTextBase::GetAtomRecord(int32_t index) const { return RecordAt(AtomA, index); }

TMolRecord TTextBase::GetMolRecord(int32_t index) const { return RecordAt(MolA, index); }

TRecord TTextBase::AtomFind(double wl, int32_t from, int32_t& position, TFoundFlag& flag) const {
  position = FindNearest(AtomA, fLastAtom, fAtomSorted, wl, from, flag);
  return AtomA.Record(AtomA[position]);
}

TMolRecord TTextBase::MolFind(double wl, int32_t from, int32_t& position, TFoundFlag& flag) const {
  position = FindNearest(MolA, fLastMol, fMolSorted, wl, from, flag);
  return MolA[position];
}

void TTextBase::Add(const TRecord& r) {
  AppendRecord(AtomA, fLastAtom, r);
  fAtomSorted = false;
}

void TTextBase::Add(const TMolRecord& r) {
  AppendRecord(MolA, fLastMol, r);
  fMolSorted = false;
}

void TTextBase::AtomClear() { ClearRecords(AtomArray()); }

void TTextBase::MolClear() { ClearRecords(MolArray()); }

void TTextBase::AtomSort() {
  SortByWaveLength(AtomA, fLastAtom);
  fAtomSorted = true;
}

void TTextBase::MolSort() {
  SortByWaveLength(MolA, fLastMol);
  fMolSorted = true;
}

void TTextBase::AddAtomSpectralOrders(double stWl, double enWl, bool second, bool third) {
  AppendOrderCopies(AtomA, fLastAtom, stWl, enWl, second, third);
  fAtomSorted = false;
}

void TTextBase::AddMolSpectralOrders(double stWl, double enWl, bool second, bool third) {
  AppendOrderCopies(MolA, fLastMol, stWl, enWl, second, third);
  fMolSorted = false;
}

bool TTextBase::FillWith(const std::string& path, const std::vector<std::string>& els,
                         const std::vector<std::string>& mols,
                         const std::vector<std::string>& elIons,
                         const std::vector<std::string>& molIons, bool iSecondSOrder,
                         bool iThirdSOrder) {
  const bool s0 = fSecondSOrder;
  const bool t0 = fThirdSOrder;
  bool atomsChanged = false;
  bool molsChanged = false;
  if (!fListsMade) {
    fEls.clear();
    fELIons.clear();
    fMols.clear();
    fMolIons.clear();
    fListsMade = true;
  }
  // Orders can be added to loaded records, never taken away from them.
  const bool ordersKept =
      (iSecondSOrder == s0 || iSecondSOrder) && (iThirdSOrder == t0 || iThirdSOrder);

  if (ordersKept && SameNamesIgnoringCase(els, fEls) && SameNamesIgnoringCase(elIons, fELIons)) {
    if (fEls.empty() || fELIons.empty()) SetAtomLength(0);
  } else {
    atomsChanged = true;
    fSecondSOrder = fThirdSOrder = false;
    fEls = els;
    fELIons = elIons;
    ReloadRecords<TAtomFile, TRecord>(AtomArray(), path, "", els, elIons);
  }
  if (ordersKept && SameNamesIgnoringCase(mols, fMols) &&
      SameNamesIgnoringCase(molIons, fMolIons)) {
    if (fMols.empty() || fMolIons.empty()) SetMolLength(0);
  } else {
    molsChanged = true;
    fSecondSOrder = fThirdSOrder = false;
    fMols = mols;
    fMolIons = molIons;
    ReloadRecords<TMolFile, TMolRecord>(MolArray(), path, "m_", mols, molIons);
  }

  if (iSecondSOrder != fSecondSOrder || iThirdSOrder != fThirdSOrder) {
    // Each array gets only the orders it does not hold yet: one kind may
    // have been reloaded while the other kept its copies.
    AddAtomSpectralOrders(kOrdersFromWl, kOrdersToWl, iSecondSOrder && !fAtomHasSecond,
                          iThirdSOrder && !fAtomHasThird);
    AddMolSpectralOrders(kOrdersFromWl, kOrdersToWl, iSecondSOrder && !fMolHasSecond,
                         iThirdSOrder && !fMolHasThird);
    fAtomHasSecond = fMolHasSecond = iSecondSOrder;
    fAtomHasThird = fMolHasThird = iThirdSOrder;
    fSecondSOrder = iSecondSOrder;
    fThirdSOrder = iThirdSOrder;
    atomsChanged = molsChanged = true;
  }

  if (atomsChanged) AtomSort();
  if (molsChanged) MolSort();
  if (atomsChanged && fOnAtomChanged) fOnAtomChanged(*this);
  if (molsChanged && fOnMolChanged) fOnMolChanged(*this);
  return atomsChanged || molsChanged;
}

}  // namespace lumora
