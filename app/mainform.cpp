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
  connect(ElementListBox, &QComboBox::activated, this, [this] { ElementListBoxChange(); });
  connect(ReadBtn, &QPushButton::clicked, this, [this] { ReadBtnClick(ReadBtn); });
  connect(NextBtn, &QPushButton::clicked, this, [this] { NextFileClick(); });
  connect(FileListBox, &QListWidget::itemClicked, this, [this] { FileListBoxClick(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(AnalyzeBtn, &QPushButton::clicked, this, [this] { AnalyzeBtnClick(); });
  connect(FitBtn, &QPushButton::clicked, this, [this] { Fit(); });
  connect(MapBtn, &QPushButton::clicked, this, [this] { Iterate(); });
  connect(SaveButton, &QPushButton::clicked, this, [this] { SaveButtonClick(); });
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { Button7Click(); });
  connect(DistributionComboBox, &QComboBox::currentIndexChanged, this,
          [this] { DistributionComboBoxChange(); });
  connect(StringGrid1, &TLineGrid::EditTextChanged, this, &TMainForm::StringGrid1SetEditText);
  StringGrid1->CanSelectCell = [this](int col, int row) { return StringGrid1SelectCell(col, row); };
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
    const auto inGrid = [this](QWidget* w) {
      return w && (w == StringGrid1 || StringGrid1->isAncestorOf(w));
    };
    if (inGrid(old) && now && !inGrid(now) && now->window() == this) StringGrid1Exit();
  });
  connect(fCharts, &TResultCharts::PointerOverResults, this, &TMainForm::EBFChartMouseMove);
  connect(fCharts, &TResultCharts::PointerOverMap, this, &TMainForm::ContourPlotMouseMoveInChart);
  connect(fCharts, &TResultCharts::AnalysisLegendClicked, this,
          &TMainForm::AnalyzeChartClickLegend);
  for (QLineEdit* field : {PathEdit, TnEdit, FitDensityEdit, FitTempEdit, FromDensityEdit,
                           ToDensityEdit, FromTempEdit, ToTempEdit, MaxIterEdit,
                           PointsDensityEdit, PointsTempEdit, BoltzCountEdit})
    field->installEventFilter(this);
}

// ---- creation and close -------------------------------------------------

void TMainForm::FormCreate() {
  fDatabaseFolder = fSettings->ReadString("_Files", "Database", "");
  fInitialFolder =
      Qt8(fSettings->ReadString("_Files", "Measurements", kDefaultMeasurementsFolder));
  for (const std::string& name : fSettings->ElementNames()) ElementListBox->addItem(Qt8(name));
  const int index = fSettings->ReadInteger("_Parameters", "DefaultAtom", 0);
  ElementListBox->setCurrentIndex(index >= 0 && index < ElementListBox->count() ? index : -1);
  FillFields(LoadWindowFields(*fSettings, ElementName()));

  LinePages->setCurrentIndex(0);
  ChartPages->setCurrentIndex(0);
  MethodPages->setCurrentIndex(0);
  ChartPages->setTabEnabled(3, false);  // until a line analysis fills it
  Guard([this] { PrepareMapPage(); });

  FillColors = {kHeaderRow, kSilverRow};
  StringGrid1->SetRowCount(1);
  const LineTableRow header = LineTableHeader();
  for (int col = 0; col < TLineGrid::kColumns; ++col) StringGrid1->SetCell(col, 0, Qt8(header[col]));
  StringGrid1->SetRowColours(FillColors);
  AlignCols();
  if (QDir(fInitialFolder).exists()) ShowFileList(fInitialFolder, QString());

  ElementListBoxChange();
}

