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
  LinePages = Pages(upper, "LinePages");
  StringGrid1 = Named(new TLineGrid(LinePages), "StringGrid1");
  LinePages->addTab(StringGrid1, "Selected lines");
  LinesBox = Listing(LinePages, "LinesBox");
  LinePages->addTab(LinesBox, "Database lines");
  LevelsBox = Listing(LinePages, "LevelsBox");
  LinePages->addTab(LevelsBox, "Database levels");
  LLMemo = Named(new QPlainTextEdit(LinePages), "LLMemo");
  LLMemo->setReadOnly(true);
  LLMemo->setFont(FixedPitch());
  LLMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  LLMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  LLMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  LinePages->addTab(LLMemo, "Level-line structure ");

  ChartPages = Pages(upper, "ChartPages");
  fCharts = new TResultCharts(ChartPages);
  const std::vector<QWidget*> charts = fCharts->Pages();
  const char* const captions[] = {"Branching fractions", "Sum", "Densities", "Analysis"};
  for (size_t i = 0; i < charts.size(); ++i) ChartPages->addTab(charts[i], captions[i]);
  upper->addWidget(LinePages);
  upper->addWidget(ChartPages);
  upper->setStretchFactor(0, 1);
  upper->setStretchFactor(1, 1);
  page->addWidget(upper, 1);

  // Command bar.
  auto* bar = new QHBoxLayout;
  ElementListBox = Named(new QComboBox(central), "ElementListBox");
  ElementListBox->setEditable(false);
  ElementListBox->setMinimumContentsLength(12);
  ReadBtn = Named(new QPushButton("Read intensities", central), "ReadBtn");
  NextBtn = Named(new QPushButton("Next file", central), "NextBtn");
  Button1 = Named(new QPushButton("Save table", central), "Button1");
  AnalyzeBtn = Named(new QPushButton("Line analysis", central), "AnalyzeBtn");
  for (QWidget* w : std::initializer_list<QWidget*>{ElementListBox, ReadBtn, NextBtn, Button1,
                                                    AnalyzeBtn})
    bar->addWidget(w);
  bar->addStretch(1);
  page->addLayout(bar);

  // Lower part: the report, the method pages and the groups.
  auto* lower = new QHBoxLayout;
  ReportsMemo = Named(new QPlainTextEdit(central), "ReportsMemo");
  ReportsMemo->setFont(FixedPitch());
  ReportsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  ReportsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  lower->addWidget(ReportsMemo, 1);

  auto* method = new QVBoxLayout;
  method->addWidget(new QLabel("Method", central));
  MethodPages = Pages(central, "MethodPages");
  auto* fitPage = new QWidget(MethodPages);
  auto* fitForm = new QFormLayout(fitPage);
  FitDensityEdit = Field(fitPage, "FitDensityEdit");
  fitForm->addRow("Density n_1 (m-3)", FitDensityEdit);
  FitTempCheckBox = Named(new QCheckBox("Fit T_exc (K)", fitPage), "FitTempCheckBox");
  fitForm->addRow(FitTempCheckBox);
  FitTempEdit = Field(fitPage, "FitTempEdit");
  fitForm->addRow("", FitTempEdit);
  MaxIterEdit = Field(fitPage, "MaxIterEdit");
  fitForm->addRow("Max iteration number", MaxIterEdit);
  FitBtn = Named(new QPushButton("Fit", fitPage), "FitBtn");
  fitForm->addRow(FitBtn);
  MethodPages->addTab(fitPage, "Fit");

  auto* mapPage = new QWidget(MethodPages);
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
  addRange(0, "Density n_1 (m-3)", FromDensityEdit, ToDensityEdit, PointsDensityEdit, densityNames);
  const char* temperatureNames[3] = {"FromTempEdit", "ToTempEdit", "PointsTempEdit"};
  addRange(3, "Temperature T_exc (K)", FromTempEdit, ToTempEdit, PointsTempEdit, temperatureNames);
  MapBtn = Named(new QPushButton("Create map", mapPage), "MapBtn");
  SaveMapCheckBox = Named(new QCheckBox("Save map", mapPage), "SaveMapCheckBox");
  mapGrid->addWidget(MapBtn, 6, 0);
  mapGrid->addWidget(SaveMapCheckBox, 6, 1, 1, 2);
  MethodPages->addTab(mapPage, "Map");
  MethodPages->setMaximumWidth(340);
  method->addWidget(MethodPages);
  lower->addLayout(method);

  auto* model = Named(new QGroupBox("Model", central), "ModelGroup");
  auto* modelForm = new QFormLayout(model);
  PathEdit = Field(model, "PathEdit");
  modelForm->addRow("Abs. path (m)", PathEdit);
  TnEdit = Field(model, "TnEdit");
  modelForm->addRow("Gas Tn (K)", TnEdit);
  DistributionComboBox = Named(new QComboBox(model), "DistributionComboBox");
  DistributionComboBox->addItems({"Boltzmann", "1s levels"});
  modelForm->addRow("Distribution", DistributionComboBox);
  BoltzCountEdit = Field(model, "BoltzCountEdit");
  modelForm->addRow("Count", BoltzCountEdit);
  model->setMaximumWidth(260);
  lower->addWidget(model);

  auto* files = Named(new QGroupBox("Files", central), "FilesGroup");
  auto* filesLayout = new QVBoxLayout(files);
  FileListBox = Named(new QListWidget(files), "FileListBox");
  FileListBox->setMinimumWidth(200);
  files->setMaximumWidth(260);
  filesLayout->addWidget(FileListBox);
  lower->addWidget(files);

  auto* report = Named(new QGroupBox("Report", central), "ReportGroup");
  auto* reportLayout = new QVBoxLayout(report);
  ReportComboBox = Named(new QComboBox(report), "ReportComboBox");
  ReportComboBox->addItems({"final results", "fit iteration"});
  reportLayout->addWidget(ReportComboBox);
  auto* reportButtons = new QHBoxLayout;
  SpeedButton1 = Named(new QToolButton(report), "SpeedButton1");
  SpeedButton1->setText("c");
  SpeedButton1->setToolTip("Clear report window");
  SaveButton = Named(new QPushButton("Save report", report), "SaveButton");
  reportButtons->addWidget(SpeedButton1);
  reportButtons->addWidget(SaveButton);
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

  StatusBar1 = Named(new QStatusBar(this), "StatusBar1");
  StatusPanel0 = Named(new QLabel(StatusBar1), "StatusPanel0");
  StatusPanel0->setMinimumWidth(200);
  StatusPanel1 = Named(new QLabel(StatusBar1), "StatusPanel1");
  StatusBar1->addWidget(StatusPanel0);
  StatusBar1->addWidget(StatusPanel1, 1);
  setStatusBar(StatusBar1);

  fPairInspector = new TPairInspectorForm(this);
}

}  // namespace lumora
