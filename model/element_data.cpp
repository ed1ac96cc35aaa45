#include "model/element_data.h"

#include <cerrno>
#include <cmath>
#include <iostream>
#include <sstream>

#include "base/checked.h"
#include "base/format.h"
#include "base/numparse.h"
#include "base/text_reader.h"
#include "model/table_text.h"

namespace lumora {

void ShowMessage(const MessageSink& sink, const std::string& text) {
  if (sink)
    sink(text);
  else
    std::cerr << text << "\n";
}

namespace {

// The field rules of the level and measurement files over the text reader:
// numbers are whole blank-separated tokens, a token that is no number an
// input/output error.
class FieldReader {
 public:
  explicit FieldReader(const std::string& fileName) : in_(fileName) {}

  bool Eof() { return in_.Eof(); }

  // Up to `width` characters, stopping before the line end.
  std::string ReadText(int width) { return width > 0 ? in_.ReadText(width) : std::string(); }

  // A blank-separated number; skips control characters and line ends first.
  // At the end of the file the value is 0.
  double ReadNumber() {
    std::string token;
    if (!in_.ReadToken(token)) return 0;
    return ParseNumber(token, in_.LineNumber());
  }

  // A token that is no number is named with its line, so that the user
  // finds it in a long file.
  double ParseNumber(std::string_view token, int lineNumber) const {
    double value = 0;
    if (!TryParseReal(token, value))
      throw InOutError(Format("Invalid numeric format: \"%s\" in line %d of %s", QuoteToken(token),
                              lineNumber, in_.FileName()),
                       106);
    return value;
  }

  // The blank-separated tokens of the rest of the line; moves past its line
  // end.
  std::vector<std::string> ReadLineTokens() {
    const int lineNumber = in_.LineNumber();
    const std::string line = ReadLine();
    // A NUL is the mark of a file cut short by a crash, not a separator.
    if (line.find('\0') != std::string::npos)
      throw InOutError(Format("Line %d of %s holds a NUL byte; the file is damaged.", lineNumber,
                              in_.FileName()),
                       106);
    std::vector<std::string> tokens;
    for (size_t p = 0; p < line.size();) {
      while (p < line.size() && static_cast<unsigned char>(line[p]) <= 32) ++p;
      const size_t start = p;
      while (p < line.size() && static_cast<unsigned char>(line[p]) > 32) ++p;
      if (p > start) tokens.push_back(line.substr(start, p - start));
    }
    return tokens;
  }

  // The rest of the line as it stands; moves past its line end.
  std::string ReadLine() {
    std::string line = in_.ReadText(static_cast<size_t>(-1));
    in_.SkipLine();
    return line;
  }

  int Peek() { return in_.Peek(); }

  // 1-based number of the line the reader stands in.
  int LineNumber() const { return in_.LineNumber(); }
  const std::string& FileName() const { return in_.FileName(); }

  // Skips the rest of the line and its line end.
  void SkipLine() { in_.SkipLine(); }

