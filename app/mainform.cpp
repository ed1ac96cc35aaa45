#include "app/mainform.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QToolButton>
#include <QUrl>
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

std::string FileNamePart(const QString& file) { return Std(QFileInfo(file).fileName()); }

constexpr int kUncertaintyPage = 4;
constexpr int kSpectrumPage = 5;
constexpr int kSeriesPage = 6;

// The joint confidence regions the map outlines.
constexpr double kConfidenceLevels[] = {0.68, 0.95};

constexpr int kRecentFiles = 6;
const char* const kRecentSection = "_Recent";

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
            pointerStatus->setText(DensityChartReadout(energy, log10Density));
          });
  connect(fCharts, &TResultCharts::PointerOverAnalysis, this,
          [this](double r, double wavelength, const QString& pair) {
            pointerStatus->setText(AnalysisChartReadout(r, wavelength, pair));
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
  chartPages->setTabEnabled(3, false);                 // until a line analysis fills it
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
  fShownElement = elementList->currentIndex();
  Guard([this] { ChangeElementNow(); });
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

// ---- reading measurements and the file list -------------------------------

QString TMainForm::DialogFolder() const {
  return fFileName.isEmpty() ? fInitialFolder : QFileInfo(fFileName).absolutePath();
}

void TMainForm::OnRead(QObject* sender) {
  Guard([this, sender] { ReadIntensities(sender); });
}

void TMainForm::OpenMeasurement(const QString& path) {
  if (CommandRunning() || !MayDiscardEdits()) return;
  fFileName = QFileInfo(path).absoluteFilePath();
  OnRead(fileList);
}

void TMainForm::OpenFile(const QString& path) {
  if (!path.endsWith(".recording.csv", Qt::CaseInsensitive) && !IsSpeFile(Std(path))) {
    OpenMeasurement(path);
    return;
  }
  if (CommandRunning() || !MayDiscardEdits()) return;
  const QString file = QFileInfo(path).absoluteFilePath();
  Guard([this, file] {
    std::optional<size_t> frame;
    if (ChooseFrame(file, frame)) StartSpectrumRead(file, LoadSpectrumFields(*fSettings), frame);
  });
}

bool TMainForm::MayDiscardEdits() {
  lineTable->TakeOverEdit();
  if (!HasUnsavedEdits()) return true;
  switch (fDialogs.AskUnsaved(
      "The line table has changes (intensities, lines taken in or left out) that were not "
      "saved. Discard them?")) {
    case UnsavedAnswer::Save:
      return SaveTableToChosenFile();
    case UnsavedAnswer::Discard:
      return true;
    case UnsavedAnswer::Cancel:
      break;
  }
  return false;
}

void TMainForm::ShowTitle(const QString& subject) {
  setWindowTitle(subject.isEmpty() ? QString("Lumora") : "Lumora - " + subject);
}

void TMainForm::ReadIntensities(QObject* sender) {
  // The file the table shows now; a read that fails keeps it.
  const QString shown = fFileName;
  if (sender == readButton) {
    const QString chosen = fDialogs.OpenFile(DialogFolder());
    if (chosen.isEmpty() || !MayDiscardEdits()) {
      ShowFilePosition();
      return;
    }
    fFileName = QFileInfo(chosen).absoluteFilePath();
  }
  const QFileInfo file(fFileName);
  // The lines and their fractions first: a file that cannot be read, or
  // whose lines the model refuses, changes neither the session nor a view.
  Session::State before = fSession->SaveState();
  try {
    // The third column is kept where it is an uncertainty, so that the
    // user may weight by it without reading the file again.
    fSession->ReadMeasurement(Std(fFileName), UncertaintyColumn::WherePresent);
    if (fSession->HasEnoughLines()) fSession->Recalculate();
  } catch (...) {
    fSession->RestoreState(std::move(before));
    fFileName = shown;
    // The list stands on the file that failed, so that "Next file" goes on
    // past it.
    if (file.dir().exists()) ShowFileList(file.absolutePath(), file.fileName());
    ShowFilePosition();
    ShowStatusMessage("Nothing was read from " + file.fileName() +
                      (fSession->Table().lines.empty() ? QString(".")
                                                       : "; the table keeps the lines shown."));
    throw;
  }
  ClearUserData();
  linePages->setTabText(0, "Selected lines");
  if (fSession->HasEnoughLines())
    ShowFractions(0);
  else
    ShowStatusMessage(Qt8(Format("%d line read: branching fractions need at least two lines.",
                                 static_cast<int>(fSession->IncludedLineCount()))));
  linePages->setCurrentIndex(0);
  ShowTitle(fFileName);
  ShowFileList(file.absolutePath(), file.fileName());
  fSettings->WriteString("_Files", "Measurements", Std(file.absolutePath()));
  RememberRecentFile(fFileName);
  ShowFilePosition();
}

void TMainForm::ReadSpectrum() {
  Guard([this] { RunSpectrumRead(); });
}

void TMainForm::RunSpectrumRead() {
  if (CommandRunning()) return;
  const QString chosen = fDialogs.OpenSpectrum(DialogFolder());
  if (chosen.isEmpty()) return;
  std::optional<size_t> frame;
  if (!ChooseFrame(chosen, frame)) return;
  const std::optional<SpectrumFields> fields =
      fDialogs.SpectrumOptions(LoadSpectrumFields(*fSettings));
  if (!fields || !MayDiscardEdits()) return;
  // Kept as typed, so that the dialog offers them again even when refused.
  SaveSpectrumFields(*fSettings, *fields);
  StartSpectrumRead(QFileInfo(chosen).absoluteFilePath(), *fields, frame);
}

bool TMainForm::ChooseFrame(const QString& path, std::optional<size_t>& frame) {
  frame.reset();
  if (!IsSpeFile(Std(path))) return true;
  const SpeFile file(Std(path));
  if (file.FrameCount() < 2) return true;
  const int frames = static_cast<int>(std::min<size_t>(file.FrameCount(), INT_MAX));
  const std::optional<int> chosen = fDialogs.ChooseFrame(path, frames);
  if (!chosen) return false;
  frame = static_cast<size_t>(std::clamp(*chosen, 1, frames) - 1);
  return true;
}

void TMainForm::StartSpectrumRead(const QString& path, const SpectrumFields& fields,
                                  std::optional<size_t> frame) {
  CheckSpectrumNumbers(fields);
  SpectrumRequest request = SpectrumRequestFromFields(fields, Std(path));
  request.frame = frame;
  auto integration = std::make_shared<IntegrationResult>();
  auto lines = std::make_shared<std::vector<std::string>>();
  RunCommand(
      "Reading the spectrum", false,
      [this, request, integration, lines] {
        *integration = fSession->ReadSpectrum(request);
        *lines = fSession->MeasurementLines();
      },
      [this, path, integration, lines, frame] {
        fSpectrumFrame = frame;
        ShowSpectrumRead(path, *integration, std::move(*lines));
      });
}

// The table as "Read intensities" fills it, from the unflagged lines.
void TMainForm::ShowSpectrumRead(const QString& path, const IntegrationResult& integration,
                                 std::vector<std::string> measurementLines) {
  ClearUserData();
  linePages->setTabText(0, "Selected lines");
  fFileName = path;
  const int flagged =
      static_cast<int>(std::count_if(integration.lines.begin(), integration.lines.end(),
                                     [](const LineIntegral& l) { return l.flags != 0; }));
  QString summary =
      Qt8(Format("%d lines integrated, %d flagged; FWHM %.4f nm%s, shift %.4f nm%s.",
                 static_cast<int>(integration.lines.size()), flagged, integration.fwhm,
                 integration.fwhmEstimated ? " (estimated)" : "", integration.shift,
                 integration.noShiftFound ? " (no shift found)" : ""));
  if (const std::string note = NoiseNote(integration); !note.empty()) summary += Qt8(" " + note);
  if (fSpectrumFrame) summary = QString("Frame %1: ").arg(*fSpectrumFrame + 1) + summary;
  if (const std::string exposure = ExposureNote(integration.spectrum.header); !exposure.empty())
    summary += Qt8(" " + exposure + ".");
  if (fSession->HasEnoughLines())
    Recalculate();
  else
    summary += Qt8(Format(" %d line read: branching fractions need at least two lines.",
                          static_cast<int>(fSession->IncludedLineCount())));
  fSpectrumLines = std::move(measurementLines);
  fCharts->ShowSpectrum(&integration);
  chartPages->setTabEnabled(kSpectrumPage, true);
  chartPages->setCurrentIndex(kSpectrumPage);
  saveLinesAction->setEnabled(true);
  linePages->setCurrentIndex(0);
  ShowTitle(path);
  fileList->setCurrentRow(-1);
  ShowFilePosition();
  ShowStatusMessage(summary);
}

void TMainForm::ClearSpectrum() {
  fSpectrumLines.clear();
  fCharts->ShowSpectrum(nullptr);
  chartPages->setTabEnabled(kSpectrumPage, false);
  saveLinesAction->setEnabled(false);
}

void TMainForm::SaveSpectrumLines() {
  Guard([this] {
    if (fSpectrumLines.empty()) throw Error("Read a spectrum first: its lines are what is saved.");
    const QString path = fDialogs.SaveFile(DialogFolder());
    if (path.isEmpty()) return;
    // The lines as Session::SaveMeasurementLines writes them: CR LF ended.
    Session::SaveReport(Std(path), fSpectrumLines);
  });
}

void TMainForm::ShowFileList(const QString& folder, const QString& selectName) {
  fFileListFolder = folder;
  fileList->clear();
  const QStringList names =
      QDir(folder).entryList({"*.txt"}, QDir::Files, QDir::Name | QDir::IgnoreCase);
  fileList->addItems(names);
  fileList->setCurrentRow(selectName.isEmpty() ? -1 : static_cast<int>(names.indexOf(selectName)));
}

void TMainForm::ShowFilePosition() {
  const int count = fileList->count();
  fileStatus->setText(count >= 2 && fileList->currentRow() >= 0
                          ? Qt8(Format("  File %d/%d in folder", fileList->currentRow() + 1, count))
                          : QString());
}

void TMainForm::OnNextFile() {
  const int count = fileList->count();
  if (count == 0 || CommandRunning() || !MayDiscardEdits()) return;
  const int current = fileList->currentRow();
  // Past the last file the list starts again, which the user is told.
  const bool wraps = count >= 2 && current == count - 1;
  const QString last = wraps ? fileList->currentItem()->text() : QString();
  fileList->setCurrentRow(current < 0 ? 0 : (current + 1) % count);
  fFileName = QDir(fFileListFolder).filePath(fileList->currentItem()->text());
  OnRead(nextFileButton);
  if (wraps && fFileName == Qt8(fSession->LinesSource()))
    ShowStatusMessage(last + " was the last file of the folder; the first one was read.");
}

void TMainForm::OnFileChosen() {
  if (fileList->count() == 0 || !fileList->currentItem()) return;
  if (!MayDiscardEdits()) {
    // The list goes back to the file the table shows.
    const QFileInfo shown(fFileName);
    fileList->setCurrentRow(shown.absolutePath() == QFileInfo(fFileListFolder).absoluteFilePath()
                                ? static_cast<int>(fileList->row(
                                      fileList->findItems(shown.fileName(), Qt::MatchExactly)
                                          .value(0)))
                                : -1);
    return;
  }
  fFileName = QDir(fFileListFolder).filePath(fileList->currentItem()->text());
  OnRead(fileList);
}

void TMainForm::RememberRecentFile(const QString& path) {
  QStringList files{path};
  for (int i = 1; i <= kRecentFiles; ++i) {
    const QString file = Qt8(fSettings->ReadString(kRecentSection, Format("File%d", i), ""));
    if (!file.isEmpty() && file != path && files.size() < kRecentFiles) files << file;
  }
  // A settings file that cannot be written keeps its list; reading went well.
  try {
    for (int i = 0; i < kRecentFiles; ++i)
      fSettings->WriteString(kRecentSection, Format("File%d", i + 1),
                             i < files.size() ? Std(files[i]) : std::string());
  } catch (const std::exception&) {
  }
  ShowRecentFiles();
}

void TMainForm::ShowRecentFiles() {
  recentMenu->clear();
  for (int i = 1; i <= kRecentFiles; ++i) {
    const QString file = Qt8(fSettings->ReadString(kRecentSection, Format("File%d", i), ""));
    if (file.isEmpty()) continue;
    recentMenu->addAction(QString("&%1 %2").arg(i).arg(file), this,
                          [this, file] { OpenMeasurement(file); });
  }
  recentMenu->setEnabled(!recentMenu->isEmpty());
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (!CommandRunning() && !urls.isEmpty() && urls.first().isLocalFile())
    event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QList<QUrl> urls = event->mimeData()->urls();
  if (urls.isEmpty() || !urls.first().isLocalFile()) return;
  event->acceptProposedAction();
  OpenFile(urls.first().toLocalFile());
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
  chartPages->setTabEnabled(3, false);
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
  chartPages->setTabEnabled(3, analysis);
  fCharts->ShowAnalysis(pairs, pairs.size() < kMaxAnalysisMarks);
}

void TMainForm::OnPointerOverFractions(double wavelength, double fraction) {
  pointerStatus->setText(Qt8(Format("wavelength %8.5f  -  EBF %6.3f", wavelength, fraction)));
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

void TMainForm::ClearReport() { reportMemo->clear(); }

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
  pointerStatus->setText(text);
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
  chartPages->setCurrentIndex(3);

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
