// lumora-cli integrate SPECTRUM: the measurement of a recorded spectrum on
// standard output, ready for `table`, `fit` and `map`.
#include <iostream>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/paths.h"
#include "cli/command.h"
#include "cli/integration_options.h"
#include "frontend/recording_fields.h"
#include "model/session.h"

namespace lumora::cli {

namespace {

int Integrate(Context& ctx, std::vector<std::string> args) {
  const SpectrumFields fields = TakeSpectrumFields(args);
  std::string reportFile;
  TakeOption(args, "--report", reportFile);
  RejectUnknownOptions(args);
  if (args.size() != 1) throw UsageError("integrate takes one spectrum file");
  const SpectrumRequest request = SpectrumRequestFromFields(fields, args[0]);
  std::vector<std::string> inputs = {request.spectrumFile, request.darkFile, request.responseFile};
  for (const std::string& file : ctx.SettingsAndElementFiles()) inputs.push_back(file);
  RefuseOutputThatIsAnInput(reportFile, inputs);

  ctx.LoadElement();
  Session& session = ctx.session();
  const IntegrationResult& result = session.ReadSpectrum(request);
  const std::vector<std::string> lines = session.MeasurementLines();
  for (const std::string& line : lines) ctx.out << line << "\n";
  ctx.out.flush();
  if (!reportFile.empty())
    Session::SaveIntegrationReport(reportFile, session.IntegrationReportRows());

  ctx.err << Format(
      "%s: FWHM %.4f nm%s, shift %.4f nm%s, %d lines integrated, %d in the measurement\n",
      request.spectrumFile, result.fwhm, result.fwhmEstimated ? " (estimated)" : "", result.shift,
      result.noShiftFound ? " (no shift found)" : "",
      static_cast<long long>(result.lines.size()), static_cast<long long>(lines.size()));
  const std::string note = NoiseNote(result);
  if (!note.empty()) ctx.err << request.spectrumFile << ": " << note << "\n";
  if (lines.empty()) {
    ctx.err << request.spectrumFile << ": every line is flagged; --report FILE tells why\n";
    return 1;
  }
  return 0;
}

}  // namespace

LUMORA_COMMAND(CommandInfo{"integrate", [](Context& ctx, const std::vector<std::string>& args) {
                             return Integrate(ctx, args);
                           }});

}  // namespace lumora::cli
