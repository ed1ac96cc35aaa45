#include "app/mainform.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <algorithm>
#include <cerrno>
#include <fstream>

#include "app/linegrid.h"
#include "app/maplookup.h"
#include "app/paircurvewindow.h"
#include "app/resultcharts.h"
#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "frontend/field_requests.h"
#include "model/map_file.h"
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

const QColor kHeaderRow(0x19, 0x19, 0x19);
const QColor kWhiteRow(0xFF, 0xFF, 0xFF);
const QColor kSilverRow(0xC0, 0xC0, 0xC0);
constexpr int kMaxBarMarks = 50;       // bars marked only below this count
constexpr int kMaxDensityMarks = 20;   // density points marked up to this count
constexpr int kMaxAnalysisMarks = 20;  // analysis points marked below this count

std::string Std(const QString& text) { return text.toLocal8Bit().toStdString(); }
QString Qt8(const std::string& text) { return QString::fromLocal8Bit(text.c_str()); }

std::string FileNamePart(const QString& file) { return Std(QFileInfo(file).fileName()); }

// The wait cursor while a command runs, restored however it ends.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

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
  fSession = std::make_unique<Session>(SessionOptions{
      {}, [this](const std::string& text) { fDialogs.ShowMessage(Qt8(text)); }});
  BuildLayout();
  resize(1280, 860);  // the size where no window manager maximises it
  FormCreate();
  ConnectHandlers();
}

TMainForm::~TMainForm() = default;

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
  connect(nextFileButton, &QPushButton::clicked, this, [this] { OnNextFile(); });
  connect(fileList, &QListWidget::itemClicked, this, [this] { OnFileChosen(); });
  connect(saveTableButton, &QPushButton::clicked, this, [this] { SaveTable(); });
  connect(analyzeButton, &QPushButton::clicked, this, [this] { AnalyzeLines(); });
  connect(fitButton, &QPushButton::clicked, this, [this] { Fit(); });
  connect(mapButton, &QPushButton::clicked, this, [this] { CreateMap(); });
  connect(saveReportButton, &QPushButton::clicked, this, [this] { SaveReport(); });
  connect(clearReportButton, &QToolButton::clicked, this, [this] { ClearReport(); });
  connect(distributionCombo, &QComboBox::currentIndexChanged, this,
          [this] { OnDistributionChosen(); });
  connect(lineGrid, &TLineGrid::EditTextChanged, this, &TMainForm::OnCellEdited);
  lineGrid->CanSelectCell = [this](int col, int row) { return CanSelectCell(col, row); };
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    const auto inGrid = [this](QWidget* w) {
      return w && (w == lineGrid || lineGrid->isAncestorOf(w));
    };
    if (inGrid(old) && now && !inGrid(now) && now->window() == this) OnGridLeft();
  });
  connect(fCharts, &TResultCharts::PointerOverResults, this, &TMainForm::OnPointerOverFractions);
  connect(fCharts, &TResultCharts::PointerOverMap, this, &TMainForm::OnPointerOverMap);
  connect(fCharts, &TResultCharts::AnalysisLegendClicked, this,
          &TMainForm::OnAnalysisLegendClicked);
  for (QLineEdit* field : {pathEdit, gasTemperatureEdit, fitDensityEdit, fitSecondEdit, mapFromDensityEdit,
                           mapToDensityEdit, mapFromTemperatureEdit, mapToTemperatureEdit, maxIterationsEdit,
                           mapDensityPointsEdit, mapTemperaturePointsEdit, levelCountEdit})
    field->installEventFilter(this);
}

// ---- creation and close -------------------------------------------------

void TMainForm::FormCreate() {
  fDatabaseFolder = fSettings->ReadString("_Files", "Database", "");
  fInitialFolder =
      Qt8(fSettings->ReadString("_Files", "Measurements", kDefaultMeasurementsFolder));
  for (const std::string& name : fSettings->ElementNames()) elementList->addItem(Qt8(name));
  const int index = fSettings->ReadInteger("_Parameters", "DefaultAtom", 0);
  elementList->setCurrentIndex(index >= 0 && index < elementList->count() ? index : -1);
  FillFields(LoadWindowFields(*fSettings, ElementName()));

  linePages->setCurrentIndex(0);
  chartPages->setCurrentIndex(0);
  methodPages->setCurrentIndex(0);
  chartPages->setTabEnabled(3, false);  // until a line analysis fills it
  Guard([this] { PrepareMapPage(); });

  rowColours = {kHeaderRow, kSilverRow};
  lineGrid->SetRowCount(1);
  const LineTableRow header = LineTableHeader();
  for (int col = 0; col < TLineGrid::kColumns; ++col) lineGrid->SetCell(col, 0, Qt8(header[col]));
  lineGrid->SetRowColours(rowColours);
  AlignColumns();
  if (QDir(fInitialFolder).exists()) ShowFileList(fInitialFolder, QString());

  OnElementChosen();
}

