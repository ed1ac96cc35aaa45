#include "app/chart_readout.h"

#include <qcustomplot.h>

namespace lumora {

bool ShowsData(QCustomPlot& chart) {
  for (int i = 0; i < chart.plottableCount(); ++i) {
    QCPAbstractPlottable* plottable = chart.plottable(i);
    if (const QCPPlottableInterface1D* points = plottable->interface1D())
      if (points->dataCount() > 0) return true;
    if (const auto* map = qobject_cast<const QCPColorMap*>(plottable))
      if (map->data()->keySize() > 0 && map->data()->valueSize() > 0) return true;
  }
  return false;
}

ChartReadout::ChartReadout(QWidget* parent) : QLabel(parent) {}

void ChartReadout::Show(QCustomPlot* chart, const QString& text) {
  setText(text);
  if (chart == fChart) return;
  Forget();
  if (!chart || !ShowsData(*chart)) return;
  fChart = chart;
  fWatch = connect(chart, &QCustomPlot::afterReplot, this, [this] {
    if (fChart && ShowsData(*fChart)) return;
    Forget();
    clear();
  });
}

void ChartReadout::Forget() {
  disconnect(fWatch);
  fChart = nullptr;
}

}  // namespace lumora
