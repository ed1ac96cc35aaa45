// The pair inspector: a small window beside the main window with the ratio
// curve R(N/N0) of one fixed line pair.
#pragma once

#include <QWidget>
#include <vector>

class QCustomPlot;
class QCPGraph;

namespace lumora {

class TPairInspectorForm : public QWidget {
  Q_OBJECT

 public:
  // Stays on top of its parent and opens centred on it.
  explicit TPairInspectorForm(QWidget* parent);

  // Replaces the curve: x the density relative to the start, y the ratio.
  void ShowCurve(const std::vector<double>& x, const std::vector<double>& y, const QString& caption);

  QCustomPlot* Chart1() const { return fChart; }

 private:
  QCustomPlot* fChart = nullptr;
  QCPGraph* fSeries = nullptr;
};

}  // namespace lumora
