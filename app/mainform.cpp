#include "app/mainform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <cerrno>
#include <fstream>
#include <tuple>

#include "app/chart_readout.h"
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

const QColor BarPalette[13] = {
    QColor(0xFF, 0xFF, 0xFF), QColor(0xFF, 0x00, 0x00), QColor(0x00, 0x80, 0x00),
    QColor(0x00, 0x00, 0xFF), QColor(0x00, 0xFF, 0xFF), QColor(0xFF, 0x00, 0xFF),
    QColor(0xFF, 0xFF, 0x00), QColor(0x00, 0xFF, 0x00), QColor(0x00, 0x80, 0x80),
    QColor(0x80, 0x00, 0x00), QColor(0x80, 0x00, 0x80), QColor(0x80, 0x80, 0x00),
    QColor(0xC0, 0xC0, 0xC0)};

namespace {

constexpr int kMaxBarMarks = 50;       // bars marked only below this count
constexpr int kMaxDensityMarks = 20;   // density points marked up to this count
constexpr int kMaxAnalysisMarks = 20;  // analysis points marked below this count

void FillListing(QListWidget* list, const std::vector<std::string>& lines) {
  list->clear();
  for (const std::string& line : lines) list->addItem(Qt8(line));
}

}  // namespace

TMainForm::TMainForm(const std::string& settingsPath, TFormDialogs dialogs, QWidget* parent)
    : QMainWindow(parent), fSettings(std::make_unique<Settings>(settingsPath)) {
  setObjectName("TMainForm");
  setWindowTitle("Lumora");
  fDialogs = WithStandardDialogs(std::move(dialogs), this);
  // Messages of a command on the worker thread are shown on this one.
  fSession = std::make_unique<Session>(SessionOptions{
      {}, [this](const std::string& text) {
        const QString message = Qt8(text);
        if (QThread::currentThread() == thread())
          fDialogs.ShowMessage(message);
        else
          QMetaObject::invokeMethod(
              this, [this, message] { fDialogs.ShowMessage(message); }, Qt::QueuedConnection);
      }});
  fRunner = new TCommandRunner(this);
  BuildLayout();
  BuildMenus();
  AddTooltips();
  setAcceptDrops(true);
  resize(1280, 860);  // the size where no window manager maximises it
  FormCreate();
  ConnectHandlers();
}

TMainForm::~TMainForm() {
  // The worker must stop before the session it works on goes.
  fRunner->CancelAndWait();
  // Destroying the child widgets moves the focus, and this window's part of
  // the object is gone by then.
  disconnect(fFocusWatch);
  // The views over the session go before it: the table's model reads the
  // session's lines while its view is taken down.
  delete takeCentralWidget();
}

void TMainForm::Guard(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& e) {
    fDialogs.ShowError(Qt8(UserMessage(e, "this command")));
  }
}

