// The line base's exports: the list of the lines of a wavelength window with
// its pivot, the stick list around the pivot, the stick spectrum of the whole
// base, short record labels and the level-to-level matrix file.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/atomic_file.h"
#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "linedb/line_base.h"

namespace lumora {
namespace {

constexpr const char* kYes = "y";
constexpr const char* kNo = "n";

// Wavelength, order mark and intensity of a list entry:
// "  396.15270 2   500".
std::string EntryBody(double waveLength, int32_t order, double intensity) {
  std::string s = Format("%10.5f", waveLength);
  s += order < 2 ? std::string("  ") : " " + Format("%d", order);
  s += Format("%6s", intensity < 0 ? std::string() : Format("%.0f", std::trunc(intensity)));
  return s;
}

// Of a TRecord or of a line as the base holds it.
template <class AtomLine>
std::string AtomEntryText(const AtomLine& r) {
  return Format("%-3s%-3s", r.Name.str(), r.Ion.str()) +
         EntryBody(r.WaveLength, r.Order, r.RelIntensity) + " " + (r.log_gf != 0 ? kYes : kNo);
}

std::string MolEntryText(const TMolRecord& r) {
  const bool usable = r.Frequency > 0 && r.S12 > 0 && r.E1 >= 0;
  std::string s = Format("%-3s%-3s", r.Name.str(), r.Ion.str()) +
                  EntryBody(r.WaveLength, r.Order, r.Intensity) + " " + (usable ? kYes : kNo);
  if (r.v1 >= 0 && r.v2 >= 0) s = Format("%s %d-%-2d", s, r.v1, r.v2);
  if (!r.Note.empty()) s = Format("%s %s", s, r.Note.str());
  return s;
}

// The wavelength of the first order: a copy of a higher order shows the line
// it was made from. Records that never went through a reader have order 0.
double FirstOrderWaveLength(double waveLength, int32_t order) {
  return order < 2 ? waveLength : waveLength / order;
}

// The short label of an atomic line: of a TRecord or of a line as the base
// holds it.
template <class AtomLine>
std::string AtomLabel(const AtomLine& r) {
  const double wl = FirstOrderWaveLength(r.WaveLength, r.Order);
  if (r.Order < 2) return Format("%-3s%-3s%.5f", r.Name.str(), r.Ion.str(), wl);
  return Format("%-3s%-3s%.5f (%d)", r.Name.str(), r.Ion.str(), wl, r.Order);
}

}  // namespace

std::vector<std::string> TTextBase::GetRecords(double min, double max, double gWLength,
                                               int32_t& pivot) {
  constexpr double kNone = std::numeric_limits<double>::max();
  std::vector<std::string> list;
  int32_t i = 0;
  while (i <= fLastAtom && AtomA[i].WaveLength < min) ++i;
  int32_t j = 0;
  while (j <= fLastMol && MolA[j].WaveLength < min) ++j;
  const double firstAtom = i <= fLastAtom ? AtomA[i].WaveLength : kNone;
  const double firstMol = j <= fLastMol ? MolA[j].WaveLength : kNone;
  if (i > fLastAtom && j > fLastMol) throw TextBaseError("Empty");

  std::vector<TOfferedLine> offered;
  offered.reserve(200);
  pivot = 0;
  double previous = std::min(firstAtom, firstMol);
  auto take = [&](TLineKind kind, int32_t index, double waveLength, std::string text) {
    if (previous < gWLength && waveLength >= gWLength) pivot = static_cast<int32_t>(offered.size());
    list.push_back(std::move(text));
    offered.push_back(TOfferedLine{kind, index});
    previous = waveLength;
  };
  auto takeAtom = [&] {
    take(TLineKind::lkAtomic, i, AtomA[i].WaveLength, AtomEntryText(AtomA[i]));
    ++i;
  };
  auto takeMol = [&] {
    take(TLineKind::lkMolecular, j, MolA[j].WaveLength, MolEntryText(MolA[j]));
    ++j;
  };

  // At equal wavelengths the molecular line comes first.
  while (i <= fLastAtom && j <= fLastMol && AtomA[i].WaveLength <= max &&
         MolA[j].WaveLength <= max) {
    if (AtomA[i].WaveLength >= MolA[j].WaveLength)
      takeMol();
    else
      takeAtom();
  }
  while (i <= fLastAtom && AtomA[i].WaveLength <= max) takeAtom();
  while (j <= fLastMol && MolA[j].WaveLength <= max) takeMol();

  OfferedLines = std::move(offered);
  fOfferedLinesCount = static_cast<int32_t>(OfferedLines.size());
  // Every line lies below the wavelength asked for: the last one.
  if (previous < gWLength) pivot = fOfferedLinesCount - 1;
  // The nearer of the two neighbours; equal distances keep the upper one.
  if (pivot > 0 && gWLength - OffLines_WL(pivot - 1) < OffLines_WL(pivot) - gWLength) --pivot;
  return list;
}

double TTextBase::OffLines_WL(int32_t index) const {
  CheckIndex(index, fOfferedLinesCount);
  const TOfferedLine& line = OfferedLines[index];
  return line.Kind == TLineKind::lkAtomic ? GetAtomRecord(line.Index).WaveLength
                                          : GetMolRecord(line.Index).WaveLength;
}

double TTextBase::OffLines_Int(int32_t index) const {
  CheckIndex(index, fOfferedLinesCount);
  const TOfferedLine& line = OfferedLines[index];
  return line.Kind == TLineKind::lkAtomic ? GetAtomRecord(line.Index).RelIntensity
                                          : GetMolRecord(line.Index).Intensity;
}

std::string TTextBase::RecordToStr(const TRecord& r) { return AtomLabel(r); }

std::string TTextBase::RecordToStr(const TMolRecord& r) {
  const std::string band = r.v1 < 0 || r.v2 < 0 ? std::string(" ") : Format(" %d-%d ", r.v1, r.v2);
  const std::string note = r.Note.empty() ? std::string() : " " + r.Note.str();
  const double wl = FirstOrderWaveLength(r.WaveLength, r.Order);
  if (r.Order < 2) return Format("%s %s%s%.5f%s", r.Name.str(), r.Ion.str(), band, wl, note);
  return Format("%s %s%s%.5f (%d)%s", r.Name.str(), r.Ion.str(), band, wl, r.Order, note);
}

std::string TTextBase::OffRecordToStr(int32_t offIndex) const {
  CheckIndex(offIndex, fOfferedLinesCount);
  const TOfferedLine& line = OfferedLines[offIndex];
  return line.Kind == TLineKind::lkAtomic ? RecordToStr(GetAtomRecord(line.Index))
                                          : RecordToStr(GetMolRecord(line.Index));
}

void TTextBase::ExportOffLines(int32_t pivot, int32_t maxHalfCount, double minIntensity,
                               TData& lines, std::vector<std::string>& labels) const {
  if (maxHalfCount < 0) throw RangeError();
  // No more lines can come than are offered: a larger half count selects
  // the same lines, so it is cut down before it sizes anything.
  const int64_t halfCount = std::min(maxHalfCount, fOfferedLinesCount);
  const int64_t capacity = 2 * halfCount + 1;
  lines.clear();
  lines.reserve(static_cast<size_t>(std::min<int64_t>(capacity, fOfferedLinesCount)));
  labels.clear();
  int64_t n = 0;
  auto append = [&](int32_t k) {
    lines.push_back(TSpectrumRecord{OffLines_WL(k), OffLines_Int(k)});
    labels.push_back(OffRecordToStr(k));
    ++n;
  };
  // The pivot first, whatever its intensity; then the strong lines below it
  // going down, then those above it going up.
  append(pivot);
  for (int32_t k = pivot - 1; k >= 0 && n < halfCount + 1; --k)
    if (OffLines_Int(k) > minIntensity) append(k);
  for (int32_t k = pivot + 1; k < fOfferedLinesCount && n < capacity; ++k)
    if (OffLines_Int(k) > minIntensity) append(k);
}

void TTextBase::CreateSpectrum(const TDSpParams& params, TData& sp,
                               std::vector<std::string>& notes) const {
  sp.clear();
  sp.reserve(static_cast<size_t>(fLastAtom + 1) + static_cast<size_t>(fLastMol + 1));
  notes.clear();
  auto inWindow = [&](double wl) { return params.MinWl <= wl && wl <= params.MaxWl; };
  for (int32_t i = 0; i <= fLastAtom; ++i) {
    const StoredAtomLine& r = AtomA[i];
    if (inWindow(r.WaveLength) && r.RelIntensity >= params.AtomInt) {
      sp.push_back(TSpectrumRecord{r.WaveLength, r.RelIntensity});
      notes.push_back(AtomLabel(r));
    }
  }
  // Molecular lines get their labels too, so that every stick has one.
  for (int32_t j = 0; j <= fLastMol; ++j) {
    const TMolRecord& r = MolA[j];
    if (inWindow(r.WaveLength) && r.Intensity >= params.MolInt) {
      sp.push_back(TSpectrumRecord{r.WaveLength, r.Intensity});
      notes.push_back(RecordToStr(r));
    }
  }

  // Stable insertion sort by wavelength, the labels moving with their sticks.
  for (size_t k = 1; k < sp.size(); ++k) {
    const TSpectrumRecord stick = sp[k];
    std::string note = std::move(notes[k]);
    size_t m = k;
    for (; m > 0 && sp[m - 1].WLength > stick.WLength; --m) {
      sp[m] = sp[m - 1];
      notes[m] = std::move(notes[m - 1]);
    }
    sp[m] = stick;
    notes[m] = std::move(note);
  }
  if (sp.empty()) return;

  double largest = sp[0].Intensity, smallest = sp[0].Intensity;
  for (const TSpectrumRecord& s : sp) {
    largest = std::max(largest, s.Intensity);
    smallest = std::min(smallest, s.Intensity);
  }
  const long double range = fp::Sub(largest, smallest);
  const long double target = fp::Sub(params.MaxSpInt, params.MinSpInt);
  for (TSpectrumRecord& s : sp) {
    if (range != 0 && target != 0)
      s.Intensity =
          fp::ToDouble(params.MinSpInt + fp::Mul(0.5L * fp::Div(s.Intensity, range), target));
    else
      s.Intensity = fp::ToDouble(fp::Add(s.Intensity, params.MinSpInt));
  }
}

std::vector<std::string> TTextBase::CreateMatrix(int32_t ofWhat,
                                                 const std::string& fileName) const {
  if (fEls.size() != 1 || fELIons.size() != 1)
    throw TextBaseError("CreateAMatrix: a few elements or ionizations");

  // Distinct level energies, ascending.
  std::vector<double> energies;
  std::unordered_map<double, int32_t> position;
  auto collect = [&](double e) {
    if (position.find(e) == position.end()) {
      position.emplace(e, 0);
      energies.push_back(e);
    }
  };
  for (int32_t k = 0; k <= fLastAtom; ++k) {
    collect(AtomA[k].Ei_eV);
    collect(AtomA[k].Ek_eV);
  }
  // NaN has no place among the energies and is never found again.
  auto less = [](double a, double b) { return std::isnan(b) ? !std::isnan(a) : a < b; };
  std::stable_sort(energies.begin(), energies.end(), less);
  for (size_t k = 0; k < energies.size(); ++k) position[energies[k]] = static_cast<int32_t>(k);

  const size_t n = energies.size();
  std::vector<double> matrix(n * n, 0.0);
  auto find = [&](double e) {
    auto it = position.find(e);
    if (it == position.end()) throw TextBaseError("CreateMatrix: E not found");
    return static_cast<size_t>(it->second);
  };
  for (int32_t k = 0; k <= fLastAtom; ++k) {
    const StoredAtomLine& r = AtomA[k];
    const size_t i = find(r.Ei_eV);
    const size_t j = find(r.Ek_eV);
    if (i == j) continue;
    double& cell = matrix[i * n + j];
    switch (ofWhat) {
      case 0:
        cell = r.WaveLength;
        break;
      case 1:
        cell = r.RelIntensity;
        break;
      case 2:
        cell = r.Aki;
        break;
      case 3:
        cell = r.log_gf;
        break;
      case 4:
        cell = r.Ei_eV;
        break;
      case 5:
        cell = r.Ek_eV;
        break;
      default:
        break;  // nothing selected: every cell stays 0
    }
  }

  auto cellText = [&](double v) -> std::string {
    if (v == 0) return std::string(11, ' ') + "0";
    switch (ofWhat) {
      case 0:
        return Format("%12.5f", v);
      case 1:
        return Format("%12.1f", v);
      case 2:
        return Format("%12.4e", v);
      case 3:
        return Format("%12.3f", v);
      default:
        return Format("%12.6f", v);
    }
  };
  std::string text(12, ' ');
  for (double e : energies) text += Format("%12.5f", e);
  text += "\r\n";
  for (size_t i = 0; i < n; ++i) {
    text += Format("%12.5f", energies[i]);
    for (size_t j = 0; j < n; ++j) text += cellText(matrix[i * n + j]);
    text += "\r\n";
  }
  WriteFileAtomically(fileName, text);
  return {};
}

}  // namespace lumora
