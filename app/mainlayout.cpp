// The main window's controls and how they are arranged.
#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>

#include "app/linegrid.h"
#include "app/mainform.h"
#include "app/paircurvewindow.h"
#include "app/resultcharts.h"

namespace lumora {

namespace {

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

QLineEdit* Field(QWidget* parent, const char* name) {
  auto* edit = Named(new QLineEdit(parent), name);
  edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance("1.000E+018") + 16);
  edit->setMaximumWidth(130);
  return edit;
}

QTabWidget* Pages(QWidget* parent, const char* name) {
  auto* pages = Named(new QTabWidget(parent), name);
  pages->setTabPosition(QTabWidget::South);
  return pages;
}

QFont FixedPitch() { return QFontDatabase::systemFont(QFontDatabase::FixedFont); }

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
  lineGrid = Named(new TLineGrid(linePages), "StringGrid1");
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
  for (QWidget* w : std::initializer_list<QWidget*>{elementList, readButton, readSpectrumButton,
                                                    nextFileButton, saveTableButton, analyzeButton})
    bar->addWidget(w);
  bar->addStretch(1);
  page->addLayout(bar);

  // Lower part: the report, the method pages and the groups.
  auto* lower = new QHBoxLayout;
  reportMemo = Named(new QPlainTextEdit(central), "ReportsMemo");
  reportMemo->setFont(FixedPitch());
  reportMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  reportMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto* method = new QVBoxLayout;
  method->addWidget(new QLabel("Method", central));
  methodPages = Pages(central, "MethodPages");
  auto* fitPage = new QWidget(methodPages);
  auto* fitColumns = new QHBoxLayout(fitPage);
  auto* fitForm = new QFormLayout;
  fitColumns->addLayout(fitForm);
  fitDensityEdit = Field(fitPage, "FitDensityEdit");
  fitForm->addRow("Density n_1 (m-3)", fitDensityEdit);
  fitSecondCheckBox = Named(new QCheckBox("Fit T_exc (K)", fitPage), "FitTempCheckBox");
  fitForm->addRow(fitSecondCheckBox);
  fitSecondEdit = Field(fitPage, "FitTempEdit");
  fitForm->addRow("", fitSecondEdit);
  maxIterationsEdit = Field(fitPage, "MaxIterEdit");
  fitForm->addRow("Max iteration number", maxIterationsEdit);
  fitButton = Named(new QPushButton("Fit", fitPage), "FitBtn");
  fitForm->addRow(fitButton);
  // Refits after the fit; no runs, no refits.
  monteCarloGroup = Named(new QGroupBox("Monte Carlo", fitPage), "MonteCarloGroup");
  auto* monteCarloForm = new QFormLayout(monteCarloGroup);
  monteCarloRunsEdit = Field(monteCarloGroup, "MonteCarloRunsEdit");
  monteCarloForm->addRow("Runs", monteCarloRunsEdit);
  monteCarloNoiseEdit = Field(monteCarloGroup, "MonteCarloNoiseEdit");
  monteCarloForm->addRow("Noise", monteCarloNoiseEdit);
  akiAccuracyCheckBox =
      Named(new QCheckBox("Aki accuracy", monteCarloGroup), "AkiAccuracyCheckBox");
  monteCarloForm->addRow(akiAccuracyCheckBox);
  monteCarloSeedEdit = Field(monteCarloGroup, "MonteCarloSeedEdit");
  monteCarloSeedEdit->setPlaceholderText("drawn");
  monteCarloForm->addRow("Seed", monteCarloSeedEdit);
  fitColumns->addWidget(monteCarloGroup);
  methodPages->addTab(fitPage, "Fit");

