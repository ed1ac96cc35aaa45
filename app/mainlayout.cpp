// The main window's controls and how they are arranged.
#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
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
  edit->setMaximumWidth(110);
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
  auto* central = new QWidget(this);
  auto* page = new QVBoxLayout(central);
  page->setContentsMargins(4, 4, 4, 0);

  // Upper part: line pages left, chart pages right, a movable splitter between.
  auto* upper = new QSplitter(Qt::Horizontal, central);
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
  const char* const captions[] = {"Branching fractions", "Sum", "Densities", "Analysis"};
  for (size_t i = 0; i < charts.size(); ++i) chartPages->addTab(charts[i], captions[i]);
  upper->addWidget(linePages);
  upper->addWidget(chartPages);
  upper->setStretchFactor(0, 1);
  upper->setStretchFactor(1, 1);
  page->addWidget(upper, 1);

  // Command bar.
  auto* bar = new QHBoxLayout;
  elementList = Named(new QComboBox(central), "ElementListBox");
  elementList->setEditable(false);
  elementList->setMinimumContentsLength(12);
  readButton = Named(new QPushButton("Read intensities", central), "ReadBtn");
  nextFileButton = Named(new QPushButton("Next file", central), "NextBtn");
  saveTableButton = Named(new QPushButton("Save table", central), "Button1");
  analyzeButton = Named(new QPushButton("Line analysis", central), "AnalyzeBtn");
  for (QWidget* w : std::initializer_list<QWidget*>{elementList, readButton, nextFileButton, saveTableButton,
                                                    analyzeButton})
    bar->addWidget(w);
  bar->addStretch(1);
  page->addLayout(bar);

  // Lower part: the report, the method pages and the groups.
  auto* lower = new QHBoxLayout;
  reportMemo = Named(new QPlainTextEdit(central), "ReportsMemo");
  reportMemo->setFont(FixedPitch());
  reportMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  reportMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  lower->addWidget(reportMemo, 1);

  auto* method = new QVBoxLayout;
  method->addWidget(new QLabel("Method", central));
  methodPages = Pages(central, "MethodPages");
  auto* fitPage = new QWidget(methodPages);
  auto* fitForm = new QFormLayout(fitPage);
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
  addRange(0, "Density n_1 (m-3)", mapFromDensityEdit, mapToDensityEdit, mapDensityPointsEdit, densityNames);
  const char* temperatureNames[3] = {"FromTempEdit", "ToTempEdit", "PointsTempEdit"};
  addRange(3, "Temperature T_exc (K)", mapFromTemperatureEdit, mapToTemperatureEdit, mapTemperaturePointsEdit, temperatureNames);
  mapButton = Named(new QPushButton("Create map", mapPage), "MapBtn");
  saveMapCheckBox = Named(new QCheckBox("Save map", mapPage), "SaveMapCheckBox");
  mapGrid->addWidget(mapButton, 6, 0);
  mapGrid->addWidget(saveMapCheckBox, 6, 1, 1, 2);
  methodPages->addTab(mapPage, "Map");
  methodPages->setMaximumWidth(340);
  method->addWidget(methodPages);
  lower->addLayout(method);

  auto* model = Named(new QGroupBox("Model", central), "ModelGroup");
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
  model->setMaximumWidth(260);
  lower->addWidget(model);

  auto* files = Named(new QGroupBox("Files", central), "FilesGroup");
  auto* filesLayout = new QVBoxLayout(files);
  fileList = Named(new QListWidget(files), "FileListBox");
  fileList->setMinimumWidth(200);
  files->setMaximumWidth(260);
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
  report->setMaximumWidth(180);
  lower->addWidget(report);

  auto* lowerWidget = new QWidget(central);
  lowerWidget->setLayout(lower);
  lower->setContentsMargins(0, 0, 0, 0);
  lowerWidget->setFixedHeight(250);
  page->addWidget(lowerWidget);
  setCentralWidget(central);

  statusLine = Named(new QStatusBar(this), "StatusBar1");
  fileStatus = Named(new QLabel(statusLine), "StatusPanel0");
  fileStatus->setMinimumWidth(200);
  pointerStatus = Named(new QLabel(statusLine), "StatusPanel1");
  statusLine->addWidget(fileStatus);
  statusLine->addWidget(pointerStatus, 1);
  setStatusBar(statusLine);

  fPairInspector = new TPairInspectorForm(this);
}

}  // namespace lumora