 private:
  TextReader in_;
};

struct MeasuredLine {
  double wavelength = 0;
  double intensity = 0;
  double uncertainty = 0;
  int lineNumber = 0;  // 0: the blank tail of the file
  bool excluded = false;
};

// The intensity's standard uncertainty in the third column, when the
// measurement is read with its uncertainties: a number above 0.
double ReadUncertainty(FieldReader& in, const std::vector<std::string>& numbers, int lineNumber,
                       double wavelength) {
  if (numbers.size() < 3)
    throw InOutError(Format("Line %d of %s has no third number; read with uncertainties, a "
                            "measurement line needs a wavelength, an intensity and the "
                            "intensity's standard uncertainty.",
                            lineNumber, in.FileName()),
                     106);
  const double uncertainty = in.ParseNumber(numbers[2], lineNumber);
  if (!(uncertainty > 0) || !std::isfinite(uncertainty))
    throw InOutError(Format("Line %d of %s: the uncertainty %s of the line %s nm is not above 0.",
                            lineNumber, in.FileName(), MessageNumber(uncertainty),
                            MessageNumber(wavelength)),
                     106);
  return uncertainty;
}

double UncertaintyWherePresent(const std::vector<std::string>& numbers) {
  double uncertainty = 0;
  if (numbers.size() < 3 || !TryParseReal(numbers[2], uncertainty)) return 0;
  return uncertainty > 0 && std::isfinite(uncertainty) ? uncertainty : 0;
}

// The first two numbers of the next line that holds any, and the third as
// `column` says; further columns are ignored. A blank tail of the file
// reads as wavelength 0, which no line base holds, so the import ends there
// with its not-found message.
MeasuredLine ReadMeasuredLine(FieldReader& in, UncertaintyColumn column) {
  while (!in.Eof()) {
    const int lineNumber = in.LineNumber();
    const std::vector<std::string> numbers = in.ReadLineTokens();
    if (numbers.empty()) continue;
    const double wavelength = in.ParseNumber(numbers[0], lineNumber);
    if (numbers.size() < 2)
      throw InOutError(Format("Line %d of %s holds one number; a measurement line needs a "
                              "wavelength and an intensity.",
                              lineNumber, in.FileName()),
                       106);
    const double intensity = in.ParseNumber(numbers[1], lineNumber);
    // A measured intensity is light: below 0 it is a sign or column slip.
    if (intensity < 0)
      throw InOutError(
          Format("Line %d of %s: the intensity %s of the line %s nm is negative; a "
                 "measured intensity is 0 or more.",
                 lineNumber, in.FileName(), MessageNumber(intensity), MessageNumber(wavelength)),
          106);
    double uncertainty = 0;
    if (column == UncertaintyColumn::Required)
      uncertainty = ReadUncertainty(in, numbers, lineNumber, wavelength);
    else if (column == UncertaintyColumn::WherePresent)
      uncertainty = UncertaintyWherePresent(numbers);
    return {wavelength, intensity, uncertainty, lineNumber};
  }
  return {};
}

// The columns of a table "Save table" wrote, found by their header cells
// in its first line, which "#" leads (LineTableFileText).
struct SavedTableColumns {
  size_t wavelength = 0, intensity = 0;
  std::optional<size_t> uncertainty, included;
};

std::vector<std::string> TabCells(const std::string& line) {
  std::vector<std::string> cells(1);
  for (char c : line) {
    if (c == '\t')
      cells.emplace_back();
    else if (c != '\r')
      cells.back() += c;
  }
  return cells;
}

std::optional<SavedTableColumns> ReadSavedTableHeader(FieldReader& in) {
  if (in.Peek() != '#') return std::nullopt;
  const int lineNumber = in.LineNumber();
  const std::vector<std::string> cells = TabCells(in.ReadLine());
  const auto column = [&cells](const char* name) -> std::optional<size_t> {
    for (size_t c = 1; c < cells.size(); ++c)
      if (cells[c] == name) return c;
    return std::nullopt;
  };
  const auto wavelength = column(LineTableHeader()[0].c_str());
  const auto intensity = column(LineTableHeader()[1].c_str());
  if (!wavelength || !intensity)
    throw InOutError(Format("Line %d of %s is a comment without the columns \"Wavelength\" and "
                            "\"Intensity\" of a saved line table.",
                            lineNumber, in.FileName()),
                     106);
  return SavedTableColumns{*wavelength, *intensity, column(kUncertaintyHeader),
                           column(kIncludedHeader)};
}

// The next row of a saved table: its cells by the header's columns.
MeasuredLine ReadSavedTableLine(FieldReader& in, const SavedTableColumns& columns,
                                UncertaintyColumn uncertainty) {
  while (!in.Eof()) {
    const int lineNumber = in.LineNumber();
    const std::vector<std::string> cells = TabCells(in.ReadLine());
    if (cells.size() == 1 && cells[0].find_first_not_of(' ') == std::string::npos) continue;
    const auto cell = [&cells](std::optional<size_t> c) {
      return c && *c < cells.size() ? cells[*c] : std::string();
    };
    MeasuredLine line;
    line.lineNumber = lineNumber;
    line.wavelength = in.ParseNumber(cell(columns.wavelength), lineNumber);
    line.intensity = in.ParseNumber(cell(columns.intensity), lineNumber);
    if (const std::string u = cell(columns.uncertainty);
        !u.empty() && uncertainty != UncertaintyColumn::Ignored)
      line.uncertainty = in.ParseNumber(u, lineNumber);
    line.excluded = cell(columns.included) == "no";
    return line;
  }
  return {};
}

std::string PadRight(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

}  // namespace

std::vector<std::string> SplitCommaText(std::string_view text) {
  std::vector<std::string> items;
  auto isBlank = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= 32; };
  size_t p = 0;
  const size_t n = text.size();
  while (p < n && isBlank(text[p])) ++p;
  while (p < n) {
    std::string item;
    if (text[p] == '"') {
      ++p;
      while (p < n) {
        if (text[p] == '"') {
          if (p + 1 < n && text[p + 1] == '"') {
            item += '"';
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item += text[p++];
      }
    } else {
      while (p<n&& static_cast<unsigned char>(text[p])> 32 && text[p] != ',') item += text[p++];
    }
    items.push_back(item);
    while (p < n && isBlank(text[p])) ++p;
    if (p < n && text[p] == ',') {
      if (p + 1 == n) items.emplace_back();
      do ++p;
      while (p < n && isBlank(text[p]));
    }
  }
  return items;
}

void ReadLevels(const std::string& fileName, std::vector<TLevelRecord>& levels,
                const MessageSink& messages, bool& replaced) {
  replaced = false;
  FieldReader in(fileName);
  for (int i = 0; i < 3; ++i) in.SkipLine();
  levels.clear();
  replaced = true;
  while (!in.Eof()) {
    TLevelRecord level;
    const std::string configuration = in.ReadText(23);
    // A STOP line needs nothing after the word.
    if (Trim(configuration) == "STOP") {
      ShowMessage(messages,
                  "STOP command found in the file with levels. Higher levels were not read.");
      break;
    }
    const std::string term = in.ReadText(13);
    level.J = in.ReadNumber();
    level.Energy = in.ReadNumber();
    in.SkipLine();
    level.Configuration.assign(Trim(configuration));
    level.Term.assign(Trim(term));
    level.g = 2 * level.J + 1;
    if (!levels.empty() && levels.back().Energy == level.Energy) {
      ShowMessage(messages, Format("Energy value %s is not unique. Stopping here...",
                                   MessageFixed(levels.back().Energy, 7)));
      break;
    }
    if (!levels.empty() && levels.back().Energy > level.Energy) {
      ShowMessage(messages,
                  Format("Energy values %s, %s are not ascending. Stopping reading...",
                         MessageFixed(levels.back().Energy, 7), MessageFixed(level.Energy, 7)));
      break;
    }
    levels.push_back(level);
  }
}

std::unique_ptr<TTextBase> OpenLineBase(const std::string& folder,
                                        const std::string& linesSetting) {
  const std::vector<std::string> items = SplitCommaText(linesSetting);
  if (items.size() != 2) throw Error("Wrong source in ini file. ");
  auto base = std::make_unique<TTextBase>(1000, 500);
  base->FillWith(folder, {items[0]}, {}, {items[1]}, {}, false, false);
  return base;
}

std::vector<std::string> ListLevels(const std::vector<TLevelRecord>& levels) {
  std::vector<std::string> out;
  out.push_back(Format("%4s   %-22s %-10s %11s %11s %11s", "i", "Configuration", "Term", "Energy",
                       "Jeff", "g"));
  for (size_t i = 0; i < levels.size(); ++i) {
    const TLevelRecord& l = levels[i];
    out.push_back(Format("%4d   %s %s %11.8f %11.1f %11.0f", static_cast<int>(i),
                         PadRight(l.Configuration.str(), 22), PadRight(l.Term.str(), 10), l.Energy,
                         l.J, l.g));
  }
  return out;
}

std::vector<std::string> ListLines(const TTextBase* lineBase, bool allLines) {
  std::vector<std::string> out;
  out.push_back(Format("%-7s %10s  %10s  %7s %5s %5s %12s", "Elem", "wl (nm)", "Aki", "log_gf",
                       "gi", "gk", "E_upper (eV)"));
  if (!lineBase) return out;
  for (int32_t i = 0; i < lineBase->AtomLength(); ++i) {
    const TRecord r = lineBase->GetAtomRecord(i);
    if (!allLines && r.Aki <= 0) continue;
    out.push_back(Format("%3s%-4s %10.5f  %10.4e  %7.4f %5d %5d %12.10f", r.Name.str(), r.Ion.str(),
                         r.WaveLength, r.Aki, r.log_gf, r.gi, r.gk, r.Ek_eV));
  }
  return out;
}

std::vector<std::string> ListLevelLineStructure(const std::vector<TLevelRecord>& levels,
                                                const TTextBase* lineBase) {
  std::vector<std::string> out;
  out.push_back("  i|   E(eV): wavelength / logA");
  out.push_back(std::string(72, '-'));
  // Only what the listing shows of each line: a whole record each would
  // double the memory of a large base.
  struct LineEntry {
    double WaveLength;
    double Aki;
    double Ek_eV;
  };
  const int32_t count = lineBase ? lineBase->AtomLength() : 0;
  std::vector<LineEntry> lines;
  lines.reserve(count);
  for (int32_t i = 0; i < count; ++i) {
    const TRecord r = lineBase->GetAtomRecord(i);
    lines.push_back(LineEntry{r.WaveLength, r.Aki, r.Ek_eV});
  }
  for (size_t i = 0; i < levels.size(); ++i) {
    std::string s;
    for (const LineEntry& r : lines) {
      if (r.Ek_eV != levels[i].Energy) continue;
      if (r.Aki <= 0)
        s += Format("%9.4f/0,", r.WaveLength);
      else
        s += Format("%9.4f/%.d,", r.WaveLength, fp::TruncInt32(fp::Log10(r.Aki)));
    }
    if (!s.empty()) out.push_back(Format("%.3d|%.6f:%s", static_cast<int>(i), levels[i].Energy, s));
  }
  return out;
}

void TieLineToLevels(const std::vector<TLevelRecord>& levels, TLineRecord& line) {
  line.UpperState = -1;
  line.LowerState = -1;
  int upperCount = 0, lowerCount = 0;
  for (size_t k = 0; k < levels.size(); ++k) {
    if (levels[k].Energy == line.AR.Ek_eV) {
      line.UpperState = static_cast<int32_t>(k);
      ++upperCount;
    }
    if (levels[k].Energy == line.AR.Ei_eV) {
      line.LowerState = static_cast<int32_t>(k);
      ++lowerCount;
    }
  }
  if (upperCount == 0)
    throw Error(Format("Upper level %s was not found. Import was stopped.",
                       MessageFixed(line.AR.Ek_eV, 6)));
  if (upperCount > 1)
    throw Error(Format("Several upper levels with the same energy %s. Import was stopped.",
                       MessageFixed(line.AR.Ek_eV, 6)));
  if (lowerCount == 0)
    throw Error(Format("Lower level %s was not found. Import was stopped.",
                       MessageFixed(line.AR.Ei_eV, 6)));
  if (lowerCount > 1)
    throw Error(Format("Several lower levels with the same energy %s. Import was stopped.",
                       MessageFixed(line.AR.Ei_eV, 6)));
}

void ImportLinesForAnalysis(LineTable& table, const TTextBase* lineBase, double fromWL, double toWL,
                            double minA, double maxE) {
  table.lines.clear();
  if (!lineBase) return;
  for (int32_t i = 0; i < lineBase->AtomLength(); ++i) {
    const TRecord r = lineBase->GetAtomRecord(i);
    if (!(r.WaveLength > fromWL && r.WaveLength < toWL && r.Aki > minA && r.Ei_eV < maxE)) continue;
    TLineRecord line;
    line.AR = r;
    line.Int = fp::ToDouble(fp::Div(fp::Div(r.Aki, r.WaveLength), 1000));
    table.lines.push_back(line);
    TieLineToLevels(table.levels, table.lines.back());
  }
}

bool FindMeasuredLine(const TTextBase* lineBase, double wavelength, double intensity,
                      TLineRecord& line, std::string& message) {
  if (!lineBase) throw TextBaseError("No data in database for the requested wavelength");
  int32_t position = 0;
  TFoundFlag flag = TFoundFlag::ffPrior;
  lineBase->AtomFind(wavelength, 0, position, flag);
  if (flag != TFoundFlag::ffSame) {
    message = Format(
        "Wavelength %.6f was not found. Import was stopped. Check used specie or wavelength "
        "precision.",
        wavelength);
    return false;
  }
  line = TLineRecord{};
  line.AR = lineBase->GetAtomRecord(position);
  line.Int = intensity;
  return true;
}

void ImportIntensities(LineTable& table, const TTextBase* lineBase, const std::string& fileName,
                       const MessageSink& messages, UncertaintyColumn column) {
  table.lines.clear();
  FieldReader in(fileName);
  const std::optional<SavedTableColumns> saved = ReadSavedTableHeader(in);
  while (!in.Eof()) {
    const MeasuredLine measured =
        saved ? ReadSavedTableLine(in, *saved, column) : ReadMeasuredLine(in, column);
    const auto [wavelength, intensity, uncertainty, lineNumber, excluded] = measured;
    TLineRecord line;
    std::string message;
    if (!FindMeasuredLine(lineBase, wavelength, intensity, line, message)) {
      // Where the wavelength stands and what the base holds near it.
      if (lineNumber > 0) {
        int32_t position = 0;
        TFoundFlag flag = TFoundFlag::ffPrior;
        lineBase->AtomFind(wavelength, 0, position, flag);
        message += Format(" It stands in line %d of %s; the element's nearest line is at %s nm.",
                          lineNumber, fileName,
                          FloatToStr(lineBase->GetAtomRecord(position).WaveLength));
      }
      ShowMessage(messages, message);
      break;
    }
    line.IntSigma = uncertainty;
    line.Excluded = excluded;
    table.lines.push_back(line);
    TieLineToLevels(table.levels, table.lines.back());
  }
}

}  // namespace lumora
