// The main window: element choice, measurement reading and the file list,
// the line table with its intensity edits, the result charts and report,
// and the fit, map and line analysis commands. Every computation goes
// through the model's shared functions.
#pragma once

#include <QColor>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/formdialogs.h"
#include "model/line_pair_analysis.h"
#include "model/residual_map.h"
#include "model/session.h"
#include "settings/settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QToolButton;

namespace lumora {

class TLineGrid;
class TPairInspectorForm;
class TResultCharts;

// Background colour of bar k: BarPalette[UpperState mod 13].
extern const QColor BarPalette[13];

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // Opens the settings file and fills the window from it; raises Error when
  // the file cannot be read. Failures of the first element change are shown
  // through the dialogs like those of any command.
  explicit TMainForm(const std::string& settingsPath, TFormDialogs dialogs = {},
                     QWidget* parent = nullptr);
  ~TMainForm() override;

  // Handlers. Each shows its errors through the error display and leaves
  // the window usable.
  void FormClose();
  void ElementListBoxChange();
  void ReadBtnClick(QObject* sender);
  void NextFileClick();
  void FileListBoxClick();
  bool StringGrid1SelectCell(int col, int row);
  void StringGrid1SetEditText(int col, int row, const QString& text);
  void StringGrid1Exit();
  void ValidateFloat(QLineEdit* field);
  void ValidateInt(QLineEdit* field);
  void DistributionComboBoxChange();
  void Button1Click();
  void SaveButtonClick();
  void Button7Click();
  void Fit();
  void Iterate();
  double ContourPlotEstimateZVal(double x, double y) const;
  void ContourPlotMouseMoveInChart(double x, double y);
  void EBFChartMouseMove(double wavelength, double fraction);
  void AnalyzeBtnClick();
  void AnalyzeChartClickLegend();

  // The window's fields as the commands read them.
  WindowFields CurrentFields() const;
  const MapRange& LastMapRange() const { return fMapRange; }
  // The grid the colour map and its pointer read-out show.
  const ResidualGrid& MapGrid() const { return fMapGrid; }
  Session& CurrentSession() { return *fSession; }
  const std::string& AnalysisParameters() const { return fAnalysisParameters; }
  TResultCharts* Charts() const { return fCharts; }
  TPairInspectorForm* PairInspector() const { return fPairInspector; }

  QComboBox* ElementListBox = nullptr;
  QPushButton* ReadBtn = nullptr;
  QPushButton* NextBtn = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* AnalyzeBtn = nullptr;
  TLineGrid* StringGrid1 = nullptr;
  QListWidget* LinesBox = nullptr;
  QListWidget* LevelsBox = nullptr;
  QPlainTextEdit* LLMemo = nullptr;
  QPlainTextEdit* ReportsMemo = nullptr;
  QLineEdit* FitDensityEdit = nullptr;
  QCheckBox* FitTempCheckBox = nullptr;
  QLineEdit* FitTempEdit = nullptr;
  QLineEdit* MaxIterEdit = nullptr;
  QPushButton* FitBtn = nullptr;
  QLineEdit* FromDensityEdit = nullptr;
  QLineEdit* ToDensityEdit = nullptr;
  QLineEdit* PointsDensityEdit = nullptr;
  QLineEdit* FromTempEdit = nullptr;
  QLineEdit* ToTempEdit = nullptr;
  QLineEdit* PointsTempEdit = nullptr;
  QPushButton* MapBtn = nullptr;
  QCheckBox* SaveMapCheckBox = nullptr;
  QLineEdit* PathEdit = nullptr;
  QLineEdit* TnEdit = nullptr;
  QComboBox* DistributionComboBox = nullptr;
  QLineEdit* BoltzCountEdit = nullptr;
  QListWidget* FileListBox = nullptr;
  QComboBox* ReportComboBox = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QPushButton* SaveButton = nullptr;
  QStatusBar* StatusBar1 = nullptr;
  QLabel* StatusPanel0 = nullptr;
  QLabel* StatusPanel1 = nullptr;
  QTabWidget* LinePages = nullptr;
  QTabWidget* ChartPages = nullptr;
  QTabWidget* MethodPages = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildLayout();
  void ConnectHandlers();
  void FormCreate();
  void FillFields(const WindowFields& fields);
  void PrepareMapPage();

  // The throwing bodies of the handlers.
  void ChangeElementNow();
  void ReadIntensities(QObject* sender);
  void RunFit();
  void RunMap();
  void RunLineAnalysis();
  void WriteSettingsBack();

  void RecalculateBF();
  void ShowBranchingFactors(int regime = 0);
  void AlignCols();
  void ClearUserData();
  void FillTable();
  void ColourRows();
  bool TakeOverEdit();
  void ShowFileList(const QString& folder, const QString& selectName);
  void ShowFilePosition();
  void AppendReport(const std::vector<std::string>& lines);
  double ElementMass() const;
  std::string ElementName() const;
  QString DialogFolder() const;
  void Guard(const std::function<void()>& command);

  std::unique_ptr<Settings> fSettings;
  TFormDialogs fDialogs;
  std::unique_ptr<Session> fSession;
  TResultCharts* fCharts = nullptr;
  TPairInspectorForm* fPairInspector = nullptr;

  std::string fDatabaseFolder;
  QString fInitialFolder;    // the open-file dialog's initial folder
  QString fFileName;         // the measurement file last chosen
  QString fFileListFolder;   // the folder the file list shows
  std::vector<QColor> FillColors;
  int SelRow = 0;
  int SelCol = 0;
  bool Editing = false;
  MapRange fMapRange;
  ResidualGrid fMapGrid;
  std::string fAnalysisParameters = kDefaultAnalysisParameters;
  TAnalysisOutputArray fAnalysisOutput;
  bool fClosed = false;
};

}  // namespace lumora