void TMainForm::FillFields(const WindowFields& f) {
  mapFromDensityEdit->setText(Qt8(f.FromDensity));
  mapToDensityEdit->setText(Qt8(f.ToDensity));
  mapDensityPointsEdit->setText(Qt8(f.DensityPoints));
  mapFromTemperatureEdit->setText(Qt8(f.FromTemperature));
  mapToTemperatureEdit->setText(Qt8(f.ToTemperature));
  mapTemperaturePointsEdit->setText(Qt8(f.TemperaturePoints));
  fitDensityEdit->setText(Qt8(f.FitDensity));
  fitSecondEdit->setText(Qt8(f.FitTemperature));
  maxIterationsEdit->setText(Qt8(f.MaxIter));
  gasTemperatureEdit->setText(Qt8(f.Tn));
  pathEdit->setText(Qt8(f.Path));
  levelCountEdit->setText(Qt8(f.Count));
}

// The residual map sized by the map fields and the plot's range before any map.
void TMainForm::PrepareMapPage() {
  const WindowFields f = CurrentFields();
  fMapGrid = ZeroGrid(StrToInt(f.TemperaturePoints), StrToInt(f.DensityPoints));
  const MapRequest grid = MapGridFromFields(f);
  fCharts->SetMapRange(grid.log10FromDensity, grid.fromTemperature, grid.log10ToDensity,
                       grid.toTemperature);
}

void TMainForm::closeEvent(QCloseEvent* event) {
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
  s.WriteFloat("_Iteration", "FromDensity", StrToFloat(Std(mapFromDensityEdit->text())));
  s.WriteFloat("_Iteration", "ToDensity", StrToFloat(Std(mapToDensityEdit->text())));
  s.WriteInteger("_Iteration", "DensityPoints", StrToInt(Std(mapDensityPointsEdit->text())));
  s.WriteFloat("_Iteration", "FromTemperature", StrToFloat(Std(mapFromTemperatureEdit->text())));
  s.WriteFloat("_Iteration", "ToTemperature", StrToFloat(Std(mapToTemperatureEdit->text())));
  s.WriteInteger("_Iteration", "TemperaturePoints", StrToInt(Std(mapTemperaturePointsEdit->text())));
  s.WriteFloat("_Fit", "FromDensity", StrToFloat(Std(fitDensityEdit->text())));
  s.WriteFloat("_Fit", "FromTemperature", StrToFloat(Std(fitSecondEdit->text())));
  s.WriteInteger("_Fit", "Count", StrToInt(Std(maxIterationsEdit->text())));
  s.WriteFloat("_Parameters", "Tn", StrToFloat(Std(gasTemperatureEdit->text())));
  s.WriteFloat("_Parameters", "Path", StrToFloat(Std(pathEdit->text())));
  s.WriteInteger("_Parameters", "DefaultAtom", elementList->currentIndex());
  // With no element selected there is no section to keep the count in.
  const std::string element = ElementName();
  if (!element.empty()) s.WriteInteger(element, "Boltzmax", StrToInt(Std(levelCountEdit->text())));
}

// ---- element change ------------------------------------------------------

std::string TMainForm::ElementName() const { return Std(elementList->currentText()); }

double TMainForm::ElementMass() const { return ElementMassAmu(*fSettings, ElementName()); }

void TMainForm::OnElementChosen() { Guard([this] { ChangeElementNow(); }); }