void TMainForm::ConnectHandlers() {
  connect(elementList, &QComboBox::activated, this, [this] { OnElementChosen(); });
  connect(readButton, &QPushButton::clicked, this, [this] { OnRead(readButton); });
  connect(readSpectrumButton, &QPushButton::clicked, this, [this] { ReadSpectrum(); });
  connect(nextFileButton, &QPushButton::clicked, this, [this] { OnNextFile(); });
  connect(fileList, &QListWidget::itemClicked, this, [this] { OnFileChosen(); });
  connect(saveTableButton, &QPushButton::clicked, this, [this] { SaveTable(); });
  connect(analyzeButton, &QPushButton::clicked, this, [this] { AnalyzeLines(); });
  connect(fitPanel, &FitPanel::FitRequested, this, [this] { Fit(); });
  connect(mapPanel, &MapPanel::MapRequested, this, [this] { CreateMap(); });
  connect(saveReportButton, &QPushButton::clicked, this, [this] { SaveReport(); });
  connect(seriesPanel, &SeriesPanel::FileClicked, this,
          [this](const QString& path) { OpenSeriesFile(path); });
  connect(seriesPanel, &SeriesPanel::SaveRequested, this, [this] { SaveSeries(); });
  connect(seriesPanel, &SeriesPanel::PatternRefused, this,
          [this](const QString& message) { ShowStatusMessage(message); });
  connect(clearReportButton, &QToolButton::clicked, this, [this] { ClearReport(); });
  connect(modelPanel, &ModelPanel::DistributionChosen, this, [this] { OnDistributionChosen(); });
  connect(lineTable, &LineTableController::LinesEdited, this, [this] {
    // Fitted values belong to the intensities they were fitted to.
    fResultsCurrent = false;
    if (fSession->HasEnoughLines())
      ShowFractions(0);
    else
      lineTable->Model()->Refresh();
  });
  connect(lineTable, &LineTableController::StatusMessage, this, &TMainForm::ShowStatusMessage);
  connect(uncertaintyChoice, &UncertaintyChoice::Changed, this, [this] {
    ShowLineUncertainties();
    if (fSession->HasEnoughLines() && lineGrid->RowCount() > 1) ShowFractions(fShownRegime);
  });
  // What showed the element before empties itself when it goes.
  connect(this, &TMainForm::ElementReplaced, seriesPanel, &SeriesPanel::Clear);
  connect(this, &TMainForm::ElementReplaced, fPairInspector, &TPairInspectorForm::Clear);
  connect(this, &TMainForm::ElementReplaced, this, &TMainForm::ForgetFilesShown);
  connect(cancelButton, &QPushButton::clicked, this, &TMainForm::CancelCommand);
  connect(fRunner, &TCommandRunner::Progress, this, [this](int done, int total) {
    progressBar->setRange(0, total);
    progressBar->setValue(done);
  });
  connect(fRunner, &TCommandRunner::RunningChanged, this,
          [this](bool running) { SetCommandInputsEnabled(!running); });
  connect(fPairInspector, &TPairInspectorForm::PairChosen, this, &TMainForm::ShowPairCurve);
  connect(fCharts, &TResultCharts::AnalysisPointClicked, this, [this](int index) {
    if (index >= 0 && index < static_cast<int>(fAnalysisPairs.size()))
      ShowPairCurve(fAnalysisPairs[index].first, fAnalysisPairs[index].second);
  });
  connect(fCharts, &TResultCharts::ExportRequested, this,
          [this](int page, const QString& format) { ExportChartAs(page, format); });
  connect(fCharts, &TResultCharts::SaveDataRequested, this, &TMainForm::SaveChartData);
  fFocusWatch =
      connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        const auto inGrid = [this](QWidget* w) {
          return w && (w == lineGrid || lineGrid->isAncestorOf(w));
        };
        if (inGrid(old) && now && !inGrid(now) && now->window() == this) OnGridLeft();
      });
  connect(fCharts, &TResultCharts::PointerOverResults, this, &TMainForm::OnPointerOverFractions);
  connect(fCharts, &TResultCharts::PointerOverMap, this, &TMainForm::OnPointerOverMap);
  connect(fCharts, &TResultCharts::PointerOverDensities, this,
          [this](double energy, double log10Density) {
            pointerStatus->Show(fCharts->DensityChart(), DensityChartReadout(energy, log10Density));
          });
  connect(fCharts, &TResultCharts::PointerOverAnalysis, this,
          [this](double r, double wavelength, const QString& pair) {
            pointerStatus->Show(fCharts->AnalyzeChart(), AnalysisChartReadout(r, wavelength, pair));
          });
  connect(fCharts, &TResultCharts::AnalysisLegendClicked, this,
          &TMainForm::OnAnalysisLegendClicked);
}

// ---- creation and close -------------------------------------------------

