// The main window: element choice, measurement reading and the file list
// (mainform_reading.cpp), the line table (a view of the session's lines,
// edited through LineTableController), the result charts and report, and
// the fit, map and line analysis commands (mainform_commands.cpp). Every
// computation goes through the model's shared functions.
#pragma once

#include <QColor>
#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/formdialogs.h"
#include "frontend/uncertainty_requests.h"
#include "model/line_pair_analysis.h"
#include "model/recording_frames.h"
#include "model/residual_map.h"
#include "model/session.h"
#include "settings/settings.h"

class QAction;
class QCustomPlot;
class QMenu;
class QProgressBar;
class QComboBox;
class QFileInfo;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QToolButton;

namespace lumora {

class TCommandRunner;
class FitPanel;
class ChartReadout;
class MapPanel;
class ModelPanel;
class SeriesPanel;
class LineTableController;
class TLineGrid;
class TPairInspectorForm;
class TResultCharts;
class UncertaintyChoice;

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

  // Reads a measurement file as "Read intensities" does after its dialog
  // (the file named at start, a dropped file, a recent file).
  void OpenMeasurement(const QString& path);
  // Opens a file handed to the window from outside (the command line, the
  // desktop, a drop): a recording (*.recording.csv) is integrated with the
  // options used last, any other file is read as a measurement.
  void OpenFile(const QString& path);

  // Handlers. Each shows its errors through the error display and leaves
  // the window usable.
  void SaveFieldsOnClose();
  void OnElementChosen();
  void OnRead(QObject* sender);
  // "Read spectrum…": a spectrum file, its options, then the integration on
  // the worker thread; "Save lines…" writes the lines it gave.
  void ReadSpectrum();
  void SaveSpectrumLines();
  void OnNextFile();
  void OnFileChosen();
  // Takes a pending intensity edit over before the cursor moves; false
  // when it was refused.
  bool CanSelectCell(int col, int row);
  // The focus left the table: a pending intensity edit is taken over.
  void OnGridLeft();
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
  // Run > "Fit all files": every measurement of the current folder (every
  // recording, when a spectrum is shown) fitted on the worker thread with
  // the window's fields, into the "Series" pages; Cancel keeps the series
  // shown before.
  void FitAllFiles();
  // "Save CSV…" of the "Series" table.
  void SaveSeries();
  void OnAnalysisLegendClicked();
  // Recomputes the pair curve of the last line analysis for another pair.
  void ShowPairCurve(double first, double second);
  void ShowPairInspector();
  // Exports the chart of the current chart page; ExportChartAs the chart of
  // page index, the dialog offering format ("png", "svg" or "pdf") first.
  void ExportChart();
  void ExportChartAs(int page, const QString& format);
  // The data of the chart of page index as a CSV file the dialog names.
  void SaveChartData(int page);
  void CopyTableSelection();
  // Takes back the latest edit of the lines, or the latest replacement of
  // the measurement (a file read, a line analysis, a ratio shown).
  void UndoEdit();
  void CancelCommand();

  // A fit, map or line analysis is running on its worker thread.
  bool CommandRunning() const;
  // Intensity edits and lines taken in or left out since the table was
  // last read or saved.
  bool HasUnsavedEdits() const { return fSession->HasUnsavedEdits(); }

  // The window's fields as the commands read them.
  WindowFields CurrentFields() const;
  const MapRange& LastMapRange() const { return fMapRange; }
  // The grid the colour map and its pointer read-out show.
  const ResidualGrid& MapGrid() const { return fMapGrid; }
  Session& CurrentSession() { return *fSession; }
  const std::string& AnalysisParameters() const { return fAnalysisParameters; }
  TResultCharts* Charts() const { return fCharts; }
  TPairInspectorForm* PairInspector() const { return fPairInspector; }
  SeriesPanel* Series() const { return seriesPanel; }

