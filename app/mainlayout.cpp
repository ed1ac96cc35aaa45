// The main window's controls and how they are arranged.
#include <QAction>
#include <QBoxLayout>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolButton>
#include <algorithm>

#include "app/chart_readout.h"
#include "app/fit_panel.h"
#include "app/line_table_controller.h"
#include "app/linegrid.h"
#include "app/mainform.h"
#include "app/map_panel.h"
#include "app/model_panel.h"
#include "app/paircurvewindow.h"
#include "app/resultcharts.h"
#include "app/series_panel.h"
#include "app/uncertainty_choice.h"

namespace lumora {

namespace {

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QTabWidget* Pages(QWidget* parent, const char* name) {
  auto* pages = Named(new QTabWidget(parent), name);
  pages->setTabPosition(QTabWidget::South);
  return pages;
}

QFont FixedPitch() { return QFontDatabase::systemFont(QFontDatabase::FixedFont); }

// The height of a text pane that shows `lines` lines of its font above
// its horizontal scroll bar (results lines are wider than the window).
int ReportLinesHeight(const QPlainTextEdit* pane, int lines) {
  return lines * QFontMetrics(pane->font()).lineSpacing() + 2 * pane->frameWidth() +
         static_cast<int>(2 * pane->document()->documentMargin()) + 4 +
         pane->horizontalScrollBar()->sizeHint().height();
}

QListWidget* Listing(QWidget* parent, const char* name) {
  auto* list = Named(new QListWidget(parent), name);
  list->setFont(FixedPitch());
  return list;
}

}  // namespace

void TMainForm::BuildLayout() {
  // Upper and lower halves with a movable splitter between them.
  auto* halves = Named(new QSplitter(Qt::Vertical, this), "HalvesSplitter");
  halves->setChildrenCollapsible(false);
  auto* central = new QWidget(halves);
  auto* page = new QVBoxLayout(central);
  page->setContentsMargins(4, 4, 4, 0);

  // Upper part: line pages left, chart pages right, a movable splitter between.
  auto* upper = Named(new QSplitter(Qt::Horizontal, central), "UpperSplitter");
  upper->setChildrenCollapsible(false);
  linePages = Pages(upper, "LinePages");
  lineTable = new LineTableController(*fSession, linePages);
  lineGrid = lineTable->Grid();
  linePages->addTab(lineGrid, "Selected lines");
  linesList = Listing(linePages, "LinesBox");
  linePages->addTab(linesList, "Database lines");
  levelsList = Listing(linePages, "LevelsBox");
  linePages->addTab(levelsList, "Database levels");
  structureMemo = Named(new QPlainTextEdit(linePages), "LLMemo");
  structureMemo->setReadOnly(true);
  structureMemo->setFont(FixedPitch());
  structureMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  structureMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  structureMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  linePages->addTab(structureMemo, "Level-line structure ");

  chartPages = Pages(upper, "ChartPages");
  fCharts = new TResultCharts(chartPages);
  const std::vector<QWidget*> charts = fCharts->Pages();
  const char* const captions[] = {"Branching fractions", "Sum",     "Densities", "Analysis",
                                  "Uncertainty",         "Spectrum"};
  for (size_t i = 0; i < charts.size(); ++i) chartPages->addTab(charts[i], captions[i]);
  seriesPanel = new SeriesPanel(chartPages, linePages);
  chartPages->addTab(seriesPanel->ChartPage(), "Series");
  linePages->addTab(seriesPanel->TablePage(), "Series");
  upper->addWidget(linePages);
  upper->addWidget(chartPages);
  upper->setStretchFactor(0, 1);
  upper->setStretchFactor(1, 1);
  page->addWidget(upper, 1);
  halves->addWidget(central);

  // Lower half: the command bar, the method, model, file and report groups,
  // and below them the report text over the window's full width.
  auto* lowerHalf = new QWidget(halves);
  auto* lowerPage = new QVBoxLayout(lowerHalf);
  lowerPage->setContentsMargins(4, 0, 4, 0);
  central = lowerHalf;
  page = lowerPage;
  auto* bar = new QHBoxLayout;
  elementList = Named(new QComboBox(central), "ElementListBox");
  elementList->setEditable(false);
  elementList->setMinimumContentsLength(12);
  readButton = Named(new QPushButton("Read intensities", central), "ReadBtn");
  readSpectrumButton = Named(new QPushButton("Read spectrum…", central), "ReadSpectrumBtn");
  nextFileButton = Named(new QPushButton("Next file", central), "NextBtn");
  saveTableButton = Named(new QPushButton("Save table", central), "Button1");
  analyzeButton = Named(new QPushButton("Line analysis", central), "AnalyzeBtn");
  uncertaintyChoice = new UncertaintyChoice(central);
  for (QWidget* w : std::initializer_list<QWidget*>{elementList, readButton, readSpectrumButton,
                                                    nextFileButton, saveTableButton, analyzeButton,
                                                    uncertaintyChoice})
    bar->addWidget(w);
  bar->addStretch(1);
  page->addLayout(bar);

  // Lower part: the report, the method pages and the groups.
  auto* lower = new QHBoxLayout;
  reportMemo = Named(new QPlainTextEdit(central), "ReportsMemo");
  reportMemo->setReadOnly(true);  // the commands write it; Clear empties it
  reportMemo->setFont(FixedPitch());
  reportMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  reportMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto* method = new QVBoxLayout;
  method->addWidget(new QLabel("Method", central));
  methodPages = Pages(central, "MethodPages");
  fitPanel = new FitPanel(methodPages);
  methodPages->addTab(fitPanel, "Fit");
  mapPanel = new MapPanel(methodPages);
  methodPages->addTab(mapPanel, "Map");
  methodPages->setMaximumWidth(560);
  method->addWidget(methodPages);
  lower->addLayout(method);

  modelPanel = new ModelPanel(central);
  lower->addWidget(modelPanel);

  auto* files = Named(new QGroupBox("Files", central), "FilesGroup");
  auto* filesLayout = new QVBoxLayout(files);
  fileList = Named(new QListWidget(files), "FileListBox");
  fileList->setMinimumWidth(120);
  filesLayout->addWidget(fileList);
  lower->addWidget(files);

  auto* report = Named(new QGroupBox("Report", central), "ReportGroup");
  auto* reportLayout = new QVBoxLayout(report);
  reportKindCombo = Named(new QComboBox(report), "ReportComboBox");
  reportKindCombo->addItems({"final results", "fit iteration"});
  reportLayout->addWidget(reportKindCombo);
  auto* reportButtons = new QHBoxLayout;
  clearReportButton = Named(new QToolButton(report), "SpeedButton1");
  clearReportButton->setText("Clear");
  clearReportButton->setToolTip("Clear report window");
  saveReportButton = Named(new QPushButton("Save report", report), "SaveButton");
  reportButtons->addWidget(clearReportButton);
  reportButtons->addWidget(saveReportButton);
  reportLayout->addLayout(reportButtons);
  reportLayout->addStretch(1);
  report->setMaximumWidth(200);
  lower->addWidget(report);

  auto* lowerWidget = new QWidget(central);
  lowerWidget->setLayout(lower);
  lower->setContentsMargins(0, 0, 0, 0);
  lowerWidget->setFixedHeight(lowerWidget->sizeHint().height());
  page->addWidget(lowerWidget);
  // Four lines of the report stay in view at the smallest window, eight
  // where the window has room; the splitter above it makes it taller.
  reportMemo->setMinimumHeight(ReportLinesHeight(reportMemo, 4));
  page->addWidget(reportMemo, 1);
  halves->addWidget(lowerHalf);
  // The lower half keeps its height as the window changes; the charts grow
  // and shrink, until they reach their least height.
  halves->setStretchFactor(0, 1);
  halves->setStretchFactor(1, 0);
  const int eightLines = lowerHalf->minimumSizeHint().height() +
                         ReportLinesHeight(reportMemo, 8) - ReportLinesHeight(reportMemo, 4);
  halves->setSizes({560, eightLines});  // the charts get the rest
  setCentralWidget(halves);

  statusLine = Named(new QStatusBar(this), "StatusBar1");
  fileStatus = Named(new QLabel(statusLine), "StatusPanel0");
  fileStatus->setMinimumWidth(200);
  pointerStatus = Named(new ChartReadout(statusLine), "StatusPanel1");
  messageStatus = Named(new QLabel(statusLine), "StatusMessage");
  progressBar = Named(new QProgressBar(statusLine), "CommandProgress");
  progressBar->setMaximumWidth(200);
  progressBar->setTextVisible(true);
  cancelButton = Named(new QPushButton("Cancel", statusLine), "CancelBtn");
  statusLine->addWidget(fileStatus);
  statusLine->addWidget(pointerStatus, 1);
  statusLine->addWidget(messageStatus, 2);
  statusLine->addPermanentWidget(progressBar);
  statusLine->addPermanentWidget(cancelButton);
  progressBar->hide();
  cancelButton->hide();
  setStatusBar(statusLine);

  fPairInspector = new TPairInspectorForm(this);
  setMinimumSize(960, 640);
}

void TMainForm::BuildMenus() {
  const auto action = [this](QMenu* menu, const QString& text, const char* name,
                             const QKeySequence& keys, auto handler) {
    QAction* a = menu->addAction(text, this, handler);
    a->setObjectName(name);
    if (!keys.isEmpty()) a->setShortcut(keys);
    return a;
  };
  QMenu* file = menuBar()->addMenu("&File");
  readAction = action(file, "&Read intensities…", "ReadAction", QKeySequence::Open,
                      [this] { OnRead(readButton); });
  nextFileAction = action(file, "&Next file", "NextFileAction", QKeySequence(Qt::CTRL | Qt::Key_N),
                          [this] { OnNextFile(); });
  readSpectrumAction =
      action(file, "Read s&pectrum…", "ReadSpectrumAction",
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), [this] { ReadSpectrum(); });
  recentMenu = file->addMenu("Recent &measurements");
  recentMenu->setObjectName("RecentMenu");
  file->addSeparator();
  saveTableAction =
      action(file, "&Save table…", "SaveTableAction", QKeySequence::Save, [this] { SaveTable(); });
  saveLinesAction = action(file, "Save &lines…", "SaveLinesAction", QKeySequence(),
                           [this] { SaveSpectrumLines(); });
  saveLinesAction->setEnabled(false);  // until a spectrum is read
  saveReportAction =
      action(file, "Save re&port…", "SaveReportAction", QKeySequence(), [this] { SaveReport(); });
  exportChartAction = action(file, "&Export chart…", "ExportChartAction",
                             QKeySequence(Qt::CTRL | Qt::Key_E), [this] { ExportChart(); });
  file->addSeparator();
  quitAction =
      action(file, "&Quit", "QuitAction", QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });

  QMenu* edit = menuBar()->addMenu("&Edit");
  undoAction = action(edit, "&Undo table edit", "UndoAction", QKeySequence::Undo,
                      [this] { UndoEdit(); });
  copyAction = action(edit, "&Copy table cells", "CopyAction", QKeySequence::Copy,
                      [this] { CopyTableSelection(); });
  // Ctrl+Z takes back a replaced measurement wherever the focus is; the
  // fields keep their own undo, as they take the key first. Ctrl+C copies
  // the table's cells only from the table.
  copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  lineGrid->addAction(copyAction);

  QMenu* run = menuBar()->addMenu("&Run");
  fitAction = action(run, "&Fit", "FitAction", QKeySequence(Qt::Key_F5), [this] { Fit(); });
  fitAllAction = action(run, "Fit &all files", "FitAllAction",
                        QKeySequence(Qt::CTRL | Qt::Key_F5), [this] { FitAllFiles(); });
  mapAction =
      action(run, "Create &map", "MapAction", QKeySequence(Qt::Key_F6), [this] { CreateMap(); });
  analysisAction = action(run, "&Line analysis…", "AnalysisAction", QKeySequence(Qt::Key_F7),
                          [this] { AnalyzeLines(); });
  pairInspectorAction = action(run, "&Pair inspector", "PairInspectorAction", QKeySequence(),
                               [this] { ShowPairInspector(); });
  run->addSeparator();
  cancelAction = action(run, "&Cancel", "CancelAction", QKeySequence(Qt::Key_Escape),
                        [this] { CancelCommand(); });
  cancelAction->setEnabled(false);

  QMenu* help = menuBar()->addMenu("&Help");
  shortcutsAction = action(help, "&Keyboard shortcuts", "ShortcutsAction",
                           QKeySequence::HelpContents, [this] { ShowShortcuts(); });
  aboutAction =
      action(help, "&About Lumora", "AboutAction", QKeySequence(), [this] { ShowAbout(); });
  ShowRecentFiles();
}