void TMainForm::FormCreate() {
  fDatabaseFolder = fSettings->ReadString("_Files", "Database", "");
  fInitialFolder = Qt8(fSettings->ReadString("_Files", "Measurements", kDefaultMeasurementsFolder));
  for (const std::string& name : fSettings->ElementNames()) elementList->addItem(Qt8(name));
  const int index = fSettings->ReadInteger("_Parameters", "DefaultAtom", 0);
  elementList->setCurrentIndex(index >= 0 && index < elementList->count() ? index : -1);
  FillFields(LoadWindowFields(*fSettings, ElementName()));

  linePages->setCurrentIndex(0);
  chartPages->setCurrentIndex(0);
  methodPages->setCurrentIndex(0);
  chartPages->setTabEnabled(kAnalysisPage, false);                 // until a line analysis fills it
  chartPages->setTabEnabled(kUncertaintyPage, false);  // until refits fill it
  chartPages->setTabEnabled(kSpectrumPage, false);     // until a spectrum is read
  Guard([this] { PrepareMapPage(); });

  ShowLineUncertainties();
  if (QDir(fInitialFolder).exists()) ShowFileList(fInitialFolder, QString());

  OnElementChosen();
}

void TMainForm::FillFields(const WindowFields& fields) {
  mapPanel->Fill(fields);
  fitPanel->Fill(fields);
  modelPanel->Fill(fields);
}

// The residual map sized by the map fields and the plot's range before any map.
void TMainForm::PrepareMapPage() {
  const WindowFields f = CurrentFields();
  fMapGrid = ZeroGrid(StrToInt(f.TemperaturePoints), StrToInt(f.DensityPoints));
  const MapRequest grid = mapPanel->Grid(f);
  fMapDistribution = static_cast<Distribution>(f.Distribution);
  fCharts->SetMapRange(grid.log10FromDensity, grid.fromTemperature, grid.log10ToDensity,
                       grid.toTemperature, MapSecondAxisTitle(fMapDistribution));
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Unsaved intensity edits are not dropped without asking, as for Read.
  if (!fClosed && !MayDiscardEdits()) {
    event->ignore();
    return;
  }
  fRunner->CancelAndWait();  // closing cancels: the command changes nothing
  SaveFieldsOnClose();
  fPairInspector->close();
  event->accept();
}

void TMainForm::SaveFieldsOnClose() {
  if (fClosed) return;
  fClosed = true;
  Guard([this] { WriteSettingsBack(); });
}

// In this order; a field that does not convert ends the writing there.
void TMainForm::WriteSettingsBack() {
  Settings& s = *fSettings;
  const WindowFields f = CurrentFields();
  s.WriteFloat("_Iteration", "FromDensity", StrToFloat(f.FromDensity));
  s.WriteFloat("_Iteration", "ToDensity", StrToFloat(f.ToDensity));
  s.WriteInteger("_Iteration", "DensityPoints", StrToInt(f.DensityPoints));
  s.WriteFloat("_Iteration", "FromTemperature", StrToFloat(f.FromTemperature));
  s.WriteFloat("_Iteration", "ToTemperature", StrToFloat(f.ToTemperature));
  s.WriteInteger("_Iteration", "TemperaturePoints", StrToInt(f.TemperaturePoints));
  s.WriteFloat("_Fit", "FromDensity", StrToFloat(f.FitDensity));
  s.WriteFloat("_Fit", "FromTemperature", StrToFloat(fitPanel->TemperatureStart()));
  s.WriteInteger("_Fit", "Count", StrToInt(f.MaxIter));
  s.WriteFloat("_Parameters", "Tn", StrToFloat(f.Tn));
  s.WriteFloat("_Parameters", "Path", StrToFloat(f.Path));
  s.WriteInteger("_Parameters", "DefaultAtom", elementList->currentIndex());
  // With no element selected there is no section to keep the count in.
  const std::string element = ElementName();
  if (!element.empty()) s.WriteInteger(element, "Boltzmax", StrToInt(f.Count));
}

// ---- element change ------------------------------------------------------

std::string TMainForm::ElementName() const { return Std(elementList->currentText()); }

double TMainForm::ElementMass() const { return ElementMassAmu(*fSettings, ElementName()); }

ElementSource TMainForm::CurrentElementSource() const {
  const std::string element = ElementName();
  return {fDatabaseFolder, fSettings->ReadString(element, "Levels", ""),
          fSettings->ReadString(element, "Lines", "")};
}

void TMainForm::OnElementChosen() {
  // The lines of one element mean nothing to another: they go, after asking.
  if (elementList->currentIndex() != fShownElement && !MayDiscardEdits()) {
    elementList->setCurrentIndex(fShownElement);
    return;
  }
  const bool replacing = fShownElement >= 0;
  fShownElement = elementList->currentIndex();
  Guard([this] { ChangeElementNow(); });
  if (replacing) emit ElementReplaced();
}

