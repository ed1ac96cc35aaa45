#include "model/recording_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>

#include "base/format.h"
#include "base/numparse.h"
#include "base/text_reader.h"

namespace lumora {

namespace {

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\r' || c == '\v' || c == '\f';
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t p = 0;
  while (p < line.size()) {
    while (p < line.size() && IsSeparator(line[p])) ++p;
    const size_t start = p;
    while (p < line.size() && !IsSeparator(line[p])) ++p;
    if (p > start) fields.push_back(line.substr(start, p - start));
  }
  return fields;
}

enum class FieldKind { Number, NonFinite, Text };

// A field the number parser refuses may still be meant as a number: "nan",
// "inf" or one too large for a double. Those are refused as not finite
// rather than skipped as text, so that no data row is dropped unnoticed.
FieldKind Classify(std::string_view field, double& value) {
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
std::vector<Row> DataRows(std::string_view text, const std::string& source) {
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

    const std::vector<std::string_view> fields = SplitFields(line);
    if (fields.empty()) continue;
    Row row;
    row.line = lineNumber;
    const FieldKind first = Classify(fields[0], row.wavelength);
    const FieldKind second =
        fields.size() > 1 ? Classify(fields[1], row.intensity) : FieldKind::Text;
    const bool numeric = first != FieldKind::Text && second != FieldKind::Text;
    if (numeric) {
      if (trailerLine)
        throw SpectrumFileError(Where(source, lineNumber) +
                                Format("numbers after the end of the data at line %d",
                                       static_cast<long long>(trailerLine)));
      for (size_t i = 0; i < 2; ++i)
        if (Classify(fields[i], i ? row.intensity : row.wavelength) == FieldKind::NonFinite)
          throw SpectrumFileError(Where(source, lineNumber) + "\"" + QuoteToken(fields[i]) +
                                  "\" is not a finite number");
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

void CheckMonotonic(const std::vector<Row>& rows, const std::string& source) {
  const bool ascending = rows[1].wavelength > rows[0].wavelength;
  for (size_t i = 1; i < rows.size(); ++i) {
    const double before = rows[i - 1].wavelength, here = rows[i].wavelength;
    if (here == before)
      throw SpectrumFileError(Where(source, rows[i].line) +
                              Format("wavelength %s repeats the one before it; the wavelength "
                                     "axis must be strictly monotonic",
                                     FloatToStr(here)));
    if ((here > before) != ascending)
      throw SpectrumFileError(Where(source, rows[i].line) +
                              Format("wavelength %s breaks the %s order of the wavelength axis",
                                     FloatToStr(here), ascending ? "ascending" : "descending"));
  }
}

}  // namespace

Spectrum ParseSpectrum(std::string_view text, const std::string& source, size_t minimumPoints) {
  std::vector<Row> rows = DataRows(text, source);
  if (rows.empty())
    throw SpectrumFileError(source + ": no rows of two numbers (wavelength in nm, intensity)");
  if (rows.size() < std::max<size_t>(minimumPoints, 2))
    throw SpectrumFileError(Format("%s: %d points; at least %d are needed", source,
                                   static_cast<long long>(rows.size()),
                                   static_cast<long long>(std::max<size_t>(minimumPoints, 2))));
  CheckMonotonic(rows, source);
  if (rows[1].wavelength < rows[0].wavelength) std::reverse(rows.begin(), rows.end());
  Spectrum spectrum;
  spectrum.source = source;
  spectrum.wavelength.reserve(rows.size());
  spectrum.intensity.reserve(rows.size());
  for (const Row& row : rows) {
    spectrum.wavelength.push_back(row.wavelength);
    spectrum.intensity.push_back(row.intensity);
  }
  return spectrum;
}

Spectrum ReadSpectrumFile(const std::string& path, size_t minimumPoints) {
  TextReader in(path);
  return ParseSpectrum(in.ReadAll(), path, minimumPoints);
}

double MedianStep(const std::vector<double>& x) {
  std::vector<double> steps(x.size() - 1);
  for (size_t i = 0; i + 1 < x.size(); ++i) steps[i] = x[i + 1] - x[i];
  const size_t mid = steps.size() / 2;
  std::nth_element(steps.begin(), steps.begin() + mid, steps.end());
  if (steps.size() % 2) return steps[mid];
  return 0.5 * (steps[mid] + *std::max_element(steps.begin(), steps.begin() + mid));
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
