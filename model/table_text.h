// The line table as the main window shows it and "Save table" writes it:
// a header row and one row per line, nine cells each.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "model/element_data.h"

namespace lumora {

using LineTableRow = std::array<std::string, 9>;

LineTableRow LineTableHeader();

// The cells of one line; the branching-fraction cells (2 to 4) stay empty
// unless withFractions is set.
LineTableRow LineTableCells(const TLineRecord& line, bool withFractions);

// Header row followed by every line.
std::vector<LineTableRow> LineTableRows(const std::vector<TLineRecord>& lines, bool withFractions);

// "Upper state" and "Lower state" texts from the line's Confs and Terms;
// both empty when they do not split into four pieces at "-".
void StateTexts(const TRecord& r, std::string& upper, std::string& lower);

// The saved table: every cell led by a tab, every row ended by CR LF. When
// `excluded` marks a line (one flag per row after the header), a tenth
// column "Included" says "yes" or "no" on every row, so that the file
// keeps which lines took part; without, the table has its nine columns.
std::string LineTableText(const std::vector<LineTableRow>& rows,
                          const std::vector<bool>& excluded = {});

// The table as "Save table" writes it for ReadMeasurement to read back:
// LineTableText with the header row led by "#" (a comment to other tools,
// whose data rows start with the wavelength and the intensity) and, when a
// line has one, a last column "u(I)" with each intensity's standard
// uncertainty (empty for none). `excluded` and `uncertainties` hold one
// value per row after the header.
std::string LineTableFileText(const std::vector<LineTableRow>& rows,
                              const std::vector<bool>& excluded = {},
                              const std::vector<double>& uncertainties = {});

// The header cell that marks the saved table's uncertainty column, and its
// inclusion column.
inline constexpr const char* kUncertaintyHeader = "u(I)";
inline constexpr const char* kIncludedHeader = "Included";

}  // namespace lumora
