// The "Series" pages of the main window: the chart of n_1 (with its
// uncertainty bars, and the second parameter on a second axis when it was
// fitted) against each file's x, and the table of the series' rows. The x
// comes from the file order, a pattern over the file names (with the axis
// title and unit the user types) or the recordings' time stamps; changing
// it places the points again without fitting anew.
#pragma once

#include <QObject>
#include <QString>
#include <optional>

#include "model/series.h"

class QComboBox;
class QCustomPlot;
class QCPErrorBars;
class QCPGraph;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableWidget;
class QWidget;

namespace lumora {

class SeriesPanel : public QObject {
  Q_OBJECT

 public:
  // The two pages are made as children of chartParent and tableParent.
  SeriesPanel(QWidget* chartParent, QWidget* tableParent);

  QWidget* ChartPage() const { return fChartPage; }
  QWidget* TablePage() const { return fTablePage; }
  QCustomPlot* Chart() const { return fChart; }

  // Where x comes from as the controls say; raises Error for a pattern
  // that is no regular expression with a group.
  SeriesAxis Axis() const;
  std::optional<SeriesPattern> Pattern() const;

  // Shows a new series, placing x as the controls say; secondTitle names
  // the second parameter ("T_exc (K)", ...).
  void ShowSeries(SeriesTable table, const QString& secondTitle);
  // No series: the chart and the table empty, the controls stay.
  void Clear() { ShowSeries(SeriesTable{}, QString()); }
  const SeriesTable& Table() const { return fTable; }
  bool Empty() const { return fTable.rows.empty(); }

  // The table as tab-separated text with its header, for the clipboard:
  // every digit, x in the unit the table shows.
  QString TableText() const;
  // The chart's context menu: "Copy image" and "Copy data".
  QMenu* ContextMenu(QWidget* parent);
  // The row under a pixel of the chart, -1 when no point is near it.
  int RowAt(const QPointF& pixel) const;

 signals:
  // A point of the chart was clicked: the file of its row.
  void FileClicked(const QString& path);
  // "Save CSV…" of the table page.
  void SaveRequested();
  // A pattern that is no regular expression with a group, as typed.
  void PatternRefused(const QString& message);

 private:
  void BuildChartPage(QWidget* parent);
  void BuildTablePage(QWidget* parent);
  void PlaceX();
  void Redraw();
  void FillTable();
  void ShowToolTip(const QPointF& pixel);
  QString AxisTitle() const;
  // The unit of the x shown: the time unit chosen, the pattern's unit typed,
  // or none.
  QString XUnit() const;
  // Time stamps a pulse apart are shown in ms or µs rather than seconds.
  void ChooseTimeUnit();
  // The pixel of a row's point; none for a row that is not drawn.
  std::optional<QPointF> PointPixel(size_t row) const;

  QWidget* fChartPage = nullptr;
  QWidget* fTablePage = nullptr;
  QComboBox* fAxisChoice = nullptr;
  QLineEdit* fPattern = nullptr;
  QLineEdit* fAxisTitle = nullptr;
  QLineEdit* fAxisUnit = nullptr;
  QCustomPlot* fChart = nullptr;
  QCPGraph* fGood = nullptr;      // fits that ended well
  QCPGraph* fHollow = nullptr;    // fits that ended "not OK", and failed files
  QCPGraph* fSecond = nullptr;    // the second parameter, on the right axis
  QCPErrorBars* fBars = nullptr;  // u(n_1) of the good points
  QTableWidget* fGrid = nullptr;
  QPushButton* fCopy = nullptr;
  QPushButton* fSave = nullptr;
  SeriesTable fTable;
  double fFailedLevel = 0;  // where the points of failed files are drawn
  double fXScale = 1;       // shown x per x of the table
  QString fTimeUnit = "s";
  QString fSecondTitle;
};

}  // namespace lumora