 signals:
  // The session changed its element: the lines, results and files of the
  // element before are gone, and every page or panel showing them empties.
  void ElementReplaced();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // The widgets, named by what they do; each keeps the object name users'
  // scripts and the tests look it up by ("ElementListBox", "Button1", ...).
  // The method pages and the model group own their fields.
  FitPanel* fitPanel = nullptr;
  MapPanel* mapPanel = nullptr;
  ModelPanel* modelPanel = nullptr;
  SeriesPanel* seriesPanel = nullptr;
  QComboBox* elementList = nullptr;
  QPushButton* readButton = nullptr;
  QPushButton* readSpectrumButton = nullptr;
  QPushButton* nextFileButton = nullptr;
  QPushButton* saveTableButton = nullptr;
  QPushButton* analyzeButton = nullptr;
  UncertaintyChoice* uncertaintyChoice = nullptr;
  LineTableController* lineTable = nullptr;
  TLineGrid* lineGrid = nullptr;
  QListWidget* linesList = nullptr;
  QListWidget* levelsList = nullptr;
  QPlainTextEdit* structureMemo = nullptr;
  QPlainTextEdit* reportMemo = nullptr;
  QListWidget* fileList = nullptr;
  QComboBox* reportKindCombo = nullptr;
  QToolButton* clearReportButton = nullptr;
  QPushButton* saveReportButton = nullptr;
  QStatusBar* statusLine = nullptr;
  QLabel* fileStatus = nullptr;
  ChartReadout* pointerStatus = nullptr;
  QLabel* messageStatus = nullptr;
  QProgressBar* progressBar = nullptr;
  QPushButton* cancelButton = nullptr;
  QAction* readAction = nullptr;
  QAction* readSpectrumAction = nullptr;
  QAction* saveLinesAction = nullptr;
  QAction* nextFileAction = nullptr;
  QAction* saveTableAction = nullptr;
  QAction* saveReportAction = nullptr;
  QAction* exportChartAction = nullptr;
  QAction* quitAction = nullptr;
  QAction* fitAction = nullptr;
  QAction* fitAllAction = nullptr;
  QAction* mapAction = nullptr;
  QAction* analysisAction = nullptr;
  QAction* pairInspectorAction = nullptr;
  QAction* cancelAction = nullptr;
  QAction* undoAction = nullptr;
  QAction* copyAction = nullptr;
  QAction* shortcutsAction = nullptr;
  QAction* aboutAction = nullptr;
  QMenu* recentMenu = nullptr;
  QTabWidget* linePages = nullptr;
  QTabWidget* chartPages = nullptr;
  QTabWidget* methodPages = nullptr;

  // The chart pages that commands fill and empty.
  static constexpr int kAnalysisPage = 3;
  static constexpr int kUncertaintyPage = 4;
  static constexpr int kSpectrumPage = 5;
  static constexpr int kSeriesPage = 6;

  void BuildLayout();
  void BuildMenus();
  void AddTooltips();
  void ConnectHandlers();
  void FormCreate();
  void FillFields(const WindowFields& fields);
  void PrepareMapPage();

  // The throwing bodies of the handlers.
  void ChangeElementNow();
  // The window's own views of the element before: its file list, and the
  // title that named its file.
  void ForgetFilesShown();
  void ReadIntensities(QObject* sender);
  [[noreturn]] void RefuseLinelessFile(const QFileInfo& file) const;
  void RunSpectrumRead();
  void StartSpectrumRead(const QString& path, const SpectrumFields& fields,
                         std::optional<size_t> frame = std::nullopt);
  // The frame of a camera file of several to read, asked of the user; false
  // when cancelled.
  bool ChooseFrame(const QString& path, std::optional<size_t>& frame);
  void ShowSpectrumRead(const QString& path, const IntegrationResult& integration,
                        std::vector<std::string> measurementLines);
  void ClearSpectrum();
  void RunFit();
  void RunMap();
  void ShowMonteCarlo(const MonteCarloResult& result, const MonteCarloRequest& request);
  void ClearUncertainty();
  void RunLineAnalysis();
  void RunFitAll();
  // The files "Fit all files" fits: the folder's measurements, or its
  // recordings of the kind of the spectrum shown.
  std::vector<std::string> SeriesFiles(bool recordings) const;
  void OpenSeriesFile(const QString& path);
  void RunAnalysis(LineAnalysisRequest request);
  void ShowAnalysisResult(const LineAnalysisResult& result, const LineAnalysisRequest& request);
  void WriteSettingsBack();