void TMainForm::ChangeElementNow() {
  const std::string element = ElementName();
  const ElementListings listings =
      fSession->ChangeElement({fDatabaseFolder, fSettings->ReadString(element, "Levels", ""),
                               fSettings->ReadString(element, "Lines", "")});
  ClearUserData();
  FillListing(levelsList, listings.levels);
  FillListing(linesList, listings.lines);
  levelCountEdit->setText(Qt8(Format("%d", fSettings->ReadInteger(element, "Boltzmax", 1))));
  QStringList structure;
  for (const std::string& line : listings.structure) structure << Qt8(line);
  structureMemo->setPlainText(structure.join('\n'));
}

// ---- reading measurements and the file list -------------------------------

QString TMainForm::DialogFolder() const {
  return fFileName.isEmpty() ? fInitialFolder : QFileInfo(fFileName).absolutePath();
}

void TMainForm::OnRead(QObject* sender) { Guard([this, sender] { ReadIntensities(sender); }); }

void TMainForm::ReadIntensities(QObject* sender) {
  if (sender == readButton) {
    const QString chosen = fDialogs.OpenFile(DialogFolder());
    if (chosen.isEmpty()) {
      ShowFilePosition();
      return;
    }
    fFileName = QFileInfo(chosen).absoluteFilePath();
  }
  ClearUserData();
  if (sender != analyzeButton) fSession->ReadMeasurement(Std(fFileName));
  FillTable();
  ColourRows();
  if (fSession->HasEnoughLines()) Recalculate();
  linePages->setCurrentIndex(0);
  if (sender != analyzeButton) {
    setWindowTitle("Lumora - " + fFileName);
    const QFileInfo file(fFileName);
    ShowFileList(file.absolutePath(), file.fileName());
    fSettings->WriteString("_Files", "Measurements", Std(file.absolutePath()));
  }
  ShowFilePosition();
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
  fileStatus->setText(
      count >= 2 ? Qt8(Format("  File %d/%d in folder", fileList->currentRow() + 1, count))
                 : QString());
}

void TMainForm::OnNextFile() {
  const int count = fileList->count();
  if (count == 0) return;
  const int current = fileList->currentRow();
  fileList->setCurrentRow(current < 0 ? 0 : (current + 1) % count);
  fFileName = QDir(fFileListFolder).filePath(fileList->currentItem()->text());
  OnRead(nextFileButton);
}

void TMainForm::OnFileChosen() {
  if (fileList->count() == 0 || !fileList->currentItem()) return;
  fFileName = QDir(fFileListFolder).filePath(fileList->currentItem()->text());
  OnRead(fileList);
}

// ---- the line table -------------------------------------------------------

void TMainForm::ClearUserData() {
  lineGrid->SetRowCount(1);
  editing = false;
  fCharts->ClearBranchingFractions();
}

void TMainForm::AlignColumns() { lineGrid->AlignColumns(); }

void TMainForm::FillTable() {
  const std::vector<TLineRecord>& lines = fSession->Table().lines;
  lineGrid->SetRowCount(static_cast<int>(lines.size()) + 1);
  for (size_t i = 0; i < lines.size(); ++i) {
    const LineTableRow cells = LineTableCells(lines[i], false);
    for (int col : {0, 1, 5, 6, 7, 8}) lineGrid->SetCell(col, static_cast<int>(i) + 1, Qt8(cells[col]));
  }
  AlignColumns();
}

// Blocks of rows with the same upper energy, white and silver in turn.
void TMainForm::ColourRows() {
  const int rows = lineGrid->RowCount();
  rowColours.resize(rows);
  for (int r = 1; r < rows; ++r) {
    if (r == 1)
      rowColours[r] = kWhiteRow;
    else if (lineGrid->Cell(5, r) == lineGrid->Cell(5, r - 1))
      rowColours[r] = rowColours[r - 1];
    else
      rowColours[r] = rowColours[r - 1] == kWhiteRow ? kSilverRow : kWhiteRow;
  }
  lineGrid->SetRowColours(rowColours);
}

void TMainForm::OnCellEdited(int col, int row, const QString&) {
  selectedRow = row;
  selectedColumn = col;
  editing = true;
}

