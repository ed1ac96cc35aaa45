#include "app/paircurvewindow.h"

#include <qcustomplot.h>

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

#include "app/resultcharts.h"
#include "app/chartexport.h"
#include "app/log_ticker.h"

namespace lumora {

namespace {

QComboBox* LineBox(QWidget* parent, const char* name, const QString& tip) {
  auto* box = new QComboBox(parent);
  box->setObjectName(name);
  box->setToolTip(tip);
  box->setMinimumContentsLength(10);
  return box;
}

}  // namespace

TPairInspectorForm::TPairInspectorForm(QWidget* parent) : QWidget(parent, Qt::Dialog) {
  setObjectName("TPairInspectorForm");
  setWindowTitle("Pair Inspector");
  resize(520, 420);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  auto* choice = new QHBoxLayout;
  firstLineBox = LineBox(this, "PairFirstBox", "First line of the pair (wavelength, nm)");
  secondLineBox = LineBox(this, "PairSecondBox", "Second line of the pair (wavelength, nm)");
  showButton = new QPushButton("Show ratio", this);
  showButton->setObjectName("PairShowBtn");
  showButton->setToolTip(
      "Compute the intensity ratio of the two lines over the density range "
      "of the last line analysis");
  choice->addWidget(new QLabel("Pair", this));
  choice->addWidget(firstLineBox);
  choice->addWidget(new QLabel("/", this));
  choice->addWidget(secondLineBox);
  choice->addWidget(showButton);
  choice->addStretch(1);
  layout->addLayout(choice);
  hintLabel = new QLabel(this);
  hintLabel->setObjectName("PairHint");
  hintLabel->setWordWrap(true);
  layout->addWidget(hintLabel);
  fChart = new QCustomPlot(this);
  fChart->setObjectName("Chart1");
  StyleDarkPlot(fChart);
  fChart->xAxis->setLabel("Relative density N/N0");
  // Both density axes logarithmic, the absolute n_1 above the relative one.
  for (QCPAxis* axis : {fChart->xAxis, fChart->xAxis2}) {
    axis->setScaleType(QCPAxis::stLogarithmic);
    axis->setTicker(QSharedPointer<QCPAxisTickerLog>(new DistinctLogTicker));
  }
  fChart->xAxis2->setVisible(true);
  fChart->xAxis2->setLabel("Density n_1 (m^-3)");
  fChart->xAxis2->setLabelColor(fChart->xAxis->labelColor());
  fChart->xAxis2->setTickLabelColor(fChart->xAxis->tickLabelColor());
  fChart->xAxis2->setBasePen(fChart->xAxis->basePen());
  fChart->xAxis2->setTickPen(fChart->xAxis->tickPen());
  fChart->xAxis2->setSubTickPen(fChart->xAxis->subTickPen());
  fChart->xAxis2->setNumberFormat("eb");
  fChart->xAxis2->setNumberPrecision(0);
  connect(fChart->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
          [this](const QCPRange& relative) {
            fChart->xAxis2->setRange(relative.lower * fStartDensity,
                                     relative.upper * fStartDensity);
          });
  fChart->yAxis->setLabel("Intensity ratio R");
  fSeries = fChart->addGraph();
  fSeries->setObjectName("PRDSeries");
  fSeries->setPen(QPen(QColor(0x00, 0xFF, 0xFF)));
  fSeries->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, 4));
  fChart->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  OfferChartCopyMenu(fChart);
  connect(fChart, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent*) {
    fChart->rescaleAxes();
    fChart->replot();
  });
  layout->addWidget(fChart, 1);
  connect(showButton, &QPushButton::clicked, this, [this] {
    if (firstLineBox->currentIndex() < 0 || secondLineBox->currentIndex() < 0) return;
    emit PairChosen(firstLineBox->currentData().toDouble(),
                    secondLineBox->currentData().toDouble());
  });
}

void TPairInspectorForm::SetLines(const std::vector<double>& wavelengths, double first,
                                  double second) {
  for (QComboBox* box : {firstLineBox, secondLineBox}) {
    box->clear();
    for (double w : wavelengths) box->addItem(QString::number(w, 'f', 4), w);
  }
  firstLineBox->setCurrentIndex(firstLineBox->findData(first));
  secondLineBox->setCurrentIndex(secondLineBox->findData(second));
  showButton->setEnabled(wavelengths.size() >= 2);
}

void TPairInspectorForm::ShowNoCurve(const QString& why) {
  fSeries->data()->clear();
  fChart->replot();
  hintLabel->setText(why);
}

void TPairInspectorForm::ShowCurve(const std::vector<double>& x, const std::vector<double>& y,
                                   const QString& caption, double log10StartDensity) {
  fStartDensity = std::pow(10.0, log10StartDensity);
  fSeries->data()->clear();
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) fSeries->addData(x[i], y[i]);
  fChart->rescaleAxes();
  fChart->xAxis->scaleRange(1.1);
  fChart->replot();
  hintLabel->clear();
  setWindowTitle(caption);
  Open();
}

void TPairInspectorForm::Clear() {
  hide();
  SetLines({}, 0, 0);
  ShowNoCurve(QString());
  setWindowTitle("Pair Inspector");
}

void TPairInspectorForm::Open() {
  if (QWidget* owner = parentWidget()) {
    const QPoint centre = owner->geometry().center();
    move(centre - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
}

}  // namespace lumora
