// The line base: atomic and molecular line records loaded from the line files
// of the data folder, merged and sorted by wavelength, with lookups and the
// conversions and exports built on them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "linedb/line_file.h"
#include "linedb/line_store.h"

namespace lumora {

enum class TFoundFlag { ffPrior, ffSame, ffNext };

class TextBaseError : public Error {
 public:
  using Error::Error;
};

struct TSpectrumRecord {
  double WLength = 0;
  double Intensity = 0;
};
using TData = std::vector<TSpectrumRecord>;

struct TDSpParams {
  double AtomInt = 0;
  double MolInt = 0;
  double MinSpInt = 0;
  double MaxSpInt = 0;
  double MinWl = 0;
  double MaxWl = 0;
  std::string FileName;
};

struct TOfferedLine {
  TLineKind Kind = TLineKind::lkAtomic;
  int32_t Index = 0;
};

template <class Lines>
struct RecordArray;

class TTextBase {
 public:
  using ChangeEvent = std::function<void(TTextBase& sender)>;

  TTextBase(int32_t iAtomLength, int32_t iMolLength);

  int32_t AtomLength() const { return static_cast<int32_t>(AtomA.size()); }
  void SetAtomLength(int32_t length);
  int32_t MolLength() const { return static_cast<int32_t>(MolA.size()); }
  void SetMolLength(int32_t length);
  int32_t LastAtom() const { return fLastAtom; }
  int32_t LastMol() const { return fLastMol; }

  void SetOnAtomChanged(ChangeEvent e) { fOnAtomChanged = std::move(e); }
  void SetOnMolChanged(ChangeEvent e) { fOnMolChanged = std::move(e); }

  // Loads the line files Path/El_Ion.txt and Path/m_Mol_Ion.txt; returns
  // true when the atomic or molecular records changed. Missing files are
  // skipped silently.
  bool FillWith(const std::string& path, const std::vector<std::string>& els,
                const std::vector<std::string>& mols, const std::vector<std::string>& elIons,
                const std::vector<std::string>& molIons, bool iSecondSOrder, bool iThirdSOrder);

  // Copies of records by index; TxtError "Low limits" below 0 and
  // "No data in database for the requested wavelength" at or above the length.
  TRecord GetAtomRecord(int32_t index) const;
  TMolRecord GetMolRecord(int32_t index) const;

  // The record nearest to wl, searching upwards from `from`; a binary search
  // once the records are sorted, with the results of a scan.
  TRecord AtomFind(double wl, int32_t from, int32_t& position, TFoundFlag& flag) const;
  TMolRecord MolFind(double wl, int32_t from, int32_t& position, TFoundFlag& flag) const;

  void Add(const TRecord& r);
  void Add(const TMolRecord& r);
  void AtomClear();
  void MolClear();
  void AtomSort();
  void MolSort();
  void AddAtomSpectralOrders(double stWl, double enWl, bool second, bool third);
  void AddMolSpectralOrders(double stWl, double enWl, bool second, bool third);

  // Conversions and exports.
  std::vector<std::string> GetRecords(double min, double max, double gWLength, int32_t& pivot);
  double OffLines_WL(int32_t index) const;
  double OffLines_Int(int32_t index) const;
  static std::string RecordToStr(const TRecord& r);
  static std::string RecordToStr(const TMolRecord& r);
  std::string OffRecordToStr(int32_t offIndex) const;
  void ExportOffLines(int32_t pivot, int32_t maxHalfCount, double minIntensity, TData& lines,
                      std::vector<std::string>& labels) const;
  void CreateSpectrum(const TDSpParams& params, TData& sp, std::vector<std::string>& notes) const;
  std::vector<std::string> CreateMatrix(int32_t ofWhat, const std::string& fileName) const;

  int32_t OfferedLinesCount() const { return fOfferedLinesCount; }
  bool SecondSOrder() const { return fSecondSOrder; }
  bool ThirdSOrder() const { return fThirdSOrder; }

 private:
  // The atomic or the molecular array with its bookkeeping, for the code
  // that treats both alike.
  RecordArray<AtomLines> AtomArray();
  RecordArray<std::vector<TMolRecord>> MolArray();

  AtomLines AtomA;
  std::vector<TMolRecord> MolA;
  int32_t SavedAtomLength;
  int32_t SavedMolLength;
  int32_t fLastAtom = -1;
  int32_t fLastMol = -1;
  bool fListsMade = false;
  std::vector<std::string> fEls, fELIons, fMols, fMolIons;
  bool fSecondSOrder = false;
  bool fThirdSOrder = false;
  // The orders whose copies each array holds now; a load that asks for
  // orders adds only those an array lacks, so copies never double.
  bool fAtomHasSecond = false;
  bool fAtomHasThird = false;
  bool fMolHasSecond = false;
  bool fMolHasThird = false;
  // The records in use are in the order of the last sort: nothing was
  // appended since.
  bool fAtomSorted = true;
  bool fMolSorted = true;
  ChangeEvent fOnAtomChanged;
  ChangeEvent fOnMolChanged;
  std::vector<TOfferedLine> OfferedLines;
  int32_t fOfferedLinesCount = 0;
};

}  // namespace lumora