  auto* mapPage = new QWidget(methodPages);
  auto* mapGrid = new QGridLayout(mapPage);
  // A caption over the From, To and Points fields of one quantity.
  auto addRange = [mapPage, mapGrid](int row, const char* caption, QLineEdit*& from, QLineEdit*& to,
                                     QLineEdit*& points, const char* names[3]) {
    mapGrid->addWidget(new QLabel(caption, mapPage), row, 0, 1, 3);
    QLineEdit** fields[3] = {&from, &to, &points};
    const char* const headings[3] = {"From", "To", "Points"};
    for (int col = 0; col < 3; ++col) {
      mapGrid->addWidget(new QLabel(headings[col], mapPage), row + 1, col);
      *fields[col] = Field(mapPage, names[col]);
      mapGrid->addWidget(*fields[col], row + 2, col);
    }
  };
  const char* densityNames[3] = {"FromDensityEdit", "ToDensityEdit", "PointsDensityEdit"};
  addRange(0, "Density n_1 (m-3)", mapFromDensityEdit, mapToDensityEdit, mapDensityPointsEdit,
           densityNames);
  const char* temperatureNames[3] = {"FromTempEdit", "ToTempEdit", "PointsTempEdit"};
  addRange(3, "Temperature T_exc (K)", mapFromTemperatureEdit, mapToTemperatureEdit,
           mapTemperaturePointsEdit, temperatureNames);
  mapButton = Named(new QPushButton("Create map", mapPage), "MapBtn");
  saveMapCheckBox = Named(new QCheckBox("Save map", mapPage), "SaveMapCheckBox");
  mapGrid->addWidget(mapButton, 6, 0);
  mapGrid->addWidget(saveMapCheckBox, 6, 1, 1, 2);
  methodPages->addTab(mapPage, "Map");
  methodPages->setMaximumWidth(560);
  method->addWidget(methodPages);
  lower->addLayout(method);

  auto* model = modelGroup = Named(new QGroupBox("Model", central), "ModelGroup");
  auto* modelForm = new QFormLayout(model);
  pathEdit = Field(model, "PathEdit");
  modelForm->addRow("Abs. path (m)", pathEdit);
  gasTemperatureEdit = Field(model, "TnEdit");
  modelForm->addRow("Gas Tn (K)", gasTemperatureEdit);
  distributionCombo = Named(new QComboBox(model), "DistributionComboBox");
  distributionCombo->addItems({"Boltzmann", "1s levels"});
  modelForm->addRow("Distribution", distributionCombo);
  levelCountEdit = Field(model, "BoltzCountEdit");
  modelForm->addRow("Count", levelCountEdit);
  model->setMaximumWidth(300);
  lower->addWidget(model);

  auto* files = Named(new QGroupBox("Files", central), "FilesGroup");
  auto* filesLayout = new QVBoxLayout(files);
  fileList = Named(new QListWidget(files), "FileListBox");
  fileList->setMinimumWidth(160);
  filesLayout->addWidget(fileList);
  lower->addWidget(files);

  auto* report = Named(new QGroupBox("Report", central), "ReportGroup");
  auto* reportLayout = new QVBoxLayout(report);
  reportKindCombo = Named(new QComboBox(report), "ReportComboBox");
  reportKindCombo->addItems({"final results", "fit iteration"});
  reportLayout->addWidget(reportKindCombo);
  auto* reportButtons = new QHBoxLayout;
  clearReportButton = Named(new QToolButton(report), "SpeedButton1");
  clearReportButton->setText("c");
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
  reportMemo->setMinimumHeight(60);
  page->addWidget(reportMemo, 1);
  halves->addWidget(lowerHalf);
  halves->setStretchFactor(0, 3);
  halves->setStretchFactor(1, 1);
  halves->setSizes({560, 300});  // the charts get the most room
  setCentralWidget(halves);