void TMainForm::ChangeElementNow() {
  const std::string element = ElementName();
  const ElementListings listings = fSession->ChangeElement(CurrentElementSource());
  ClearUserData();
  FillListing(levelsList, listings.levels);
  FillListing(linesList, listings.lines);
  modelPanel->SetLevelCount(fSettings->ReadInteger(element, "Boltzmax", 1));
  QStringList structure;
  for (const std::string& line : listings.structure) structure << Qt8(line);
  structureMemo->setPlainText(structure.join('\n'));
}

void TMainForm::ForgetFilesShown() {
  ShowTitle(QString());
  fFileListFolder.clear();
  fileList->clear();
  ShowFilePosition();
  // The series' files and analysis belong to the element before.
  fSeriesOfRecordings = false;
  fSeriesFrames.clear();
  fLastAnalysis.reset();
}

// ---- the line table -------------------------------------------------------

// Every view of the lines and of results computed from them is emptied.
void TMainForm::ClearUserData() {
  lineTable->ShowNewLines();
  fResultsCurrent = false;
  fFitUncertainty = {};
  fLevelUncertainties.clear();
  fCharts->ClearBranchingFractions();
  fCharts->ShowDensities({}, false);
  fCharts->ShowAnalysis({}, false);
  fAnalysisPairs.clear();
  chartPages->setTabEnabled(kAnalysisPage, false);
  ClearUncertainty();
  ClearSpectrum();
  // A page that was just emptied and disabled is no place to stay.
  if (!chartPages->isTabEnabled(chartPages->currentIndex())) chartPages->setCurrentIndex(0);
  fCharts->ClearMap();
  // Map fields that are no numbers size no map; the map command says why.
  try {
    PrepareMapPage();
  } catch (const std::exception&) {
    fMapGrid.clear();
  }
  fMapRange = MapRange{};
  pointerStatus->clear();
  messageStatus->clear();
}

// Each line's intensity uncertainty as the choice states it.
void TMainForm::ShowLineUncertainties() {
  lineTable->ShowUncertaintyChoice(uncertaintyChoice->ShownChoice());
}

void TMainForm::UndoEdit() {
  if (CommandRunning()) return;
  lineTable->TakeOverEdit();
  const std::optional<LineHistory::Step> next = fSession->NextUndo();
  if (next == LineHistory::Step::Edit) lineTable->UndoEdit();
  if (next != LineHistory::Step::Replacement) return;
  Guard([this] {
    fSession->Undo();
    ShowRestoredLines();
  });
}

// The lines before a replacement, shown as when they were read (a spectrum
// with its page); fitted values are not brought back.
void TMainForm::ShowRestoredLines() {
  const QString source = Qt8(fSession->LinesSource());
  const QFileInfo file(source);
  if (fSession->LinesFromSpectrum()) {
    fSpectrumFrame.reset();
    ShowSpectrumRead(source, *fSession->Integration(), fSession->MeasurementLines());
    return;
  }
  ClearUserData();
  linePages->setTabText(0, file.isFile() || source.isEmpty() ? "Selected lines" : "Simulated lines");
  ShowLineUncertainties();
  ShowTitle(source);
  if (file.isFile()) {
    fFileName = file.absoluteFilePath();
    ShowFileList(file.absolutePath(), file.fileName());
  } else {
    fileList->setCurrentRow(-1);
  }
  ShowFilePosition();
  if (fSession->HasEnoughLines()) Recalculate();
  ShowStatusMessage("The lines shown before were brought back.");
}

void TMainForm::CopyTableSelection() { lineTable->CopySelection(); }

bool TMainForm::CanSelectCell(int, int) { return lineTable->TakeOverEdit(); }

void TMainForm::OnGridLeft() { lineTable->TakeOverEdit(); }

void TMainForm::ShowStatusMessage(const QString& text) { messageStatus->setText(text); }

// ---- recalculation and the result views -----------------------------------