void TMainForm::FillFields(const WindowFields& f) {
  FromDensityEdit->setText(Qt8(f.FromDensity));
  ToDensityEdit->setText(Qt8(f.ToDensity));
  PointsDensityEdit->setText(Qt8(f.DensityPoints));
  FromTempEdit->setText(Qt8(f.FromTemperature));
  ToTempEdit->setText(Qt8(f.ToTemperature));
  PointsTempEdit->setText(Qt8(f.TemperaturePoints));
  FitDensityEdit->setText(Qt8(f.FitDensity));
  FitTempEdit->setText(Qt8(f.FitTemperature));
  MaxIterEdit->setText(Qt8(f.MaxIter));
  TnEdit->setText(Qt8(f.Tn));
  PathEdit->setText(Qt8(f.Path));
  BoltzCountEdit->setText(Qt8(f.Count));
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
  FormClose();
  fPairInspector->close();
  event->accept();
}

void TMainForm::FormClose() {
  if (fClosed) return;
  fClosed = true;
  Guard([this] { WriteSettingsBack(); });
}

// In this order; a field that does not convert ends the writing there.
void TMainForm::WriteSettingsBack() {
  Settings& s = *fSettings;
  s.WriteFloat("_Iteration", "FromDensity", StrToFloat(Std(FromDensityEdit->text())));
  s.WriteFloat("_Iteration", "ToDensity", StrToFloat(Std(ToDensityEdit->text())));
  s.WriteInteger("_Iteration", "DensityPoints", StrToInt(Std(PointsDensityEdit->text())));
  s.WriteFloat("_Iteration", "FromTemperature", StrToFloat(Std(FromTempEdit->text())));
  s.WriteFloat("_Iteration", "ToTemperature", StrToFloat(Std(ToTempEdit->text())));
  s.WriteInteger("_Iteration", "TemperaturePoints", StrToInt(Std(PointsTempEdit->text())));
  s.WriteFloat("_Fit", "FromDensity", StrToFloat(Std(FitDensityEdit->text())));
  s.WriteFloat("_Fit", "FromTemperature", StrToFloat(Std(FitTempEdit->text())));
  s.WriteInteger("_Fit", "Count", StrToInt(Std(MaxIterEdit->text())));
  s.WriteFloat("_Parameters", "Tn", StrToFloat(Std(TnEdit->text())));
  s.WriteFloat("_Parameters", "Path", StrToFloat(Std(PathEdit->text())));
  s.WriteInteger("_Parameters", "DefaultAtom", ElementListBox->currentIndex());
  // With no element selected there is no section to keep the count in.
  const std::string element = ElementName();
  if (!element.empty()) s.WriteInteger(element, "Boltzmax", StrToInt(Std(BoltzCountEdit->text())));
}

// ---- element change ------------------------------------------------------

std::string TMainForm::ElementName() const { return Std(ElementListBox->currentText()); }

double TMainForm::ElementMass() const { return ElementMassAmu(*fSettings, ElementName()); }

void TMainForm::ElementListBoxChange() { Guard([this] { ChangeElementNow(); }); }

void TMainForm::ChangeElementNow() {
  const std::string element = ElementName();
  const ElementListings listings =
      fSession->ChangeElement({fDatabaseFolder, fSettings->ReadString(element, "Levels", ""),
                               fSettings->ReadString(element, "Lines", "")});
  ClearUserData();
  FillListing(LevelsBox, listings.levels);
  FillListing(LinesBox, listings.lines);
  BoltzCountEdit->setText(Qt8(Format("%d", fSettings->ReadInteger(element, "Boltzmax", 1))));
  QStringList structure;
  for (const std::string& line : listings.structure) structure << Qt8(line);
  LLMemo->setPlainText(structure.join('\n'));
}

// ---- reading measurements and the file list -------------------------------

QString TMainForm::DialogFolder() const {
  return fFileName.isEmpty() ? fInitialFolder : QFileInfo(fFileName).absolutePath();
}

void TMainForm::ReadBtnClick(QObject* sender) { Guard([this, sender] { ReadIntensities(sender); }); }