  statusLine = Named(new QStatusBar(this), "StatusBar1");
  fileStatus = Named(new QLabel(statusLine), "StatusPanel0");
  fileStatus->setMinimumWidth(200);
  pointerStatus = Named(new QLabel(statusLine), "StatusPanel1");
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
  undoAction = action(edit, "&Undo intensity edit", "UndoAction", QKeySequence::Undo,
                      [this] { UndoEdit(); });
  copyAction = action(edit, "&Copy table cells", "CopyAction", QKeySequence::Copy,
                      [this] { CopyTableSelection(); });
  // In the fields and the report the keys keep their own meaning.
  for (QAction* a : {undoAction, copyAction}) {
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    lineGrid->addAction(a);
  }

  QMenu* run = menuBar()->addMenu("&Run");
  fitAction = action(run, "&Fit", "FitAction", QKeySequence(Qt::Key_F5), [this] { Fit(); });
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
  QString text = "Keyboard shortcuts\n\n";
  for (QAction* a :
       {readAction, readSpectrumAction, nextFileAction, saveTableAction, exportChartAction,
        quitAction, fitAction, mapAction, analysisAction, cancelAction, undoAction, copyAction})
    text += QString("%1\t%2\n")
                .arg(a->shortcut().toString(QKeySequence::NativeText), -12)
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
      {analyzeButton, "Simulate lines of the database and analyse their self-absorption (F7)"},
      {lineGrid,
       "Measured lines; edit an intensity (arbitrary units) and press Enter. "
       "Ctrl+C copies the selected cells, Ctrl+Z undoes an edit"},
      {fitDensityEdit, "Start value of the lower-level density n_1, in m^-3"},
      {fitSecondCheckBox,
       "Also fit the second parameter (T_exc in K, or log10 of the 1s "
       "density ratio)"},
      {fitSecondEdit, "Start or fixed value of the second parameter (T_exc in K)"},
      {maxIterationsEdit, "Largest number of fit iterations"},
      {fitButton, "Fit n_1 (and T_exc) to the measured branching fractions (F5)"},
      {monteCarloGroup, "Refits of perturbed copies of the lines after each fit"},
      {monteCarloRunsEdit,
       "Number of Monte Carlo refits after the fit (10 to 100000); "
       "0 or empty: none"},
      {monteCarloNoiseEdit,
       "Relative standard deviation of the noise put on each intensity "
       "(0.02 is 2 %)"},
      {akiAccuracyCheckBox,
       "Also scale each Aki by its accuracy grade's uncertainty "
       "(a line without a grade counts as E)"},
      {monteCarloSeedEdit,
       "Seed of the random draws, to repeat a run; empty: drawn and "
       "shown in the report"},
      {mapFromDensityEdit, "First density n_1 of the map, in m^-3"},
      {mapToDensityEdit, "Density limit n_1 of the map, in m^-3"},
      {mapDensityPointsEdit, "Number of density points of the map"},
      {mapFromTemperatureEdit, "First excitation temperature of the map, in K"},
      {mapToTemperatureEdit, "Temperature limit of the map, in K"},
      {mapTemperaturePointsEdit, "Number of temperature points of the map"},
      {mapButton, "Residual sum of squares over the density-temperature grid (F6)"},
      {saveMapCheckBox, "Write the map to the Maps folder beside the measurement"},
      {pathEdit, "Absorption path length, in m"},
      {gasTemperatureEdit, "Gas temperature Tn, in K (Doppler width)"},
      {distributionCombo, "Population of the lower levels: Boltzmann, or the four 1s levels"},
      {levelCountEdit, "Number of lower levels the distribution populates"},
      {fileList, "Measurement files (*.txt) of the folder; click one to read it"},
      {reportKindCombo, "Report of a fit: final results line, or the whole iteration log"},
      {saveReportButton, "Save the report text"},
      {reportMemo, "Results lines of the fits, maps and analyses"},
      {cancelButton, "Stop the running command; nothing is changed (Esc)"},
      {progressBar, "Progress of the running command"}};
  for (const auto& [widget, tip] : tips) widget->setToolTip(tip);
}

}  // namespace lumora
