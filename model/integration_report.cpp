#include "model/integration_report.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "base/format.h"

namespace lumora {

namespace {

std::string Significant(double value) { return FloatToStr(MeasurementIntensity(value)); }

std::string Ratio(double snr) { return std::isinf(snr) ? "inf" : Format("%.1f", snr); }

}  // namespace

IntegrationReportRow IntegrationReportHeader() {
  return {"Wavelength (nm)",
          "Window from (nm)",
          "Window to (nm)",
          "Net area",
          "Peak",
          "Baseline",
          "S/N",
          "Shift applied (nm)",
          "Flags"};
}

std::vector<IntegrationReportRow> IntegrationReportRows(const IntegrationResult& result) {
  std::vector<IntegrationReportRow> rows{IntegrationReportHeader()};
  for (const LineIntegral& l : result.lines)
    rows.push_back({FloatToStr(l.line.WaveLength), Format("%.4f", l.windowFrom),
                    Format("%.4f", l.windowTo), Significant(l.area), Significant(l.peak),
                    Significant(l.baseline), Ratio(l.snr), Format("%.4f", result.shift),
                    LineFlagText(l.flags)});
  return rows;
}

std::string IntegrationReportText(const std::vector<IntegrationReportRow>& rows) {
  std::string text;
  for (const IntegrationReportRow& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i) text += '\t';
      text += row[i];
    }
    text += "\r\n";
  }
  return text;
}

std::string NoiseNote(const IntegrationResult& result) {
  size_t quantised = 0;
  for (const LineIntegral& l : result.lines) quantised += l.noiseFromQuantum;
  if (!quantised) return {};
  return Format(
      "%d of %d lines have no scatter beside them (data clipped or coarsely quantised): their "
      "noise is the smallest step between neighbouring values.",
      static_cast<long long>(quantised), static_cast<long long>(result.lines.size()));
}

std::vector<std::string> MeasurementLines(const IntegrationResult& result) {
  std::vector<std::string> lines;
  for (const LineIntegral& l : result.lines)
    if (!l.flags)
      lines.push_back(FloatToStr(l.line.WaveLength) + "\t" +
                      FloatToStr(MeasurementIntensity(l.area)));
  return lines;
}

std::string ExposureNote(const RecordingHeader& header) {
  std::vector<std::string> parts;
  if (header.integrationSeconds)
    parts.push_back("integration time " + MessageNumber(*header.integrationSeconds) + " s");
  if (header.averages)
    parts.push_back(std::to_string(*header.averages) +
                    (*header.averages == 1 ? " spectrum" : " spectra") + " averaged");
  if (header.taken) {
    using namespace std::chrono;
    const sys_seconds taken(floor<seconds>(*header.taken));
    const sys_days day = floor<days>(taken);
    const year_month_day date(day);
    const hh_mm_ss<seconds> time(taken - day);
    char text[40];
    std::snprintf(text, sizeof text, "taken %04d-%02u-%02uT%02d:%02d:%02dZ",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    parts.push_back(text);
  }
  std::string note;
  for (const std::string& part : parts) note += (note.empty() ? "" : ", ") + part;
  return note;
}

}  // namespace lumora