void TMainForm::Recalculate() {
  fSession->Recalculate();
  // Fitted values belong to the intensities they were fitted to.
  fResultsCurrent = false;
  ShowFractions(0);
}

void TMainForm::ShowFractions(int regime) {
  fShownRegime = regime;
  fCharts->ClearBranchingFractions();
  const LineTable& table = fSession->Table();
  // The measured fractions' uncertainties as the choice states them, and
  // as the fit shown was weighted; a line analysis has no measurement.
  const auto fractionUncertainties = [&table](const IntensityUncertainty& uncertainty) {
    std::vector<double> sigmas;
    for (const TLineRecord& line : table.lines)
      sigmas.push_back(LineIntensityUncertainty(line, uncertainty));
    return MeasuredFractionUncertainties(table.lines, sigmas);
  };
  const std::vector<double> shownU = fractionUncertainties(
      regime == 0 ? uncertaintyChoice->ShownChoice() : IntensityUncertainty{});
  LineTableModel::Shown shown;
  shown.fractions = true;
  shown.fitted = fResultsCurrent;
  shown.measured = regime == 0;
  shown.choice = uncertaintyChoice->ShownChoice();
  shown.fitWeighting = fFitUncertainty;
  lineTable->Show(shown);
  for (int r = 1; r < lineGrid->RowCount(); ++r) {
    CheckIndex(r - 1, table.lines.size());
    const TLineRecord& line = table.lines[r - 1];
    const bool fitted = fResultsCurrent && !line.Excluded;
    const bool residual = fitted && regime == 0;
    // An excluded line has no fractions to draw.
    if (line.Excluded) continue;
    const int colour = ((line.UpperState % 13) + 13) % 13;
    fCharts->AddLine(line.AR.WaveLength, line.G_t, line.G_m,
                     fitted ? std::optional<double>(line.G_f) : std::nullopt, BarPalette[colour],
                     residual, shownU[r - 1]);
  }
  const bool analysis = regime == 1;
  fCharts->FinishBranchingFractions(lineGrid->RowCount() - 1 < kMaxBarMarks,
                                    analysis ? "starting density" : "measured",
                                    analysis ? "final density" : "fitted");

  std::vector<TResultCharts::LabelledPoint> densities;
  std::vector<double> densityUncertainties;  // of log10 N, when the fit shown stated them
  const bool withU = fResultsCurrent && fLevelUncertainties.size() == table.levels.size();
  const int n = std::min<long long>(StrToInt(CurrentFields().Count),
                                    static_cast<long long>(table.levels.size()));
  for (int i = 0; fResultsCurrent && i < n; ++i) {
    const TLevelRecord& level = table.levels[i];
    if (level.Density <= 0) continue;
    densities.push_back({level.Energy, static_cast<double>(fp::Log10(level.Density)),
                         Qt8(Format("%.3f - %.2e", level.Energy, level.Density))});
    if (withU) densityUncertainties.push_back(fLevelUncertainties[i]);
  }
  fCharts->ShowDensities(densities, densities.size() <= kMaxDensityMarks, densityUncertainties);

  std::vector<TResultCharts::LabelledPoint> pairs;
  if (!analysis) fAnalysisPairs.clear();
  if (analysis)
    for (const TAnalysisRecord& a : fAnalysisOutput)
      pairs.push_back({a.SR, std::min(a.wli, a.wlj), Qt8(Format("%.4f/%.4f", a.wli, a.wlj))});
  chartPages->setTabEnabled(kAnalysisPage, analysis);
  fCharts->ShowAnalysis(pairs, pairs.size() < kMaxAnalysisMarks);
}

void TMainForm::OnPointerOverFractions(double wavelength, double fraction) {
  pointerStatus->Show(fCharts->EBFChart(),
                      Qt8(Format("wavelength %8.5f  -  EBF %6.3f", wavelength, fraction)));
}

// ---- fields -----------------------------------------------------------------

WindowFields TMainForm::CurrentFields() const {
  WindowFields f;
  mapPanel->Collect(f);
  fitPanel->Collect(f);
  modelPanel->Collect(f);
  f.ReportKind = reportKindCombo->currentIndex();
  return f;
}

