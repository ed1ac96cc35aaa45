// The status bar's pointer read-out: the values under the pointer on one
// of the charts. It lasts as long as its chart shows data, so that a
// chart that was emptied leaves no numbers of what it showed behind.
#pragma once

#include <QLabel>
#include <QPointer>

class QCustomPlot;

namespace lumora {

// True when a plottable of the chart holds data (a graph's points, a
// colour map's cells).
bool ShowsData(QCustomPlot& chart);

class ChartReadout : public QLabel {
  Q_OBJECT

 public:
  explicit ChartReadout(QWidget* parent);

  // Shows text read off chart; the next replot that leaves chart without
  // data clears it. A read-out over a chart without data (the map's empty
  // range) stays until it is replaced.
  void Show(QCustomPlot* chart, const QString& text);

 private:
  void Forget();

  QPointer<QCustomPlot> fChart;
  QMetaObject::Connection fWatch;  // fChart's replots
};

}  // namespace lumora
