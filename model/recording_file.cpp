#include "model/recording_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <optional>

#include "base/format.h"
#include "base/numparse.h"
#include "base/text_reader.h"

namespace lumora {

namespace {

// Decimal points, commas among the separators; or decimal commas, commas
// inside the numbers.
enum class Decimal { Point, Comma };

bool IsSeparator(char c, Decimal decimal) {
  return c == ' ' || c == '\t' || (c == ',' && decimal == Decimal::Point) || c == ';' ||
         c == '\r' || c == '\v' || c == '\f';
}

std::vector<std::string_view> SplitFields(std::string_view line, Decimal decimal) {
  std::vector<std::string_view> fields;
  size_t p = 0;
  while (p < line.size()) {
    while (p < line.size() && IsSeparator(line[p], decimal)) ++p;
    const size_t start = p;
    while (p < line.size() && !IsSeparator(line[p], decimal)) ++p;
    if (p > start) fields.push_back(line.substr(start, p - start));
  }
  return fields;
}

// The number a field with one decimal comma stands for; nullopt for any
// other field.
std::optional<double> CommaNumber(std::string_view field) {
  const size_t comma = field.find(',');
  if (comma == std::string_view::npos || field.find(',', comma + 1) != std::string_view::npos ||
      field.find('.') != std::string_view::npos)
    return std::nullopt;
  std::string pointed(field);
  pointed[comma] = '.';
  double value = 0;
  if (!TryParseReal(pointed, value)) return std::nullopt;
  return value;
}

// A file writes decimal commas when a line's first two fields, split at
// blanks, tabs and semicolons, are numbers and one has a decimal comma
// ("660,5<TAB>0,401"). Commas then cannot separate columns.
Decimal DecimalOf(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::vector<std::string_view> fields =
        SplitFields(text.substr(start, end - start), Decimal::Comma);
    start = end + 1;
    if (fields.size() < 2) continue;
    double ignored = 0;
    const bool first = CommaNumber(fields[0]) || TryParseReal(fields[0], ignored);
    const bool second = CommaNumber(fields[1]) || TryParseReal(fields[1], ignored);
    if (first && second && (CommaNumber(fields[0]) || CommaNumber(fields[1])))
      return Decimal::Comma;
  }
  return Decimal::Point;
}

// The first line that holds a NUL byte: the mark of a file damaged in a
// crash, never a separator.
void RefuseNul(std::string_view text, const std::string& source) {
  const size_t at = text.find('\0');
  if (at == std::string_view::npos) return;
  const size_t line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + at, '\n'));
  throw SpectrumFileError(
      Format("%s, line %d: a NUL byte; the file is damaged", source, static_cast<long long>(line)));
}

enum class FieldKind { Number, NonFinite, Text };

// A field the number parser refuses may still be meant as a number: "nan",
// "inf" or one too large for a double. Those are refused as not finite
// rather than skipped as text, so that no data row is dropped unnoticed.
FieldKind Classify(std::string_view field, double& value, Decimal decimal) {
  if (decimal == Decimal::Comma) {
    if (const std::optional<double> v = CommaNumber(field)) {
      value = *v;
      return FieldKind::Number;
    }
  }
  if (TryParseReal(field, value)) return FieldKind::Number;
  if (!field.empty() && field[0] == '+') field.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), v);
  const bool whole = end == field.data() + field.size();
  if (whole && (ec == std::errc::result_out_of_range || (ec == std::errc() && !std::isfinite(v))))
    return FieldKind::NonFinite;
  return FieldKind::Text;
}

std::string Where(const std::string& source, size_t line) {
  return Format("%s, line %d: ", source, static_cast<long long>(line));
}

struct Row {
  double wavelength = 0;
  double intensity = 0;
  size_t line = 0;
};

// The data rows of the text, in file order.
std::vector<Row> DataRows(std::string_view text, const std::string& source, Decimal decimal) {
  std::vector<Row> rows;
  size_t trailerLine = 0;  // the line that ended the data, once they have begun
  size_t lineNumber = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;

    const std::vector<std::string_view> fields = SplitFields(line, decimal);
    if (fields.empty()) continue;
    Row row;
    row.line = lineNumber;
    const FieldKind first = Classify(fields[0], row.wavelength, decimal);
    const FieldKind second =
        fields.size() > 1 ? Classify(fields[1], row.intensity, decimal) : FieldKind::Text;
    const bool numeric = first != FieldKind::Text && second != FieldKind::Text;
    if (numeric) {
      if (trailerLine)
        throw SpectrumFileError(Where(source, lineNumber) +
                                Format("numbers after the end of the data at line %d",
                                       static_cast<long long>(trailerLine)));
      for (size_t i = 0; i < 2; ++i)
        if (Classify(fields[i], i ? row.intensity : row.wavelength, decimal) ==
            FieldKind::NonFinite)
          throw SpectrumFileError(Where(source, lineNumber) + "\"" + QuoteToken(fields[i]) +
                                  "\" is not a finite number");
      if (decimal == Decimal::Comma)
        for (size_t i = 0; i < 2; ++i)
          if (fields[i].find('.') != std::string_view::npos)
            throw SpectrumFileError(
                Where(source, lineNumber) + "\"" + QuoteToken(fields[i]) +
                "\" has a decimal point where other lines have decimal commas; use one decimal "
                "separator throughout");
      rows.push_back(row);
      continue;
    }
    if (rows.empty()) continue;  // a header or preamble line
    if (first != FieldKind::Text)
      throw SpectrumFileError(Where(source, lineNumber) + "a wavelength without an intensity");
    if (!trailerLine) trailerLine = lineNumber;
  }
  return rows;
}

