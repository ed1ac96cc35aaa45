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
  void SaveFieldsOnClose();
  void OnElementChosen();
  void OnRead(QObject* sender);
  void OnNextFile();
  void OnFileChosen();
  bool CanSelectCell(int col, int row);
  void OnCellEdited(int col, int row, const QString& text);
  void OnGridLeft();
  void ValidateFloat(QLineEdit* field);
  void ValidateInt(QLineEdit* field);
  void OnDistributionChosen();
  void SaveTable();
  void SaveReport();
  void ClearReport();
  void Fit();
  void CreateMap();
  double MapValueAt(double x, double y) const;
  void OnPointerOverMap(double x, double y);
  void OnPointerOverFractions(double wavelength, double fraction);
  void AnalyzeLines();
  void OnAnalysisLegendClicked();

  // The window's fields as the commands read them.
  WindowFields CurrentFields() const;
  const MapRange& LastMapRange() const { return fMapRange; }
  // The grid the colour map and its pointer read-out show.
  const ResidualGrid& MapGrid() const { return fMapGrid; }
  Session& CurrentSession() { return *fSession; }
  const std::string& AnalysisParameters() const { return fAnalysisParameters; }
  TResultCharts* Charts() const { return fCharts; }
  TPairInspectorForm* PairInspector() const { return fPairInspector; }

  // The widgets, named by what they do; each keeps the object name users'
  // scripts and the tests look it up by ("ElementListBox", "Button1", ...).
  QComboBox* elementList = nullptr;
  QPushButton* readButton = nullptr;
  QPushButton* nextFileButton = nullptr;
  QPushButton* saveTableButton = nullptr;
  QPushButton* analyzeButton = nullptr;
  TLineGrid* lineGrid = nullptr;
  QListWidget* linesList = nullptr;
  QListWidget* levelsList = nullptr;
  QPlainTextEdit* structureMemo = nullptr;
  QPlainTextEdit* reportMemo = nullptr;
  QLineEdit* fitDensityEdit = nullptr;
  QCheckBox* fitSecondCheckBox = nullptr;
  QLineEdit* fitSecondEdit = nullptr;
  QLineEdit* maxIterationsEdit = nullptr;
  QPushButton* fitButton = nullptr;
  QLineEdit* mapFromDensityEdit = nullptr;
  QLineEdit* mapToDensityEdit = nullptr;
  QLineEdit* mapDensityPointsEdit = nullptr;
  QLineEdit* mapFromTemperatureEdit = nullptr;
  QLineEdit* mapToTemperatureEdit = nullptr;
  QLineEdit* mapTemperaturePointsEdit = nullptr;
  QPushButton* mapButton = nullptr;
  QCheckBox* saveMapCheckBox = nullptr;
  QLineEdit* pathEdit = nullptr;
  QLineEdit* gasTemperatureEdit = nullptr;
  QComboBox* distributionCombo = nullptr;
  QLineEdit* levelCountEdit = nullptr;
  QListWidget* fileList = nullptr;
  QComboBox* reportKindCombo = nullptr;
  QToolButton* clearReportButton = nullptr;
  QPushButton* saveReportButton = nullptr;
  QStatusBar* statusLine = nullptr;
  QLabel* fileStatus = nullptr;
  QLabel* pointerStatus = nullptr;
  QTabWidget* linePages = nullptr;
  QTabWidget* chartPages = nullptr;
  QTabWidget* methodPages = nullptr;

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

  void Recalculate();
  void ShowFractions(int regime = 0);
  void AlignColumns();
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
  std::vector<QColor> rowColours;
  int selectedRow = 0;
  int selectedColumn = 0;
  bool editing = false;
  MapRange fMapRange;
  ResidualGrid fMapGrid;
  std::string fAnalysisParameters = kDefaultAnalysisParameters;
  TAnalysisOutputArray fAnalysisOutput;
  bool fClosed = false;
};

}  // namespace lumora
