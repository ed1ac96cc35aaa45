#include "app/paircurvewindow.h"

#include "app/resultcharts.h"

#include <qcustomplot.h>

#include <QVBoxLayout>

namespace lumora {


TPairInspectorForm::TPairInspectorForm(QWidget* parent) : QWidget(parent, Qt::Dialog) {
  setObjectName("TPairInspectorForm");
  setWindowTitle("Pair Inspector");
  resize(480, 360);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  fChart = new QCustomPlot(this);
  fChart->setObjectName("Chart1");
  StyleDarkPlot(fChart);
  fSeries = fChart->addGraph();
  fSeries->setObjectName("PRDSeries");
  fSeries->setPen(QPen(QColor(0x00, 0xFF, 0xFF)));
  fSeries->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, 4));
  layout->addWidget(fChart);
}

void TPairInspectorForm::ShowCurve(const std::vector<double>& x, const std::vector<double>& y,
                                   const QString& caption) {
  fSeries->data()->clear();
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) fSeries->addData(x[i], y[i]);
  fChart->rescaleAxes();
  fChart->replot();
  setWindowTitle(caption);
  if (QWidget* owner = parentWidget()) {
    const QPoint centre = owner->geometry().center();
    move(centre - QPoint(width() / 2, height() / 2));
  }
  show();
  raise();
}

}  // namespace lumora
