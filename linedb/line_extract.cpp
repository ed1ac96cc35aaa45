// Building atomic line files: the extraction from a pipe-separated source
// table and the record-by-record conversion of a line file.
#include <cerrno>
#include <cstdio>
#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/atomic_file.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "base/text_reader.h"
#include "linedb/line_file.h"

namespace lumora {
namespace {

// WriteRecord writes these as "-".
constexpr double kMissingReal = std::numeric_limits<double>::max();
constexpr int32_t kMissingInt = std::numeric_limits<int32_t>::max();

constexpr int kSourceHeaderLines = 5;
// Columns up to and including the lower weight; the upper weight and the
// columns after it may be absent.
constexpr size_t kMinSourceColumns = 16;

constexpr size_t kRuleLength = 252;
constexpr const char* kHeaderNames =
    "   | Wavelength |     Rel.   |     Aki    |     fik    |      S     |   log gf   |Acc |     Ei"
    "     |     Ek     |     Ji     |     Jk     |    gi    |    gk    |Configurations             "
    " "
    "            |Terms           |Type|TP Refs       |Line Refs";
constexpr const char* kHeaderUnits =
    " |    Air     |     Int.   |  (10^8s-1) |            |            |            |    |    (eV) "
    "   |    (eV)    |            |            |          |          |                             "
    " "
    "          |                |    |              |         ";
constexpr const char* kHeaderUnits2 =
    "       |    (nm)    |            |            |            |            |            |    |   "
    " "
    "        |            |            |            |          |          |                        "
    " "
    "               |                |    |              |      ";

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
  size_t pos = 0;
  while ((pos = s.find(from, pos)) != std::string::npos) {
    s.replace(pos, from.size(), to);
    pos += to.size();
  }
  return s;
}

std::string Left(std::string_view s, size_t n) { return std::string(s.substr(0, n)); }

// The whole file as lines; LF, CR LF and a CR alone end a line.
std::vector<std::string> ReadLines(const std::string& fileName) {
  const std::string data = TextReader(fileName).ReadAll();
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find_first_of("\r\n", start);
    if (end == std::string::npos) end = data.size();
    lines.emplace_back(data, start, end - start);
    start = end + 1;
    if (end + 1 < data.size() && data[end] == '\r' && data[end + 1] == '\n') ++start;
  }
  return lines;
}

// The columns of a source line: "|" separates columns, " - " the two halves
// of the paired columns (Ei - Ek, gi - gk); a comma inside a column becomes
// "&".
std::vector<std::string> SplitSourceLine(const std::string& line) {
  const std::string s = ReplaceAll(ReplaceAll(line, ",", "&"), " - ", " | ");
  std::vector<std::string> columns;
  size_t start = 0;
  for (;;) {
    size_t bar = s.find('|', start);
    if (bar == std::string::npos) {
      columns.push_back(s.substr(start));
      return columns;
    }
    columns.push_back(s.substr(start, bar - start));
    start = bar + 1;
  }
}

double RealOrMissing(std::string_view text) {
  double v;
  return TryParseReal(Trim(text), v) ? v : kMissingReal;
}

int32_t IntOrMissing(std::string_view text) {
  int32_t v;
  return TryParseInt(Trim(text), v) ? v : kMissingInt;
}

// Intensities carry trailing flags such as "100bl" or "50*": up to three
// trailing characters are dropped before the value counts as missing.
double IntensityOrMissing(std::string_view text) {
  std::string s = Trim(text);
  for (int drops = 0; drops <= 3; ++drops) {
    int32_t v;
    if (TryParseInt(s, v)) return v;
    if (s.empty()) break;
    s.pop_back();
  }
  return kMissingReal;
}

// J as a decimal ("1.5") or as a fraction ("3/2").
double JOrMissing(std::string_view text) {
  const std::string s = Trim(text);
  double v;
  if (TryParseReal(s, v)) return v;
  const size_t slash = s.find('/');
  int32_t num, den;
  if (slash != std::string::npos && TryParseInt(std::string_view(s).substr(0, slash), num) &&
      TryParseInt(std::string_view(s).substr(slash + 1), den) && den != 0)
    return static_cast<double>(num) / den;
  return kMissingReal;
}

// Source column n (1-based: column 1 is the wavelength); columns after the
// last one read as empty.
class SourceColumns {
 public:
  explicit SourceColumns(std::vector<std::string> columns) : columns_(std::move(columns)) {}
  size_t size() const { return columns_.size(); }
  std::string_view operator[](size_t n) const {
    return n >= 1 && n <= columns_.size() ? std::string_view(columns_[n - 1]) : std::string_view();
  }

 private:
  std::vector<std::string> columns_;
};

TRecord RecordFromColumns(const SourceColumns& f, double waveLength, const std::string& el,
                          const std::string& ion) {
  TRecord r;
  r.Name = el;
  r.Ion = ion;
  r.WaveLength = waveLength;
  r.RelIntensity = IntensityOrMissing(f[2]);
  const double aki = RealOrMissing(f[3]);
  r.Aki = aki == kMissingReal ? kMissingReal : aki * 1e-8;
  r.fik = RealOrMissing(f[4]);
  r.S = RealOrMissing(f[5]);
  r.log_gf = RealOrMissing(f[6]);
  r.Acc = Left(Trim(f[7]), 4);
  r.Ei_eV = RealOrMissing(f[8]);
  r.Ek_eV = RealOrMissing(f[9]);
  r.Confi = Trim(f[10]);
  r.Termi = Trim(f[11]);
  r.Ji = JOrMissing(f[12]);
  r.Confk = Trim(f[13]);
  r.Termk = Trim(f[14]);
  r.Jk = JOrMissing(f[15]);
  r.gi = IntOrMissing(f[16]);
  r.gk = IntOrMissing(f[17]);
  r.LineType = Left(Trim(f[18]), 8);
  r.TPRefs = Left(Trim(f[19]), 14);
  r.LineRefs = f.size() >= 20 ? Left(Trim(f[20]), 20) : std::string("!");
  r.JoinStates();
  r.Order = 1;
  return r;
}

