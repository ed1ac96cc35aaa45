// The window's commands on the worker thread: fit with its Monte Carlo
// refits, map, fit of all files, and line analysis with the pair inspector.
#include "app/chart_readout.h"
#include "app/mainform.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <algorithm>
#include <climits>
#include <cerrno>
#include <fstream>
#include <tuple>

#include "app/chartexport.h"
#include "app/commandrunner.h"
#include "app/fit_panel.h"
#include "app/integration_options_dialog.h"
#include "app/line_table_controller.h"
#include "app/linegrid.h"
#include "app/map_panel.h"
#include "app/maplookup.h"
#include "app/model_panel.h"
#include "app/paircurvewindow.h"
#include "app/qt_text.h"
#include "app/readouts.h"
#include "model/spe_file.h"
#include "app/resultcharts.h"
#include "app/series_panel.h"
#include "app/uncertainty_choice.h"
#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "frontend/field_requests.h"
#include "frontend/recording_fields.h"
#include "frontend/uncertainty_requests.h"
#include "model/confidence_region.h"
#include "model/level_densities.h"
#include "model/map_file.h"
#include "model/series.h"
#include "model/table_text.h"
#include "settings/startup.h"

namespace lumora {

namespace {

std::string FileNamePart(const QString& file) { return Std(QFileInfo(file).fileName()); }

// The joint confidence regions the map outlines.
constexpr double kConfidenceLevels[] = {0.68, 0.95};

}  // namespace

// ---- running the commands -------------------------------------------------------

bool TMainForm::CommandRunning() const { return fRunner->Running(); }

void TMainForm::CancelCommand() { fRunner->Cancel(); }

void TMainForm::RequireLines(const char* command) const {
  const size_t lines = fSession->Table().lines.size();
  if (!fSession->HasEnoughLines()) {
    if (fSession->IncludedLineCount() < lines)
      throw Error(Format("%s needs at least two included lines; %d of the table's %d are "
                         "included. Tick the lines to take into it.",
                         command, static_cast<int>(fSession->IncludedLineCount()),
                         static_cast<int>(lines)));
    throw Error(
        Format("%s needs at least two lines; the table holds %d. Read a measurement "
               "with two or more lines first.",
               command, static_cast<int>(lines)));
  }
}

void TMainForm::RunCommand(const QString& name, bool withProgress, std::function<void()> work,
                           std::function<void()> apply) {
  if (CommandRunning()) return;
  lineTable->TakeOverEdit();
  fStateBefore = fSession->SaveState();
  lineTable->Model()->Freeze();
  messageStatus->setText(name + "…");
  progressBar->setRange(0, withProgress ? 1 : 0);  // no steps known: a busy bar
  progressBar->setValue(0);
  progressBar->show();
  cancelButton->show();
  QApplication::setOverrideCursor(Qt::BusyCursor);
  fRunner->Start(std::move(work), [this, name, apply](std::exception_ptr error, bool cancelled) {
    QApplication::restoreOverrideCursor();
    progressBar->hide();
    cancelButton->hide();
    messageStatus->clear();
    if (cancelled || error) fSession->RestoreState(std::move(*fStateBefore));
    fStateBefore.reset();
    lineTable->Model()->Thaw();
    if (cancelled) {
      ShowStatusMessage(name + " was cancelled; nothing was changed.");
      return;
    }
    if (error) {
      Guard([error] { std::rethrow_exception(error); });
      return;
    }
    Guard(apply);
  });
}

void TMainForm::SetCommandInputsEnabled(bool enabled) {
  const std::initializer_list<QWidget*> inputs = {
      elementList, readButton, readSpectrumButton, nextFileButton, analyzeButton,
      lineGrid,    fileList,   methodPages,        modelPanel,     fPairInspector->showButton};
  for (QWidget* w : inputs) w->setEnabled(enabled);
  for (QAction* a : {readAction, readSpectrumAction, nextFileAction, fitAction, fitAllAction,
                     mapAction, analysisAction, undoAction})
    a->setEnabled(enabled);
  recentMenu->setEnabled(enabled && !recentMenu->isEmpty());
  cancelAction->setEnabled(!enabled);
}

// ---- fit and map -------------------------------------------------------------

void TMainForm::Fit() {
  Guard([this] { RunFit(); });
}

void TMainForm::RunFit() {
  RequireLines("A fit");
  const WindowFields f = CurrentFields();
  // The fit clears the map page; map fields that are no numbers leave it
  // empty rather than stop a fit that does not use them.
  auto cleared = std::make_shared<ResidualGrid>();
  try {
    *cleared = ZeroGrid(StrToInt(f.TemperaturePoints), StrToInt(f.DensityPoints));
  } catch (const std::exception&) {
    cleared->clear();
  }
  FitRequest request = fitPanel->Request(f, ElementMass());
  request.report.dataFileName = FileNamePart(fFileName);
  std::optional<MonteCarloRequest> refits;
  request.uncertainty = uncertaintyChoice->Choice();
  if (const std::optional<MonteCarloSettings> settings = fitPanel->MonteCarlo()) {
    // Without a chosen uncertainty the noise states it: it weights the fit
    // and the refits, as lumora-cli fit --noise does.
    if (!request.uncertainty.Weighted() && settings->noise > 0)
      request.uncertainty = {UncertaintySource::Relative, settings->noise};
    refits = MonteCarloRequestFor(request, *settings);
  }
  // Cancel stops the fit at its next iteration.
  request.beforeIteration = [runner = fRunner](int) { runner->StopIfCancelled(); };
  auto result = std::make_shared<FitResult>();
  auto levelUncertainties = std::make_shared<std::vector<double>>();
  auto spread = std::make_shared<MonteCarloResult>();
  if (refits)
    refits->progress = [runner = fRunner](int done, int total) {
      runner->ReportProgress(done, total);
    };
  RunCommand(
      refits ? "Fit with Monte Carlo refits" : "Fit", refits.has_value(),
      [this, request, result, refits, spread, levelUncertainties]() mutable {
        *result = fSession->Fit(request);
        *levelUncertainties = Log10LevelDensityUncertainties(fSession->Table(), *result);
        if (!refits) return;
        fRunner->StopIfCancelled();
        *spread = fSession->MonteCarlo(*refits, *result);
      },
      [this, result, cleared, refits, spread, levelUncertainties,
       weighting = request.uncertainty] {
        // A fit starts the residual map again: no map is shown.
        fMapGrid = std::move(*cleared);
        fMapRange = MapRange{};
        fCharts->ClearMap();
        AppendReport(result->report);
        // A weighted fit's chi-square follows its results line; unweighted
        // fits keep the report a table of results lines.
        if (result->weighted && !result->resultsLine.line.empty())
          AppendReport(FitUncertaintyLines(*result));
        fResultsCurrent = true;
        fFitUncertainty = result->weighted ? weighting : IntensityUncertainty{};
        fLevelUncertainties = std::move(*levelUncertainties);
        ShowFractions(0);
        if (refits)
          ShowMonteCarlo(*spread, *refits);
        else
          ClearUncertainty();
      });
}

// ---- fitting a folder ------------------------------------------------------

void TMainForm::FitAllFiles() {
  Guard([this] { RunFitAll(); });
}

std::vector<std::string> TMainForm::SeriesFiles(bool recordings) const {
  const QString folder = fFileName.isEmpty() ? fFileListFolder : QFileInfo(fFileName).absolutePath();
  if (folder.isEmpty() || !QDir(folder).exists())
    throw Error("Read a measurement or a spectrum first: the files of its folder are fitted.");
  // A camera file of several frames is a series of its own.
  if (recordings && IsSpeFile(Std(fFileName)) && SpeFile(Std(fFileName)).FrameCount() > 1)
    return {Std(fFileName)};
  QString pattern = "*.txt";
  if (recordings) {
    const QString name = QFileInfo(fFileName).fileName();
    pattern = name.endsWith(".recording.csv", Qt::CaseInsensitive)
                  ? "*.recording.csv"
                  : "*." + QFileInfo(fFileName).suffix();
  }
  std::vector<std::string> files;
  for (const QString& name :
       QDir(folder).entryList({pattern}, QDir::Files, QDir::Name | QDir::IgnoreCase))
    files.push_back(Std(QDir(folder).filePath(name)));
  if (files.empty())
    throw Error(Std("The folder " + folder + " holds no " +
                    (recordings ? "recordings (" + pattern + ")" : QString("measurements (*.txt)")) +
                    " to fit."));
  return files;
}

void TMainForm::RunFitAll() {
  if (CommandRunning()) return;
  const bool recordings = !fSpectrumLines.empty();
  SeriesRequest request;
  request.files = SeriesFiles(recordings);
  request.element = CurrentElementSource();
  request.fit = fitPanel->Request(CurrentFields(), ElementMass());
  request.fit.uncertainty = uncertaintyChoice->Choice();
  if (recordings) request.spectrum = SpectrumRequestFromFields(LoadSpectrumFields(*fSettings), "");
  // Camera files count as their frames.
  auto frames = std::make_shared<std::vector<RecordingFrame>>(SeriesOverFrames(request));
  // The panel's pattern is checked before any work.
  request.pattern = seriesPanel->Pattern();
  request.axis = seriesPanel->Axis();
  // Cancel stops the series at its next file or fit iteration.
  request.fit.beforeIteration = [runner = fRunner](int) { runner->StopIfCancelled(); };
  request.progress = [runner = fRunner](size_t done, size_t total) {
    runner->ReportProgress(static_cast<int>(done), static_cast<int>(total));
  };
  auto table = std::make_shared<SeriesTable>();
  RunCommand(
      "Fitting all files", true,
      [request, table, frames] {
        *table = FitSeries(request);
        PlaceFrameRows(*table, *frames, request);
      },
      // The second parameter as its check box names it, without "Fit ".
      [this, table, recordings, frames,
       second = Qt8(WindowFieldCaption(CurrentFields(), &WindowFields::FitTemperature))
                    .remove(QRegularExpression("^Fit "))] {
        const auto failed = std::count_if(table->rows.begin(), table->rows.end(),
                                          [](const SeriesRow& r) { return !r.fitted; });
        const auto notOk = std::count_if(table->rows.begin(), table->rows.end(),
                                         [](const SeriesRow& r) { return r.fitted && !r.ok; });
        fSeriesOfRecordings = recordings;
        fSeriesFrames = *frames;
        seriesPanel->ShowSeries(std::move(*table), second);
        chartPages->setCurrentIndex(kSeriesPage);
        ShowStatusMessage(Qt8(Format("%d files fitted: %d failed, %d ended \"not OK\".",
                                     static_cast<int>(seriesPanel->Table().rows.size()),
                                     static_cast<int>(failed), static_cast<int>(notOk))));
      });
}

void TMainForm::OpenSeriesFile(const QString& path) {
  if (!fSeriesOfRecordings) {
    OpenMeasurement(path);
    return;
  }
  if (CommandRunning() || !MayDiscardEdits()) return;
  // A point of a camera file's series is one of its frames.
  for (const RecordingFrame& frame : fSeriesFrames)
    if (frame.name == Std(path) && frame.frame) {
      Guard([this, frame] {
        StartSpectrumRead(Qt8(frame.path), LoadSpectrumFields(*fSettings), frame.frame);
      });
      return;
    }
  Guard([this, path] { StartSpectrumRead(path, LoadSpectrumFields(*fSettings)); });
}

void TMainForm::SaveSeries() {
  Guard([this] {
    if (seriesPanel->Empty()) throw Error("Fit all files first: their series is what is saved.");
    const QString path = fDialogs.ExportFile(DialogFolder(), "CSV table (*.csv)");
    if (path.isEmpty()) return;
    SaveSeriesCsv(Std(path), seriesPanel->Table().rows);
  });
}

void TMainForm::ShowMonteCarlo(const MonteCarloResult& result, const MonteCarloRequest& request) {
  AppendReport(MonteCarloReport(result, request));
  TResultCharts::RefitSamples refits;
  refits.log10N1 = result.log10N1Samples;
  refits.log10N1Percentiles = {result.log10N1.p2_5, result.log10N1.p50, result.log10N1.p97_5};
  if (result.second) {
    refits.second = result.secondSamples;
    refits.secondPercentiles = {result.second->p2_5, result.second->p50, result.second->p97_5};
    refits.secondAxis = SecondParameterAxis(request.fit.target.start.distribution);
  }
  refits.failed = result.failed;
  refits.failureNote = RefitFailureNote(result, request.fit.solver.iterationLimit);
  fCharts->ShowRefits(refits);
  const bool shown = !result.log10N1Samples.empty();
  chartPages->setTabEnabled(kUncertaintyPage, shown);
  if (shown) chartPages->setCurrentIndex(kUncertaintyPage);
}

void TMainForm::ClearUncertainty() {
  fCharts->ShowRefits({});
  chartPages->setTabEnabled(kUncertaintyPage, false);
}

void TMainForm::CreateMap() {
  Guard([this] { RunMap(); });
}

void TMainForm::RunMap() {
  RequireLines("A map");
  const WindowFields f = CurrentFields();
  MapRequest request = mapPanel->Request(f, ElementMass());
  request.dataFileName = FileNamePart(fFileName);
  // The same weights as the fit: the map then holds the fractions' chi-square.
  request.uncertainty = uncertaintyChoice->Choice();
  request.progress = [runner = fRunner](int done, int total) {
    runner->ReportProgress(done, total);
  };
  const bool save = mapPanel->SaveRequested();
  const std::string header = MapFileHeader(f);
  const QString file = fFileName;
  auto result = std::make_shared<MapResult>();
  auto regions = std::make_shared<std::vector<ConfidenceRegion>>();
  RunCommand(
      "Map", true,
      [this, request, result, regions] {
        *result = fSession->Map(request);
        // Two parameters need three lines or more for a region.
        const int lines = static_cast<int>(fSession->IncludedLineCount());
        if (lines > kConfidenceParameters)
          for (double level : kConfidenceLevels)
            regions->push_back(fSession->Confidence(*result, level));
      },
      [this, result, regions, save, header, file] {
        fMapGrid = std::move(result->grid);
        fMapRange = result->range;
        fMapDistribution = result->atMinimum.distribution;
        AppendReport(result->report);
        AppendReport(MapUncertaintyLines(*result));
        fCharts->ShowMap(fMapRange, fMapGrid, result->minimum, result->maximum,
                         MapSecondAxisTitle(fMapDistribution));
        fCharts->ShowContours(*regions);
        fResultsCurrent = true;
        fFitUncertainty = {};
        fLevelUncertainties.clear();
        ShowFractions(0);
        chartPages->setCurrentIndex(1);
        if (save && !fMapGrid.empty()) {
          // Without a measurement file there is no folder the map belongs to.
          if (file.isEmpty())
            throw Error("The map was not saved: no measurement file has been read.");
          const QString saved = Qt8(Session::SaveMap(Std(file), header, fMapGrid));
          ShowStatusMessage("Map saved to " + QDir::toNativeSeparators(saved) + ".");
        }
      });
}

double TMainForm::MapValueAt(double x, double y) const {
  return lumora::MapValueAt(fMapRange, fMapGrid, x, y);
}

void TMainForm::OnPointerOverMap(double x, double y) {
  QString text = MapReadout(fMapDistribution, x, y);
  if (const std::optional<GridCell> cell = NearestGridCell(fMapRange, fMapGrid, x, y))
    text += Qt8(Format("  -  RSS %.4e", fMapGrid[cell->row][cell->column]));
  pointerStatus->Show(fCharts->MapPlot(), text);
}

// ---- line analysis -------------------------------------------------------------

void TMainForm::AnalyzeLines() {
  Guard([this] { RunLineAnalysis(); });
}

void TMainForm::RunLineAnalysis() {
  if (CommandRunning()) return;
  const std::optional<QString> entered = fDialogs.Input(
      "Input simulation parameters", "from WL/nm, to WL/nm, min A/s-1, max E/eV, N range factor",
      Qt8(fAnalysisParameters));
  if (!entered) return;  // cancelled: nothing changes
  LineAnalysisRequest request;
  request.limits = ParseSimulationParameters(Std(*entered));
  const WindowFields f = CurrentFields();
  request.start =
      AnalysisStartFromFields(f.FitDensity, f.FitTemperature, f.Tn, f.Path, ElementMass());
  // The element's own pair when its section names one.
  if (const auto pair = ElementAnalysisPair(*fSettings, ElementName()))
    std::tie(request.pairX, request.pairY) = *pair;
  // Parameters the analysis refuses are not offered again.
  request.Validate();
  if (!MayDiscardEdits()) return;
  fAnalysisParameters = Std(*entered);
  RunAnalysis(request);
}

void TMainForm::RunAnalysis(LineAnalysisRequest request) {
  auto result = std::make_shared<LineAnalysisResult>();
  request.progress = [runner = fRunner](int done, int total) {
    runner->ReportProgress(done, total);
  };
  RunCommand(
      "Line analysis", true, [this, request, result] { *result = fSession->AnalyzeLines(request); },
      [this, request, result] { ShowAnalysisResult(*result, request); });
}

void TMainForm::ShowAnalysisResult(const LineAnalysisResult& result,
                                   const LineAnalysisRequest& request) {
  ClearUserData();
  ShowLineUncertainties();
  linePages->setCurrentIndex(0);
  linePages->setTabText(0, "Simulated lines");
  const SimulationParameters& l = request.limits;
  const std::string title = Format("simulated lines %g-%g nm (line analysis)", l.FromWL, l.ToWL);
  fSession->SetLinesSource(title);  // Ctrl+Z after a later read shows it so again
  ShowTitle(Qt8(title));
  fileList->setCurrentRow(-1);
  ShowFilePosition();
  fLastAnalysis = request;

  fAnalysisOutput = result.Output;
  fResultsCurrent = true;
  fFitUncertainty = {};
  fLevelUncertainties.clear();
  ShowFractions(1);
  for (const TAnalysisRecord& a : fAnalysisOutput) fAnalysisPairs.push_back({a.wli, a.wlj});
  fAnalysisOutput.clear();
  chartPages->setCurrentIndex(kAnalysisPage);

  std::vector<double> wavelengths;
  for (const TLineRecord& line : fSession->Table().lines) wavelengths.push_back(line.AR.WaveLength);
  std::sort(wavelengths.begin(), wavelengths.end());
  wavelengths.erase(std::unique(wavelengths.begin(), wavelengths.end()), wavelengths.end());
  fPairInspector->SetLines(wavelengths, request.pairX, request.pairY);

  const TRCurve& curve = result.Curve;
  const QString pair = Qt8(Format("%.4f/%.4f", request.pairX, request.pairY));
  if (curve.size() >= 2 && !curve[0].empty()) {
    fPairInspector->ShowCurve(result.RelativeDensity, curve[1], "R(N/N0) for line ratio " + pair,
                              static_cast<double>(request.start.log10N1));
  } else {
    const QString why =
        "The pair " + pair +
        " nm is not among the analysed lines: choose a pair in the pair "
        "inspector (Run > Pair inspector) or click a point of the \"Analysis\" chart.";
    fPairInspector->ShowNoCurve(why);
    AppendReport({Std(why)});
  }
}

void TMainForm::ShowPairInspector() {
  if (fPairInspector->hintLabel->text().isEmpty() && !fLastAnalysis)
    fPairInspector->ShowNoCurve("Run a line analysis first; its lines are offered here.");
  fPairInspector->Open();
}

void TMainForm::ShowPairCurve(double first, double second) {
  if (!fLastAnalysis || CommandRunning()) return;
  if (first == second) {
    fPairInspector->ShowNoCurve("Choose two different lines.");
    fPairInspector->Open();
    return;
  }
  // The ratio is drawn from a new analysis, which replaces the lines.
  if (!MayDiscardEdits()) return;
  LineAnalysisRequest request = *fLastAnalysis;
  request.pairX = first;
  request.pairY = second;
  RunAnalysis(request);
}

void TMainForm::OnAnalysisLegendClicked() { fCharts->ToggleAnalysisMarks(); }

}  // namespace lumora
