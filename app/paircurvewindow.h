// The pair inspector: a small window beside the main window with the ratio
// curve R(N/N0) of one line pair, and two lists of the analysed lines to
// choose the pair from.
#pragma once

#include <QWidget>
#include <vector>

class QComboBox;
class QCustomPlot;
class QCPGraph;
class QLabel;
class QPushButton;

namespace lumora {

class TPairInspectorForm : public QWidget {
  Q_OBJECT

 public:
  // Stays on top of its parent and opens centred on it.
  explicit TPairInspectorForm(QWidget* parent);

  // Replaces the curve: x the density relative to the start, y the ratio;
  // the axis above gives the absolute n_1 from the start's log10 n_1.
  void ShowCurve(const std::vector<double>& x, const std::vector<double>& y,
                 const QString& caption, double log10StartDensity);
  // The analysed lines' wavelengths (nm) the two lists offer, with the pair
  // selected when both are among them.
  void SetLines(const std::vector<double>& wavelengths, double first, double second);
  // Empties the curve and says why.
  void ShowNoCurve(const QString& why);
  // No lines, no curve, no caption, and the window closed: what it showed
  // belongs to lines that are gone.
  void Clear();
  // Opens the window centred on its parent.
  void Open();

  QCustomPlot* Chart1() const { return fChart; }
  QComboBox* firstLineBox = nullptr;
  QComboBox* secondLineBox = nullptr;
  QPushButton* showButton = nullptr;
  QLabel* hintLabel = nullptr;

 signals:
  // "Show ratio" with the two wavelengths chosen.
  void PairChosen(double first, double second);

 private:
  QCustomPlot* fChart = nullptr;
  QCPGraph* fSeries = nullptr;
  double fStartDensity = 1;  // n_1 where N/N0 is 1, in m^-3
};

}  // namespace lumora