// The records of a source table. Lines whose wavelength is not a positive
// number (headings, rules, blank lines) are skipped; a data line whose column
// count differs from the first data line's is an error, since its values
// would land in the wrong fields.
std::vector<TRecord> ParseSourceTable(const std::string& sourceFileName,
                                      const std::vector<std::string>& lines, const std::string& el,
                                      const std::string& ion, std::ostream& progress) {
  std::vector<TRecord> records;
  size_t tableColumns = 0;
  for (size_t i = kSourceHeaderLines; i < lines.size(); ++i) {
    SourceColumns columns(SplitSourceLine(lines[i]));
    double waveLength;
    if (!TryParseReal(Trim(columns[1]), waveLength) || waveLength <= 0) continue;
    const std::string where = "Line " + std::to_string(i + 1) + " of \"" + sourceFileName + "\"";
    if (columns.size() < kMinSourceColumns)
      throw ConvertError(where + " has " + std::to_string(columns.size()) +
                         " columns; a line needs at least " + std::to_string(kMinSourceColumns) +
                         " (wavelength to lower weight)");
    if (tableColumns == 0) tableColumns = columns.size();
    if (columns.size() != tableColumns)
      throw ConvertError(where + " has " + std::to_string(columns.size()) +
                         " columns where the lines before it have " + std::to_string(tableColumns));
    records.push_back(RecordFromColumns(columns, waveLength, el, ion));
    progress << Format("%3d %s %s %10.4f", static_cast<int>(records.size()),
                       records.back().Name.str(), records.back().Ion.str(), waveLength)
             << '\n';
  }
  return records;
}

// Writes a line file under a temporary name beside the target and moves it
// into place only when it is complete, so that a failure never leaves a
// partial file under the target's name (and an existing target stays intact).
template <typename WriteFn>
void WriteLineFileReplacing(const std::string& target, WriteFn write) {
  AtomicFileOptions options;
  options.action = "Cannot create file";
  AtomicFile replacement(target, options);
  TAtomFile file(replacement.TempPath());
  try {
    file.OpenWrite();
    write(file);
    file.Close();
  } catch (const InOutError& e) {
    // Name the file the caller asked for, not the temporary one.
    std::string message = e.what();
    const std::string& temp = replacement.TempPath();
    for (size_t at = message.find(temp); at != std::string::npos; at = message.find(temp, at))
      message.replace(at, temp.size(), target);
    throw InOutError(message, e.code());
  }
  replacement.Commit();
}

}  // namespace

std::unique_ptr<TAtomFile> TAtomFile::Extract(const std::string& sourceFileName,
                                              const std::string& targetDir, const std::string& el,
                                              const std::string& ion, std::ostream& progress) {
  // The records take the element and the ion as given, and the file is named
  // after them as the line base looks it up.
  const std::string name = Trim(el);
  const std::string stage = Trim(ion);
  if (name.empty() || stage.empty())
    throw ConvertError("Extract needs an element and an ion, for example Ar and I");
  std::string target = targetDir;
  if (target.empty() || target.back() != '/') target += '/';
  target += name + "_" + stage + ".txt";

  // The source is read whole first: an unreadable or malformed source must
  // not cost an existing target.
  const std::vector<std::string> lines = ReadLines(sourceFileName);
  progress << "File " << sourceFileName << " opened.\n";
  if (lines.size() <= kSourceHeaderLines)
    throw ConvertError("The source table \"" + sourceFileName + "\" has no lines after its " +
                       std::to_string(kSourceHeaderLines) + " header lines");
  const std::vector<TRecord> records =
      ParseSourceTable(sourceFileName, lines, name, stage, progress);
  // A table without a single wavelength is not a line table (a file of
  // another layout, or its header alone).
  if (records.empty())
    throw ConvertError("The source table \"" + sourceFileName +
                       "\" has no line with a wavelength in its first column");

  const std::string headName = Upper(name);
  const std::string headIon = Upper(stage);
  WriteLineFileReplacing(target, [&](TAtomFile& file) {
    file.WriteLine(std::string(kRuleLength, '-'));
    file.WriteLine("  " + Format("%-2s", headName) + kHeaderNames);
    file.WriteLine("  " + Format("%-4s", headIon) + kHeaderUnits);
    file.WriteLine(kHeaderUnits2);
    file.WriteLine(std::string(kRuleLength, '-'));
    for (const TRecord& r : records) file.WriteRecord(r);
  });
  progress << "Written " << records.size() << " lines.\n";
  // The table is complete and closed; the caller's Close does nothing.
  return std::make_unique<TAtomFile>(target);
}

void ConvertLineFile(const std::string& source, const std::string& target) {
  TAtomFile in(source);
  in.OpenRead();
  // Read whole before writing, so that a file converted onto itself is safe.
  std::vector<TRecord> records;
  TRecord r;
  while (in.GetRecord(r)) records.push_back(r);
  in.Close();
  WriteLineFileReplacing(target, [&](TAtomFile& file) {
    for (TRecord rec : records) {
      rec.Aki *= 1e-16;
      file.WriteRecord(rec);
    }
  });
}

}  // namespace lumora