void TMainForm::ShowShortcuts() {
  const std::initializer_list<QAction*> actions = {
      readAction, readSpectrumAction, nextFileAction, saveTableAction, exportChartAction,
      quitAction, fitAction,          fitAllAction,   mapAction,       analysisAction,
      cancelAction, undoAction, copyAction};
  // Each key two blanks wider than the longest, so that none runs into its text.
  int width = 0;
  for (QAction* a : actions)
    width = std::max(width, static_cast<int>(
                                a->shortcut().toString(QKeySequence::NativeText).size()));
  QString text = "Keyboard shortcuts\n\n";
  for (QAction* a : actions)
    text += QString("%1  %2\n")
                .arg(a->shortcut().toString(QKeySequence::NativeText), -width)
                .arg(a->text().remove('&').remove(QChar(0x2026)));
  text +=
      "\nCharts: wheel zooms, dragging pans, a double-click shows all, the right button "
      "exports or copies the chart.";
  fDialogs.ShowMessage(text);
}

void TMainForm::ShowAbout() {
  fDialogs.ShowMessage(
      QString("Lumora %1\n"
              "Optical emission spectroscopy of low-temperature plasmas: effective branching "
              "fractions, self-absorption fits, residual maps and line analyses.\n\n"
              "Libraries used:\n"
              "Qt %2 (LGPL-3.0)\n"
              "QCustomPlot (GPL-3.0)\n"
              "SimpleIni (MIT)")
          .arg(LUMORA_VERSION, qVersion()));
}