  // Runs work on the worker thread with the command inputs disabled; apply
  // runs on this thread only when the work ended normally. A failed or
  // cancelled command leaves the session as it found it.
  void RunCommand(const QString& name, bool withProgress, std::function<void()> work,
                  std::function<void()> apply);
  void SetCommandInputsEnabled(bool enabled);
  void RequireLines(const char* command) const;
  void ShowStatusMessage(const QString& text);
  void ShowTitle(const QString& subject);
  // Before the lines are replaced: true when there are no unsaved edits,
  // or the user saved them or chose to drop them.
  bool MayDiscardEdits();
  // "Save table" after its dialog; false when cancelled.
  bool SaveTableToChosenFile();
  // The lines an undo brought back, shown as they were read.
  void ShowRestoredLines();
  void RememberRecentFile(const QString& path);
  void ShowRecentFiles();
  void ShowShortcuts();
  void ShowAbout();

  void Recalculate();
  void ShowFractions(int regime = 0);
  void ClearUserData();
  void ShowLineUncertainties();
  void ShowFileList(const QString& folder, const QString& selectName);
  void ShowFilePosition();
  void AppendReport(const std::vector<std::string>& lines);
  double ElementMass() const;
  ElementSource CurrentElementSource() const;
  std::string ElementName() const;
  QString DialogFolder() const;
  void Guard(const std::function<void()>& command);

  std::unique_ptr<Settings> fSettings;
  TFormDialogs fDialogs;
  std::unique_ptr<Session> fSession;
  TResultCharts* fCharts = nullptr;
  TPairInspectorForm* fPairInspector = nullptr;

  std::string fDatabaseFolder;
  QString fInitialFolder;   // the open-file dialog's initial folder
  QString fFileName;        // the measurement file last chosen
  QString fFileListFolder;  // the folder the file list shows
  int fShownElement = -1;   // the element list's entry loaded last
  MapRange fMapRange;
  Distribution fMapDistribution = Distribution::Boltzmann;  // of the map shown
  ResidualGrid fMapGrid;
  std::string fAnalysisParameters = kDefaultAnalysisParameters;
  TAnalysisOutputArray fAnalysisOutput;
  bool fClosed = false;
  TCommandRunner* fRunner = nullptr;
  QMetaObject::Connection fFocusWatch;         // the application's focus changes
  std::optional<Session::State> fStateBefore;  // while a command runs
  // The fitted values of the lines and levels belong to the lines shown
  // (a fit, map or analysis ran on them since they were read or edited).
  bool fResultsCurrent = false;
  // The intensities' uncertainties the fitted values shown were weighted
  // by (none: unweighted, or no fit).
  IntensityUncertainty fFitUncertainty;
  std::vector<double> fLevelUncertainties;  // u(log10 N) of each level, of the fit shown
  int fShownRegime = 0;  // what the fractions shown are: 0 measured, 1 a line analysis
  std::optional<LineAnalysisRequest> fLastAnalysis;
  ChartExportOptions fExportOptions;  // of the last chart export
  // The measurement lines of the spectrum shown; kept here, as the session
  // may hold a later spectrum whose read was cancelled.
  std::vector<std::string> fSpectrumLines;
  // The wavelength pair of each point of the "Analysis" chart.
  std::vector<std::pair<double, double>> fAnalysisPairs;
  // The series shown was fitted from recordings: a click on a point
  // integrates its file again rather than reading it as a measurement.
  bool fSeriesOfRecordings = false;
  // The frame of the camera file shown; and the spectra of the series shown
  // when it holds frames of camera files, so that a click reads its frame.
  std::optional<size_t> fSpectrumFrame;
  std::vector<RecordingFrame> fSeriesFrames;
};

}  // namespace lumora
