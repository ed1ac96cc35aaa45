// The texts of a spectrum's integration: the measurement it yields (one
// line per unflagged line, the wavelength as the line base holds it, a tab,
// the net area) and the report table with one row per line.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "model/line_integration.h"

namespace lumora {

using IntegrationReportRow = std::array<std::string, 9>;

IntegrationReportRow IntegrationReportHeader();

// Header row followed by every integrated line, ascending.
std::vector<IntegrationReportRow> IntegrationReportRows(const IntegrationResult& result);

// Every cell but the first led by a tab, every row ended by CR LF.
std::string IntegrationReportText(const std::vector<IntegrationReportRow>& rows);

// A sentence for the report when some lines had no scatter beside them
// and their noise is the data's quantisation step; empty otherwise.
std::string NoiseNote(const IntegrationResult& result);

// What a text export's header says of the exposure, "" when it says nothing:
// "integration time 0.1 s, 10 spectra averaged, taken 2026-03-01T09:15:30Z".
std::string ExposureNote(const RecordingHeader& header);

// "wavelength<TAB>area" for every unflagged line, ascending; the measurement
// import reads each wavelength back as the very line it came from.
std::vector<std::string> MeasurementLines(const IntegrationResult& result);

}  // namespace lumora