void TMainForm::AddTooltips() {
  const std::pair<QWidget*, const char*> tips[] = {
      {elementList, "Element whose levels and line base are used"},
      {readButton, "Read a measurement file of wavelengths (nm) and intensities (Ctrl+O)"},
      {readSpectrumButton,
       "Read a recorded spectrum, integrate the element's lines in it and "
       "fill the table with their areas (Ctrl+Shift+O)"},
      {nextFileButton, "Read the next measurement file of the folder (Ctrl+N)"},
      {saveTableButton, "Save the line table as tab-separated text (Ctrl+S)"},
      {lineGrid,
       "Untick a line's box to leave it out of fit, map and Monte Carlo (Ctrl+Z takes it "
       "back); double-click an intensity to edit it"},
      {analyzeButton, "Simulate lines of the database and analyse their self-absorption (F7)"},
      {lineGrid,
       "Measured lines; edit an intensity (arbitrary units) and press Enter. "
       "Ctrl+C copies the selected cells, Ctrl+Z undoes an edit"},
      {fileList, "Measurement files (*.txt) of the folder; click one to read it"},
      {reportKindCombo, "Report of a fit: final results line, or the whole iteration log"},
      {saveReportButton, "Save the report text"},
      {reportMemo, "Results lines of the fits, maps and analyses"},
      {cancelButton, "Stop the running command; nothing is changed (Esc)"},
      {progressBar, "Progress of the running command"}};
  for (const auto& [widget, tip] : tips) widget->setToolTip(tip);
}

}  // namespace lumora