// Takes a typed intensity into its line and recalculates; false when the
// text is no number or the recalculation fails.
bool TMainForm::TakeOverEdit() {
  if (!editing || selectedRow < 1 || selectedRow > static_cast<int>(fSession->Table().lines.size()))
    return true;
  try {
    const double value = StrToFloat(Std(lineGrid->Cell(selectedColumn, selectedRow)));
    fSession->SetIntensity(selectedRow - 1, value);
    editing = false;
    Recalculate();
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

bool TMainForm::CanSelectCell(int col, int) {
  if (col != TLineGrid::kIntensityColumn) return false;
  return TakeOverEdit();
}

void TMainForm::OnGridLeft() {
  if (!TakeOverEdit()) lineGrid->setFocus();
}

// ---- recalculation and the result views -----------------------------------

void TMainForm::Recalculate() {
  fSession->Recalculate();
  ShowFractions(0);
}

void TMainForm::ShowFractions(int regime) {
  AlignColumns();
  fCharts->ClearBranchingFractions();
  const LineTable& table = fSession->Table();
  for (int r = 1; r < lineGrid->RowCount(); ++r) {
    CheckIndex(r - 1, table.lines.size());
    const TLineRecord& line = table.lines[r - 1];
    const LineTableRow cells = LineTableCells(line, true);
    for (int col : {2, 3, 4}) lineGrid->SetCell(col, r, Qt8(cells[col]));
    const int colour = ((line.UpperState % 13) + 13) % 13;
    fCharts->AddLine(line.AR.WaveLength, line.G_t, line.G_m, line.G_f, BarPalette[colour]);
  }
  const bool analysis = regime == 1;
  fCharts->FinishBranchingFractions(lineGrid->RowCount() - 1 < kMaxBarMarks,
                                    analysis ? "starting density" : "measured",
                                    analysis ? "final density" : "fitted");

  std::vector<TResultCharts::LabelledPoint> densities;
  const int n = std::min<long long>(StrToInt(Std(levelCountEdit->text())),
                                    static_cast<long long>(table.levels.size()));
  for (int i = 0; i < n; ++i) {
    const TLevelRecord& level = table.levels[i];
    if (level.Density > 0)
      densities.push_back({level.Energy, static_cast<double>(fp::Log10(level.Density)),
                           Qt8(Format("%.3f - %.2e", level.Energy, level.Density))});
  }
  fCharts->ShowDensities(densities, densities.size() <= kMaxDensityMarks);

  std::vector<TResultCharts::LabelledPoint> pairs;
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
  f.FromDensity = Std(mapFromDensityEdit->text());
  f.ToDensity = Std(mapToDensityEdit->text());
  f.DensityPoints = Std(mapDensityPointsEdit->text());
  f.FromTemperature = Std(mapFromTemperatureEdit->text());
  f.ToTemperature = Std(mapToTemperatureEdit->text());
  f.TemperaturePoints = Std(mapTemperaturePointsEdit->text());
  f.FitDensity = Std(fitDensityEdit->text());
  f.FitTemperature = Std(fitSecondEdit->text());
  f.MaxIter = Std(maxIterationsEdit->text());
  f.Tn = Std(gasTemperatureEdit->text());
  f.Path = Std(pathEdit->text());
  f.Count = Std(levelCountEdit->text());
  f.Distribution = distributionCombo->currentIndex();
  f.FitTemperatureChecked = fitSecondCheckBox->isChecked();
  f.ReportKind = reportKindCombo->currentIndex();
  return f;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Switching windows or opening a popup is not leaving the field.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      auto* field = static_cast<QLineEdit*>(watched);
      if (field == maxIterationsEdit || field == mapDensityPointsEdit || field == mapTemperaturePointsEdit ||
          field == levelCountEdit)
        ValidateInt(field);
      else
        ValidateFloat(field);
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainForm::ValidateFloat(QLineEdit* field) {
  double value = 0;
  if (!TryParseReal(Trim(Std(field->text())), value) || !(value > 0)) field->setFocus();
}

void TMainForm::ValidateInt(QLineEdit* field) {
  int32_t value = 0;
  if (!TryParseInt(Trim(Std(field->text())), value) || value < 1) field->setFocus();
}

void TMainForm::OnDistributionChosen() {
  const auto distribution = static_cast<Distribution>(distributionCombo->currentIndex());
  const DistributionChoice choice = ChoiceFor(distribution);
  fitSecondCheckBox->setText(distribution == Distribution::FirstLevels ? "Fit 1s2/4 log10 N"
                                                                     : "Fit T_exc (K)");
  fitSecondCheckBox->setChecked(choice.secondAlwaysFitted);
  fitSecondCheckBox->setEnabled(!choice.secondAlwaysFitted);
  if (choice.levelCount) levelCountEdit->setText(QString::number(*choice.levelCount));
}

// ---- saving and the report ---------------------------------------------------

void TMainForm::SaveTable() {
  Guard([this] {
    const QString path = fDialogs.SaveFile(fInitialFolder);
    if (path.isEmpty()) return;
    std::vector<LineTableRow> rows;
    for (int r = 0; r < lineGrid->RowCount(); ++r) {
      LineTableRow row;
      for (int col = 0; col < TLineGrid::kColumns; ++col) row[col] = Std(lineGrid->Cell(col, r));
      rows.push_back(row);
    }
    Session::SaveTable(Std(path), rows);
  });
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

// ---- fit and map -------------------------------------------------------------

void TMainForm::Fit() { Guard([this] { RunFit(); }); }

void TMainForm::RunFit() {
  WaitCursor wait;
  const WindowFields f = CurrentFields();
  fMapGrid = ZeroGrid(StrToInt(f.TemperaturePoints), StrToInt(f.DensityPoints));
  FitRequest request = FitRequestFromFields(f, ElementMass());
  request.dataFileName = FileNamePart(fFileName);
  AppendReport(fSession->Fit(request).report);
  ShowFractions(0);
}

void TMainForm::CreateMap() { Guard([this] { RunMap(); }); }

void TMainForm::RunMap() {
  WaitCursor wait;
  const WindowFields f = CurrentFields();
  MapRequest request = MapRequestFromFields(f, ElementMass());
  request.dataFileName = FileNamePart(fFileName);
  fMapGrid = ZeroGrid(request.temperaturePoints, request.densityPoints);
  MapResult map = fSession->Map(request);
  fMapGrid = std::move(map.grid);
  fMapRange = map.range;
  AppendReport(map.report);
  fCharts->ShowMap(fMapRange, request.densityPoints, request.temperaturePoints, map.minimum,
                   map.maximum, [this](double x, double y) { return MapValueAt(x, y); });
  ShowFractions(0);
  if (saveMapCheckBox->isChecked() && !fMapGrid.empty()) {
    // Without a measurement file there is no folder the map belongs to.
    if (fFileName.isEmpty()) throw Error("The map was not saved: no measurement file has been read.");
    Session::SaveMap(Std(fFileName), MapFileHeader(f), fMapGrid);
  }
}

double TMainForm::MapValueAt(double x, double y) const {
  return lumora::MapValueAt(fMapRange, fMapGrid, x, y);
}

void TMainForm::OnPointerOverMap(double x, double y) {
  pointerStatus->setText(Qt8(Format("log n_1 %8.3f  -  temperature %8.3f", x, y)));
}

// ---- line analysis -------------------------------------------------------------

void TMainForm::AnalyzeLines() { Guard([this] { RunLineAnalysis(); }); }

void TMainForm::RunLineAnalysis() {
  ClearUserData();
  const QString entered =
      fDialogs.Input("Input simulation parameters",
                     "from WL/nm, to WL/nm, min A/s-1, max E/eV, N range factor",
                     Qt8(fAnalysisParameters));
  LineAnalysisRequest request;
  request.limits = ParseSimulationParameters(Std(entered));
  fAnalysisParameters = Std(entered);
  request.start = AnalysisStartFromFields(Std(fitDensityEdit->text()), Std(fitSecondEdit->text()),
                                          Std(gasTemperatureEdit->text()), Std(pathEdit->text()),
                                          ElementMass());
  const LineAnalysisResult result =
      fSession->AnalyzeLines(request, [this] { ReadIntensities(analyzeButton); });

  const TRCurve& curve = result.Curve;
  if (curve.size() >= 2 && !curve[0].empty())
    fPairInspector->ShowCurve(result.RelativeDensity, curve[1],
                              Qt8(Format("R(N/N0) for line ratio %.4f/%.4f", request.pairX,
                                         request.pairY)));
  fAnalysisOutput = result.Output;
  ShowFractions(1);
  fAnalysisOutput.clear();
}

void TMainForm::OnAnalysisLegendClicked() { fCharts->ToggleAnalysisMarks(); }

}  // namespace lumora