void TMainForm::ReadIntensities(QObject* sender) {
  if (sender == ReadBtn) {
    const QString chosen = fDialogs.OpenFile(DialogFolder());
    if (chosen.isEmpty()) {
      ShowFilePosition();
      return;
    }
    fFileName = QFileInfo(chosen).absoluteFilePath();
  }
  ClearUserData();
  if (sender != AnalyzeBtn) fSession->ReadMeasurement(Std(fFileName));
  FillTable();
  ColourRows();
  if (fSession->HasEnoughLines()) RecalculateBF();
  LinePages->setCurrentIndex(0);
  if (sender != AnalyzeBtn) {
    setWindowTitle("Lumora - " + fFileName);
    const QFileInfo file(fFileName);
    ShowFileList(file.absolutePath(), file.fileName());
    fSettings->WriteString("_Files", "Measurements", Std(file.absolutePath()));
  }
  ShowFilePosition();
}

void TMainForm::ShowFileList(const QString& folder, const QString& selectName) {
  fFileListFolder = folder;
  FileListBox->clear();
  const QStringList names =
      QDir(folder).entryList({"*.txt"}, QDir::Files, QDir::Name | QDir::IgnoreCase);
  FileListBox->addItems(names);
  FileListBox->setCurrentRow(selectName.isEmpty() ? -1 : static_cast<int>(names.indexOf(selectName)));
}

void TMainForm::ShowFilePosition() {
  const int count = FileListBox->count();
  StatusPanel0->setText(
      count >= 2 ? Qt8(Format("  File %d/%d in folder", FileListBox->currentRow() + 1, count))
                 : QString());
}

void TMainForm::NextFileClick() {
  const int count = FileListBox->count();
  if (count == 0) return;
  const int current = FileListBox->currentRow();
  FileListBox->setCurrentRow(current < 0 ? 0 : (current + 1) % count);
  fFileName = QDir(fFileListFolder).filePath(FileListBox->currentItem()->text());
  ReadBtnClick(NextBtn);
}

void TMainForm::FileListBoxClick() {
  if (FileListBox->count() == 0 || !FileListBox->currentItem()) return;
  fFileName = QDir(fFileListFolder).filePath(FileListBox->currentItem()->text());
  ReadBtnClick(FileListBox);
}

// ---- the line table -------------------------------------------------------

void TMainForm::ClearUserData() {
  StringGrid1->SetRowCount(1);
  Editing = false;
  fCharts->ClearBranchingFractions();
}

void TMainForm::AlignCols() { StringGrid1->AlignCols(); }

void TMainForm::FillTable() {
  const std::vector<TLineRecord>& lines = fSession->Table().lines;
  StringGrid1->SetRowCount(static_cast<int>(lines.size()) + 1);
  for (size_t i = 0; i < lines.size(); ++i) {
    const LineTableRow cells = LineTableCells(lines[i], false);
    for (int col : {0, 1, 5, 6, 7, 8}) StringGrid1->SetCell(col, static_cast<int>(i) + 1, Qt8(cells[col]));
  }
  AlignCols();
}

// Blocks of rows with the same upper energy, white and silver in turn.
void TMainForm::ColourRows() {
  const int rows = StringGrid1->RowCount();
  FillColors.resize(rows);
  for (int r = 1; r < rows; ++r) {
    if (r == 1)
      FillColors[r] = kWhiteRow;
    else if (StringGrid1->Cell(5, r) == StringGrid1->Cell(5, r - 1))
      FillColors[r] = FillColors[r - 1];
    else
      FillColors[r] = FillColors[r - 1] == kWhiteRow ? kSilverRow : kWhiteRow;
  }
  StringGrid1->SetRowColours(FillColors);
}

void TMainForm::StringGrid1SetEditText(int col, int row, const QString&) {
  SelRow = row;
  SelCol = col;
  Editing = true;
}

