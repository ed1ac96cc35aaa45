#include "model/table_text.h"

#include <algorithm>
#include <charconv>

#include "base/format.h"

namespace lumora {

namespace {

std::vector<std::string> SplitAtDash(std::string_view text) {
  std::vector<std::string> pieces(1);
  for (char c : text) {
    if (c == '-')
      pieces.emplace_back();
    else
      pieces.back() += c;
  }
  return pieces;
}

}  // namespace

LineTableRow LineTableHeader() {
  return {"Wavelength",   "Intensity",   "BF free",      "BF meas",    "BF fit",
          "Upper energy", "Upper state", "Lower energy", "Lower state"};
}

void StateTexts(const TRecord& r, std::string& upper, std::string& lower) {
  const std::vector<std::string> confs = SplitAtDash(r.Confs.view());
  const std::vector<std::string> terms = SplitAtDash(r.Terms.view());
  upper.clear();
  lower.clear();
  if (confs.size() + terms.size() != 4) return;
  std::vector<std::string> pieces = confs;
  pieces.insert(pieces.end(), terms.begin(), terms.end());
  upper = Format("%s - %s_%.0f", pieces[1], pieces[3], r.Jk);
  lower = Format("%s - %s_%.0f", pieces[0], pieces[2], r.Ji);
}

LineTableRow LineTableCells(const TLineRecord& line, bool withFractions) {
  LineTableRow row;
  row[0] = FloatToStr(line.AR.WaveLength);
  row[1] = FloatToStr(line.Int);
  // An excluded line takes no part in the fractions.
  if (withFractions && !line.Excluded) {
    row[2] = Format("%.4f", line.G_t);
    row[3] = Format("%.4f", line.G_m);
    row[4] = Format("%.4f", line.G_f);
  }
  row[5] = Format("%.9f", line.AR.Ek_eV);
  row[7] = Format("%.9f", line.AR.Ei_eV);
  StateTexts(line.AR, row[6], row[8]);
  return row;
}

std::vector<LineTableRow> LineTableRows(const std::vector<TLineRecord>& lines, bool withFractions) {
  std::vector<LineTableRow> rows{LineTableHeader()};
  for (const TLineRecord& line : lines) rows.push_back(LineTableCells(line, withFractions));
  return rows;
}

namespace {

// The shortest text that reads back as the same double.
std::string ShortestText(double value) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string(buffer, end);
}

// The rows, each cell led by a tab, with the inclusion and uncertainty
// columns where a line needs them; `header` leads the header row.
std::string TabLedText(const std::vector<LineTableRow>& rows, const std::vector<bool>& excluded,
                       const std::vector<double>& uncertainties, const std::string& header) {
  const bool withInclusion = std::find(excluded.begin(), excluded.end(), true) != excluded.end();
  const bool withUncertainty = std::any_of(uncertainties.begin(), uncertainties.end(),
                                           [](double u) { return u > 0; });
  std::string text;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (r == 0) text += header;
    for (const std::string& cell : rows[r]) {
      text += '\t';
      text += cell;
    }
    if (withInclusion) {
      text += '\t';
      if (r == 0)
        text += kIncludedHeader;
      else
        text += r - 1 < excluded.size() && excluded[r - 1] ? "no" : "yes";
    }
    if (withUncertainty) {
      text += '\t';
      if (r == 0)
        text += kUncertaintyHeader;
      else if (r - 1 < uncertainties.size() && uncertainties[r - 1] > 0)
        text += ShortestText(uncertainties[r - 1]);
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace

std::string LineTableText(const std::vector<LineTableRow>& rows,
                          const std::vector<bool>& excluded) {
  return TabLedText(rows, excluded, {}, "");
}

std::string LineTableFileText(const std::vector<LineTableRow>& rows,
                              const std::vector<bool>& excluded,
                              const std::vector<double>& uncertainties) {
  return TabLedText(rows, excluded, uncertainties, "#");
}

}  // namespace lumora
