// lumora-cli fit FILE... and lumora-cli map FILE...: for each measurement in
// turn import it, recalculate, run the fit or the map and print the report
// lines the window would append. A file that fails is reported and the
// batch goes on.
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "cli/command.h"
#include "cli/spectrum_options.h"
#include "frontend/field_requests.h"
#include "model/map_file.h"
#include "model/session.h"

namespace lumora::cli {

namespace {

constexpr int kMapProgressPoints = 10000;

struct BatchOptions {
  WindowFields fields;
  bool saveMap = false;
  bool table = false;
  std::optional<SpectrumRequest> spectrum;  // the files are spectra to integrate first
  std::vector<std::string> files;
};

// Options override the fields the window would show for the element.
void TakeFieldOptions(std::vector<std::string>& args, WindowFields& f) {
  std::string value;
  if (TakeOption(args, "--distribution", value)) {
    if (value == "boltzmann") {
      f.Distribution = 0;
    } else if (value == "1s") {
      f.Distribution = static_cast<int>(Distribution::FirstLevels);
      const DistributionChoice choice = ChoiceFor(Distribution::FirstLevels);
      if (choice.secondAlwaysFitted) f.FitTemperatureChecked = true;
      if (choice.levelCount) f.Count = std::to_string(*choice.levelCount);
    } else {
      throw UsageError("--distribution takes boltzmann or 1s, not \"" + value + "\"");
    }
  }
  if (TakeFlag(args, "--fit-temperature")) f.FitTemperatureChecked = true;
  if (TakeOption(args, "--report", value)) {
    if (value == "results")
      f.ReportKind = static_cast<int>(ReportKind::FinalResults);
    else if (value == "log")
      f.ReportKind = static_cast<int>(ReportKind::FitIteration);
    else
      throw UsageError("--report takes results or log, not \"" + value + "\"");
  }
  const std::pair<const char*, std::string WindowFields::*> texts[] = {
      {"--density", &WindowFields::FitDensity},
      {"--temperature", &WindowFields::FitTemperature},
      {"--count", &WindowFields::Count},
      {"--tn", &WindowFields::Tn},
      {"--path", &WindowFields::Path},
      {"--max-iter", &WindowFields::MaxIter},
      {"--from-density", &WindowFields::FromDensity},
      {"--to-density", &WindowFields::ToDensity},
      {"--density-points", &WindowFields::DensityPoints},
      {"--from-temperature", &WindowFields::FromTemperature},
      {"--to-temperature", &WindowFields::ToTemperature},
      {"--temperature-points", &WindowFields::TemperaturePoints},
  };
  for (const auto& [name, field] : texts)
    if (TakeOption(args, name, value)) f.*field = value;
}

BatchOptions ParseBatchOptions(Context& ctx, std::vector<std::string> args) {
  BatchOptions options;
  options.fields = ctx.Fields();
  TakeFieldOptions(args, options.fields);
  options.saveMap = TakeFlag(args, "--save-map");
  options.table = TakeFlag(args, "--table");
  if (TakeFlag(args, "--spectrum"))
    options.spectrum = SpectrumRequestFromFields(TakeSpectrumFields(args), "");
  RejectUnknownOptions(args);
  if (args.empty()) throw UsageError("no measurement file given");
  options.files = std::move(args);
  return options;
}

std::string FileNamePart(const std::string& file) {
  return std::filesystem::path(file).filename().string();
}

// Import and recalculation, as reading a measurement or a spectrum in the window.
void ReadMeasurement(Session& session, const std::string& file,
                     const std::optional<SpectrumRequest>& spectrum) {
  if (spectrum) {
    SpectrumRequest request = *spectrum;
    request.spectrumFile = file;
    session.ReadSpectrum(request);
  } else {
    session.ReadMeasurement(file);
  }
  session.Recalculate();
}

void RunFit(Session& session, const BatchOptions& options, double massAmu,
            const std::string& file, std::vector<std::string>& report) {
  FitRequest request = FitRequestFromFields(options.fields, massAmu);
  request.dataFileName = FileNamePart(file);
  report = session.Fit(request).report;
}

void RunMap(Session& session, const BatchOptions& options, double massAmu,
            const std::string& file, std::vector<std::string>& report, std::ostream& err,
            bool showProgress) {
  MapRequest request = MapRequestFromFields(options.fields, massAmu);
  request.dataFileName = FileNamePart(file);
  const long long points =
      static_cast<long long>(request.densityPoints) * request.temperaturePoints;
  if (showProgress && points > kMapProgressPoints)
    request.progress = [&err, &file](int done, int rows) {
      err << "\rmap " << file << ": row " << done << " of " << rows << (done == rows ? "\n" : "")
          << std::flush;
    };
  const MapResult map = session.Map(request);
  report = map.report;
  if (options.saveMap && !map.grid.empty())
    err << "map file: " << Session::SaveMap(file, MapFileHeader(options.fields), map.grid) << "\n";
}

enum class BatchKind { Fit, Map };

int RunBatch(Context& ctx, const std::vector<std::string>& args, BatchKind kind) {
  const BatchOptions options = ParseBatchOptions(ctx, args);
  const double massAmu = ctx.ElementMass();
  ctx.LoadElement();
  Session& session = ctx.session();

  const bool terminal = isatty(STDERR_FILENO) == 1;
  const size_t count = options.files.size();
  int failed = 0;
  for (size_t i = 0; i < count; ++i) {
    const std::string& file = options.files[i];
    if (terminal && count > 1) ctx.err << "[" << i + 1 << "/" << count << "] " << file << "\n";
    session.SetMessageSink(
        [&ctx, &file](const std::string& text) { ctx.err << file << ": " << text << "\n"; });
    try {
      ReadMeasurement(session, file, options.spectrum);
      std::vector<std::string> report;
      if (kind == BatchKind::Fit)
        RunFit(session, options, massAmu, file, report);
      else
        RunMap(session, options, massAmu, file, report, ctx.err, terminal);
      for (const auto& line : report) ctx.out << line << "\n";
      if (options.table) ctx.out << LineTableText(session.TableRows(true));
    } catch (const std::exception& e) {
      ctx.err << file << ": " << e.what() << "\n";
      ++failed;
    }
    session.SetMessageSink({});
  }
  ctx.out.flush();
  return failed ? 1 : 0;
}

const char* const kFieldOptionsUsage =
    "[--density N1] [--temperature T] [--fit-temperature] [--distribution boltzmann|1s] "
    "[--count K] [--tn TN] [--path L] [--max-iter N] [--from-density D] [--to-density D] "
    "[--density-points N] [--from-temperature T] [--to-temperature T] "
    "[--temperature-points N] [--report results|log] [--save-map] [--table] "
    "[--spectrum [--fwhm NM] [--window K] [--shift-max NM] [--dark FILE] [--response FILE] "
    "[--min-snr X] [--saturation COUNTS]] FILE...";

}  // namespace

LUMORA_COMMAND(CommandInfo{
    "fit", kFieldOptionsUsage,
    "fit n_1 (and with --fit-temperature the second parameter) to each measurement and print "
    "its results line",
    [](Context& ctx, const std::vector<std::string>& args) {
      return RunBatch(ctx, args, BatchKind::Fit);
    }});

LUMORA_COMMAND(CommandInfo{
    "map", kFieldOptionsUsage,
    "evaluate the residual sum over the density-temperature grid for each measurement and "
    "print its results line; --save-map writes Maps/<file>_map.txt beside it",
    [](Context& ctx, const std::vector<std::string>& args) {
      return RunBatch(ctx, args, BatchKind::Map);
    }});

}  // namespace lumora::cli