// Takes a typed intensity into its line and recalculates; false when the
// text is no number or the recalculation fails.
bool TMainForm::TakeOverEdit() {
  if (!Editing || SelRow < 1 || SelRow > static_cast<int>(fSession->Table().lines.size()))
    return true;
  try {
    const double value = StrToFloat(Std(StringGrid1->Cell(SelCol, SelRow)));
    fSession->SetIntensity(SelRow - 1, value);
    Editing = false;
    RecalculateBF();
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

bool TMainForm::StringGrid1SelectCell(int col, int) {
  if (col != TLineGrid::kIntensityColumn) return false;
  return TakeOverEdit();
}

void TMainForm::StringGrid1Exit() {
  if (!TakeOverEdit()) StringGrid1->setFocus();
}

// ---- recalculation and the result views -----------------------------------

void TMainForm::RecalculateBF() {
  fSession->Recalculate();
  ShowBranchingFactors(0);
}

void TMainForm::ShowBranchingFactors(int regime) {
  AlignCols();
  fCharts->ClearBranchingFractions();
  const LineTable& table = fSession->Table();
  for (int r = 1; r < StringGrid1->RowCount(); ++r) {
    CheckIndex(r - 1, table.lines.size());
    const TLineRecord& line = table.lines[r - 1];
    const LineTableRow cells = LineTableCells(line, true);
    for (int col : {2, 3, 4}) StringGrid1->SetCell(col, r, Qt8(cells[col]));
    const int colour = ((line.UpperState % 13) + 13) % 13;
    fCharts->AddLine(line.AR.WaveLength, line.G_t, line.G_m, line.G_f, BarPalette[colour]);
  }
  const bool analysis = regime == 1;
  fCharts->FinishBranchingFractions(StringGrid1->RowCount() - 1 < kMaxBarMarks,
                                    analysis ? "starting density" : "measured",
                                    analysis ? "final density" : "fitted");

  std::vector<TResultCharts::LabelledPoint> densities;
  const int n = std::min<long long>(StrToInt(Std(BoltzCountEdit->text())),
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
  ChartPages->setTabEnabled(3, analysis);
  fCharts->ShowAnalysis(pairs, pairs.size() < kMaxAnalysisMarks);
}

void TMainForm::EBFChartMouseMove(double wavelength, double fraction) {
  StatusPanel1->setText(Qt8(Format("wavelength %8.5f  -  EBF %6.3f", wavelength, fraction)));
}

// ---- fields -----------------------------------------------------------------

WindowFields TMainForm::CurrentFields() const {
  WindowFields f;
  f.FromDensity = Std(FromDensityEdit->text());
  f.ToDensity = Std(ToDensityEdit->text());
  f.DensityPoints = Std(PointsDensityEdit->text());
  f.FromTemperature = Std(FromTempEdit->text());
  f.ToTemperature = Std(ToTempEdit->text());
  f.TemperaturePoints = Std(PointsTempEdit->text());
  f.FitDensity = Std(FitDensityEdit->text());
  f.FitTemperature = Std(FitTempEdit->text());
  f.MaxIter = Std(MaxIterEdit->text());
  f.Tn = Std(TnEdit->text());
  f.Path = Std(PathEdit->text());
  f.Count = Std(BoltzCountEdit->text());
  f.Distribution = DistributionComboBox->currentIndex();
  f.FitTemperatureChecked = FitTempCheckBox->isChecked();
  f.ReportKind = ReportComboBox->currentIndex();
  return f;
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    // Switching windows or opening a popup is not leaving the field.
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      auto* field = static_cast<QLineEdit*>(watched);
      if (field == MaxIterEdit || field == PointsDensityEdit || field == PointsTempEdit ||
          field == BoltzCountEdit)
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

void TMainForm::DistributionComboBoxChange() {
  const auto distribution = static_cast<Distribution>(DistributionComboBox->currentIndex());
  const DistributionChoice choice = ChoiceFor(distribution);
  FitTempCheckBox->setText(distribution == Distribution::FirstLevels ? "Fit 1s2/4 log10 N"
                                                                     : "Fit T_exc (K)");
  FitTempCheckBox->setChecked(choice.secondAlwaysFitted);
  FitTempCheckBox->setEnabled(!choice.secondAlwaysFitted);
  if (choice.levelCount) BoltzCountEdit->setText(QString::number(*choice.levelCount));
}

// ---- saving and the report ---------------------------------------------------

void TMainForm::Button1Click() {
  Guard([this] {
    const QString path = fDialogs.SaveFile(fInitialFolder);
    if (path.isEmpty()) return;
    std::vector<LineTableRow> rows;
    for (int r = 0; r < StringGrid1->RowCount(); ++r) {
      LineTableRow row;
      for (int col = 0; col < TLineGrid::kColumns; ++col) row[col] = Std(StringGrid1->Cell(col, r));
      rows.push_back(row);
    }
    Session::SaveTable(Std(path), rows);
  });
}

void TMainForm::SaveButtonClick() {
  Guard([this] {
    const QString path = fDialogs.SaveFile(fInitialFolder);
    if (path.isEmpty()) return;
    std::vector<std::string> lines;
    const QString report = ReportsMemo->toPlainText();
    if (!report.isEmpty())
      for (const QString& line : report.split('\n')) lines.push_back(Std(line));
    Session::SaveReport(Std(path), lines);
  });
}

void TMainForm::Button7Click() { ReportsMemo->clear(); }

void TMainForm::AppendReport(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) ReportsMemo->appendPlainText(Qt8(line));
  // To the last line, its start in view.
  ReportsMemo->moveCursor(QTextCursor::End);
  ReportsMemo->moveCursor(QTextCursor::StartOfLine);
  ReportsMemo->ensureCursorVisible();
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
  ShowBranchingFactors(0);
}

void TMainForm::Iterate() { Guard([this] { RunMap(); }); }

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
                   map.maximum, [this](double x, double y) { return ContourPlotEstimateZVal(x, y); });
  ShowBranchingFactors(0);
  if (SaveMapCheckBox->isChecked() && !fMapGrid.empty()) {
    // Without a measurement file there is no folder the map belongs to.
    if (fFileName.isEmpty()) throw Error("The map was not saved: no measurement file has been read.");
    Session::SaveMap(Std(fFileName), MapFileHeader(f), fMapGrid);
  }
}

double TMainForm::ContourPlotEstimateZVal(double x, double y) const {
  return lumora::ContourPlotEstimateZVal(fMapRange, fMapGrid, x, y);
}

void TMainForm::ContourPlotMouseMoveInChart(double x, double y) {
  StatusPanel1->setText(Qt8(Format("log n_1 %8.3f  -  temperature %8.3f", x, y)));
}

// ---- line analysis -------------------------------------------------------------

void TMainForm::AnalyzeBtnClick() { Guard([this] { RunLineAnalysis(); }); }

void TMainForm::RunLineAnalysis() {
  ClearUserData();
  const QString entered =
      fDialogs.Input("Input simulation parameters",
                     "from WL/nm, to WL/nm, min A/s-1, max E/eV, N range factor",
                     Qt8(fAnalysisParameters));
  LineAnalysisRequest request;
  request.limits = ParseSimulationParameters(Std(entered));
  fAnalysisParameters = Std(entered);
  request.start = AnalysisStartFromFields(Std(FitDensityEdit->text()), Std(FitTempEdit->text()),
                                          Std(TnEdit->text()), Std(PathEdit->text()),
                                          ElementMass());
  const LineAnalysisResult result =
      fSession->AnalyzeLines(request, [this] { ReadIntensities(AnalyzeBtn); });

  const TRCurve& curve = result.Curve;
  if (curve.size() >= 2 && !curve[0].empty())
    fPairInspector->ShowCurve(result.RelativeDensity, curve[1],
                              Qt8(Format("R(N/N0) for line ratio %.4f/%.4f", request.pairX,
                                         request.pairY)));
  fAnalysisOutput = result.Output;
  ShowBranchingFactors(1);
  fAnalysisOutput.clear();
}

void TMainForm::AnalyzeChartClickLegend() { fCharts->ToggleAnalysisMarks(); }

}  // namespace lumora
