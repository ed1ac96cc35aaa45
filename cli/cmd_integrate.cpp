// lumora-cli integrate SPECTRUM: the measurement of a recorded spectrum on
// standard output, ready for `table`, `fit` and `map`. An SPE file gives one
// measurement per frame, each after a line "# FILE, frame K", or that of
// the frame --frame K chooses.
#include <iostream>
#include <string>
#include <vector>

#include "base/format.h"
#include "base/paths.h"
#include "cli/command.h"
#include "cli/integration_options.h"
#include "frontend/recording_fields.h"
#include "model/recording_frames.h"
#include "model/session.h"

namespace lumora::cli {

namespace {

// Integrates one spectrum and prints its measurement; false when every line
// is flagged.
bool IntegrateOne(Context& ctx, const SpectrumRequest& request, const std::string& name,
                  bool named, const std::string& reportFile) {
  Session& session = ctx.session();
  const IntegrationResult& result = session.ReadSpectrum(request);
  const std::vector<std::string> lines = session.MeasurementLines();
  if (named) ctx.out << "# " << name << "\n";
  for (const std::string& line : lines) ctx.out << line << "\n";
  ctx.out.flush();
  if (!reportFile.empty())
    Session::SaveIntegrationReport(reportFile, session.IntegrationReportRows());

  ctx.err << Format(
      "%s: FWHM %.4f nm%s, shift %.4f nm%s, %d lines integrated, %d in the measurement\n", name,
      result.fwhm, result.fwhmEstimated ? " (estimated)" : "", result.shift,
      result.noShiftFound ? " (no shift found)" : "",
      static_cast<long long>(result.lines.size()), static_cast<long long>(lines.size()));
  const std::string note = NoiseNote(result);
  if (!note.empty()) ctx.err << name << ": " << note << "\n";
  const std::string exposure = ExposureNote(result.spectrum.header);
  if (!exposure.empty()) ctx.err << name << ": " << exposure << "\n";
  if (lines.empty()) {
    ctx.err << name << ": every line is flagged; --report FILE tells why\n";
    return false;
  }
  return true;
}

int Integrate(Context& ctx, std::vector<std::string> args) {
  const SpectrumFields fields = TakeSpectrumFields(args);
  const FrameChoice choice = TakeFrameChoice(args);
  std::string reportFile;
  TakeOption(args, "--report", reportFile);
  RejectUnknownOptions(args);
  if (args.size() != 1) throw UsageError("integrate takes one spectrum file");
  SpectrumRequest request = SpectrumRequestFromFields(fields, args[0]);
  request.region = choice.region;
  std::vector<std::string> inputs = {request.spectrumFile, request.darkFile, request.responseFile};
  for (const std::string& file : ctx.SettingsAndElementFiles()) inputs.push_back(file);
  RefuseOutputThatIsAnInput(reportFile, inputs);

  // An SPE file is checked whole before its first frame is integrated; its
  // frames are then gone through one at a time.
  FramesOfRecording frames(request.spectrumFile, choice.frame, choice.region);
  const bool several = frames.Count() > 1;
  if (several && !reportFile.empty())
    throw UsageError("--report takes the report of one spectrum; " + request.spectrumFile +
                     " holds " + std::to_string(frames.Count()) +
                     " frames: choose one with --frame K");

  ctx.LoadElement();
  int failed = 0;
  for (size_t k = 0; k < frames.Count(); ++k) {
    const RecordingFrame frame = frames.At(k);
    request.frame = frame.frame;
    if (!IntegrateOne(ctx, request, frame.name, several, reportFile)) ++failed;
  }
  return failed ? 1 : 0;
}

}  // namespace

LUMORA_COMMAND(CommandInfo{"integrate", [](Context& ctx, const std::vector<std::string>& args) {
                             return Integrate(ctx, args);
                           }});

}  // namespace lumora::cli