// The direction most steps take: a stray row at either end does not decide it.
bool MostlyAscending(const std::vector<Row>& rows) {
  size_t up = 0;
  for (size_t i = 1; i < rows.size(); ++i) up += rows[i].wavelength > rows[i - 1].wavelength;
  return 2 * up >= rows.size() - 1;
}

// A step that breaks the order names its later row, but the first step
// names the first row: a stray row leads the data more often than the
// data begin out of order.
const Row& Offender(const std::vector<Row>& rows, size_t step) {
  return step == 1 ? rows[0] : rows[step];
}

void CheckMonotonic(const std::vector<Row>& rows, const std::string& source) {
  const bool ascending = MostlyAscending(rows);
  for (size_t i = 1; i < rows.size(); ++i) {
    const double before = rows[i - 1].wavelength, here = rows[i].wavelength;
    if (here == before)
      throw SpectrumFileError(Where(source, rows[i].line) +
                              Format("wavelength %s repeats the one before it; the wavelength "
                                     "axis must be strictly monotonic",
                                     MessageNumber(here)));
    if ((here > before) != ascending) {
      const Row& row = Offender(rows, i);
      throw SpectrumFileError(Where(source, row.line) +
                              Format("wavelength %s breaks the %s order of the wavelength axis",
                                     MessageNumber(row.wavelength),
                                     ascending ? "ascending" : "descending"));
    }
  }
}

// Every step within kStepSpread of the median step; rows ascending.
void CheckSampling(const std::vector<Row>& rows, const std::string& source) {
  std::vector<double> x(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) x[i] = rows[i].wavelength;
  const double median = MedianStep(x);
  for (size_t i = 1; i < rows.size(); ++i) {
    const double step = x[i] - x[i - 1];
    if (step <= kStepSpread * median && step * kStepSpread >= median) continue;
    const Row& row = Offender(rows, i);
    throw SpectrumFileError(
        Where(source, row.line) +
        Format("wavelength %s lies %s nm from its neighbour, %s the median step of %s nm; a "
               "recording's steps stay within three times and a third of it (a row from "
               "elsewhere?)",
               MessageNumber(row.wavelength), ShownNm(step),
               step > median ? "more than three times" : "less than a third of", ShownNm(median)));
  }
}

}  // namespace

Spectrum ParseSpectrum(std::string_view text, const std::string& source, SpectrumKind kind) {
  const size_t minimumPoints = kind == SpectrumKind::Recorded ? kMinimumSpectrumPoints : 2;
  RefuseNul(text, source);
  std::vector<Row> rows = DataRows(text, source, DecimalOf(text));
  if (rows.empty())
    throw SpectrumFileError(source + ": no rows of two numbers (wavelength in nm, intensity)");
  if (rows.size() < minimumPoints)
    throw SpectrumFileError(Format("%s: %d points; at least %d are needed", source,
                                   static_cast<long long>(rows.size()),
                                   static_cast<long long>(minimumPoints)));
  CheckMonotonic(rows, source);
  if (rows[1].wavelength < rows[0].wavelength) std::reverse(rows.begin(), rows.end());
  if (kind == SpectrumKind::Recorded) CheckSampling(rows, source);
  Spectrum spectrum;
  spectrum.source = source;
  spectrum.header = ParseRecordingHeader(text);
  spectrum.wavelength.reserve(rows.size());
  spectrum.intensity.reserve(rows.size());
  for (const Row& row : rows) {
    spectrum.wavelength.push_back(row.wavelength);
    spectrum.intensity.push_back(row.intensity);
  }
  return spectrum;
}

Spectrum ReadSpectrumFile(const std::string& path, SpectrumKind kind) {
  TextReader in(path);
  return ParseSpectrum(in.ReadAll(), path, kind);
}

double MedianStep(const std::vector<double>& x) {
  std::vector<double> steps(x.size() - 1);
  for (size_t i = 0; i + 1 < x.size(); ++i) steps[i] = x[i + 1] - x[i];
  const size_t mid = steps.size() / 2;
  std::nth_element(steps.begin(), steps.begin() + mid, steps.end());
  if (steps.size() % 2) return steps[mid];
  return 0.5 * (steps[mid] + *std::max_element(steps.begin(), steps.begin() + mid));
}

std::string ShownNm(double value) {
  char buffer[32];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 6);
  double shown = value;
  std::from_chars(buffer, written.ptr, shown);
  return MessageNumber(shown);
}

double InterpolateAt(const std::vector<double>& x, const std::vector<double>& y, double at) {
  const auto upper = std::upper_bound(x.begin(), x.end(), at);
  if (upper == x.begin()) return y.front();
  if (upper == x.end()) return y.back();
  const size_t i = static_cast<size_t>(upper - x.begin());
  const double t = (at - x[i - 1]) / (x[i] - x[i - 1]);
  return y[i - 1] + t * (y[i] - y[i - 1]);
}

}  // namespace lumora