void TMainForm::OnDistributionChosen() {
  const Distribution distribution = modelPanel->CurrentDistribution();
  fitPanel->ShowDistribution(distribution);
  mapPanel->ShowDistribution(distribution);
  // Before a map, its empty plot names the new second axis.
  if (fMapRange.dx == 0 && fMapRange.dy == 0) {
    try {
      PrepareMapPage();
    } catch (const std::exception&) {
    }
  }
  if (const std::optional<int> count = ChoiceFor(distribution).levelCount)
    modelPanel->SetLevelCount(*count);
}

// ---- saving and the report ---------------------------------------------------

void TMainForm::SaveTable() {
  Guard([this] { SaveTableToChosenFile(); });
}

// The cells as the table shows them, with each line's inclusion and
// uncertainty, so that "Read intensities" takes the lines back.
bool TMainForm::SaveTableToChosenFile() {
  lineTable->TakeOverEdit();
  const QString path = fDialogs.SaveFile(fInitialFolder);
  if (path.isEmpty()) return false;
  std::vector<LineTableRow> rows;
  for (int r = 0; r < lineGrid->RowCount(); ++r) {
    LineTableRow row;
    for (int col = 0; col < TLineGrid::kSavedColumns; ++col)
      row[col] = Std(lineGrid->Cell(col, r));
    rows.push_back(row);
  }
  std::vector<bool> excluded;
  std::vector<double> uncertainties;
  for (const TLineRecord& line : fSession->Table().lines) {
    excluded.push_back(line.Excluded);
    uncertainties.push_back(line.IntSigma);
  }
  Session::SaveTable(Std(path), rows, excluded, uncertainties);
  fSession->MarkLinesSaved();
  return true;
}

void TMainForm::SaveReport() {
  Guard([this] {
    const QString path = fDialogs.SaveFile(fInitialFolder);
    if (path.isEmpty()) return;
    std::vector<std::string> lines;
    const QString report = reportMemo->toPlainText();
    if (!report.isEmpty())
      for (const QString& line : report.split('\n')) lines.push_back(Std(line));
    Session::SaveReport(Std(path), lines);
  });
}

// The next results line starts under its header again.
void TMainForm::ClearReport() {
  reportMemo->clear();
  fSession->ResetResultsLines();
}

void TMainForm::AppendReport(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) reportMemo->appendPlainText(Qt8(line));
  // To the last line, its start in view.
  reportMemo->moveCursor(QTextCursor::End);
  reportMemo->moveCursor(QTextCursor::StartOfLine);
  reportMemo->ensureCursorVisible();
}

// ---- charts ------------------------------------------------------------------

void TMainForm::ExportChart() { ExportChartAs(chartPages->currentIndex(), "png"); }

void TMainForm::ExportChartAs(int page, const QString& format) {
  std::vector<QCustomPlot*> plots = fCharts->Plots();
  plots.push_back(seriesPanel->Chart());  // the page after the result charts
  if (page < 0 || page >= static_cast<int>(plots.size())) return;
  Guard([&] {
    const QString path = fDialogs.ExportFile(DialogFolder(), ExportFilter(format));
    if (path.isEmpty()) return;
    // The size shown by default, the resolution and style of the last export.
    const QSize shown = PlotSize(plots[page]);
    fExportOptions.width = shown.width();
    fExportOptions.height = shown.height();
    const std::optional<ChartExportOptions> options = fDialogs.ExportOptions(fExportOptions);
    if (!options) return;
    fExportOptions = *options;
    ExportPlot(plots[page], path, *options);
  });
}

void TMainForm::SaveChartData(int page) {
  const std::vector<QCustomPlot*> plots = fCharts->Plots();
  if (page < 0 || page >= static_cast<int>(plots.size())) return;
  Guard([&] {
    const QString path = fDialogs.ExportFile(DialogFolder(), "CSV table (*.csv)");
    if (path.isEmpty()) return;
    std::vector<std::string> lines;
    for (const QString& row : ChartDataCsv(plots[page])) lines.push_back(Std(row));
    Session::SaveReport(Std(path), lines);
  });
}

}  // namespace lumora
