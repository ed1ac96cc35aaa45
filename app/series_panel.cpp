#include "app/series_panel.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "app/chart_colours.h"
#include "app/chartexport.h"
#include "app/log_ticker.h"
#include "app/qt_text.h"
#include "app/resultcharts.h"
#include "base/errors.h"
#include "base/format.h"

namespace lumora {

namespace {

const QColor kRed(0xFF, 0x50, 0x50);

// A click farther than this from every point hits none.
constexpr double kHitPixels = 8;
// The choices of the x combo box, in the order of SeriesAxis: the first
// takes the recordings' time stamps where there are any, else the order.
const char* const kAxisChoices[] = {"Time stamp or file order", "File order",
                                    "Pattern over the file name", "Time stamp"};

QLineEdit* Edit(QWidget* parent, const char* name, const QString& placeholder, int width) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setPlaceholderText(placeholder);
  edit->setMaximumWidth(width);
  return edit;
}

QString FileNameOf(const std::string& file) { return QFileInfo(Qt8(file)).fileName(); }

// A number as the table and the tooltips show it; empty for none.
QString Shown(double value, const char* format) {
  return std::isnan(value) ? QString() : Qt8(Format(format, value));
}

bool Drawn(const SeriesRow& row) { return std::isfinite(row.x); }

}  // namespace

SeriesPanel::SeriesPanel(QWidget* chartParent, QWidget* tableParent) : QObject(chartParent) {
  BuildChartPage(chartParent);
  BuildTablePage(tableParent);
  Redraw();
}

void SeriesPanel::BuildChartPage(QWidget* parent) {
  fChartPage = new QWidget(parent);
  fChartPage->setObjectName("SeriesPage");
  auto* page = new QVBoxLayout(fChartPage);
  page->setContentsMargins(0, 2, 0, 0);
  auto* controls = new QHBoxLayout;
  fAxisChoice = new QComboBox(fChartPage);
  fAxisChoice->setObjectName("SeriesAxisCombo");
  for (const char* choice : kAxisChoices) fAxisChoice->addItem(choice);
  fPattern = Edit(fChartPage, "SeriesPatternEdit", "t=(\\d+)us", 160);
  fPattern->setToolTip(
      "A regular expression over each file's name; the number in its first group "
      "(parentheses) is the file's x, for example t=(\\d+)us or (\\d+)W");
  fAxisChoice->setToolTip(
      "Where each file's x comes from: the recordings' header time stamps (else the file "
      "order), the file order, a number in the file name, or the time stamps alone");
  fAxisTitle = Edit(fChartPage, "SeriesAxisTitleEdit", "Axis title", 140);
  fAxisTitle->setToolTip("The x axis' title for the pattern's number, e.g. Power");
  fAxisUnit = Edit(fChartPage, "SeriesAxisUnitEdit", "Unit", 70);
  fAxisUnit->setToolTip("The unit of the pattern's number, e.g. W");
  controls->addWidget(new QLabel("x:", fChartPage));
  controls->addWidget(fAxisChoice);
  controls->addWidget(fPattern);
  controls->addWidget(fAxisTitle);
  controls->addWidget(fAxisUnit);
  controls->addStretch(1);
  page->addLayout(controls);

  fChart = new QCustomPlot(fChartPage);
  fChart->setObjectName("SeriesChart");
  StyleDarkPlot(fChart);
  fChart->yAxis->setLabel("n_1 [m-3]");
  fChart->xAxis->grid()->setZeroLinePen(Qt::NoPen);
  fChart->yAxis->setScaleType(QCPAxis::stLogarithmic);
  fChart->yAxis->setTicker(QSharedPointer<QCPAxisTickerLog>(new DistinctLogTicker));
  fChart->yAxis->setNumberFormat("eb");
  fChart->yAxis->setNumberPrecision(0);
  for (QCPAxis* axis : {fChart->yAxis2}) {
    axis->setLabelColor(kChartOrange);
    axis->setTickLabelColor(kChartOrange);
    axis->setBasePen(QPen(kChartOrange));
    axis->setTickPen(QPen(kChartOrange));
    axis->setSubTickPen(QPen(kChartOrange));
  }
  fGood = fChart->addGraph();
  fGood->setObjectName("SeriesPoints");
  fGood->setLineStyle(QCPGraph::lsLine);
  fGood->setPen(QPen(kChartLime, 1));
  fGood->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, kChartLime, kChartLime, 7));
  fBars = new QCPErrorBars(fChart->xAxis, fChart->yAxis);
  fBars->setObjectName("SeriesErrorBars");
  fBars->setDataPlottable(fGood);
  fBars->setPen(QPen(kChartSilver));
  fHollow = fChart->addGraph();
  fHollow->setObjectName("SeriesHollowPoints");
  fHollow->setLineStyle(QCPGraph::lsNone);
  fHollow->setScatterStyle(
      QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(kRed, 1.5), Qt::NoBrush, 9));
  fSecond = fChart->addGraph(fChart->xAxis, fChart->yAxis2);
  fSecond->setObjectName("SeriesSecondPoints");
  fSecond->setLineStyle(QCPGraph::lsLine);
  fSecond->setPen(QPen(kChartOrange, 1, Qt::DashLine));
  fSecond->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssSquare, kChartOrange, kChartOrange, 6));
  fChart->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  fChart->setMouseTracking(true);
  OfferChartCopyMenu(fChart);
  page->addWidget(fChart, 1);

  auto replace = [this] {
    PlaceX();
    Redraw();
  };
  connect(fAxisChoice, &QComboBox::currentIndexChanged, this, replace);
  connect(fPattern, &QLineEdit::editingFinished, this, replace);
  connect(fAxisTitle, &QLineEdit::textChanged, this, [this] { Redraw(); });
  connect(fAxisUnit, &QLineEdit::textChanged, this, [this] { Redraw(); });
  connect(fChart, &QCustomPlot::mouseMove, this,
          [this](QMouseEvent* event) { ShowToolTip(event->position()); });
  // A click (not the end of a drag) on a point reads its file.
  auto pressedAt = std::make_shared<QPointF>();
  connect(fChart, &QCustomPlot::mousePress, this,
          [pressedAt](QMouseEvent* event) { *pressedAt = event->position(); });
  connect(fChart, &QCustomPlot::mouseRelease, this, [this, pressedAt](QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (QLineF(*pressedAt, event->position()).length() > 3) return;
    const int row = RowAt(event->position());
    if (row >= 0) emit FileClicked(Qt8(fTable.rows[static_cast<size_t>(row)].file));
  });
}

void SeriesPanel::BuildTablePage(QWidget* parent) {
  fTablePage = new QWidget(parent);
  fTablePage->setObjectName("SeriesTablePage");
  auto* page = new QVBoxLayout(fTablePage);
  page->setContentsMargins(0, 2, 0, 0);
  fGrid = new QTableWidget(0, 7, fTablePage);
  fGrid->setObjectName("SeriesTable");
  fGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  fGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  fGrid->verticalHeader()->setVisible(false);
  fGrid->horizontalHeader()->setStretchLastSection(true);
  page->addWidget(fGrid, 1);
  auto* buttons = new QHBoxLayout;
  fCopy = new QPushButton("Copy", fTablePage);
  fCopy->setObjectName("SeriesCopyBtn");
  fCopy->setToolTip("Copy the series as tab-separated text, every digit of its numbers");
  fSave = new QPushButton("Save CSV…", fTablePage);
  fSave->setObjectName("SeriesSaveBtn");
  fSave->setToolTip("Save the series as lumora-cli fit --series writes it");
  buttons->addWidget(fCopy);
  buttons->addWidget(fSave);
  buttons->addStretch(1);
  page->addLayout(buttons);
  connect(fCopy, &QPushButton::clicked, this,
          [this] { QApplication::clipboard()->setText(TableText()); });
  // A row read as its point on the chart is: a click reads its file.
  connect(fGrid, &QTableWidget::cellClicked, this, [this](int row, int) {
    if (row >= 0 && static_cast<size_t>(row) < fTable.rows.size())
      emit FileClicked(Qt8(fTable.rows[static_cast<size_t>(row)].file));
  });
  connect(fSave, &QPushButton::clicked, this, &SeriesPanel::SaveRequested);
}

SeriesAxis SeriesPanel::Axis() const {
  return static_cast<SeriesAxis>(fAxisChoice->currentIndex());
}

std::optional<SeriesPattern> SeriesPanel::Pattern() const {
  if (Axis() != SeriesAxis::Pattern) return std::nullopt;
  return SeriesPattern(Std(fPattern->text()));
}

void SeriesPanel::ShowSeries(SeriesTable table, const QString& secondTitle) {
  fTable = std::move(table);
  fSecondTitle = secondTitle;
  PlaceX();
  Redraw();
}

void SeriesPanel::PlaceX() {
  const bool pattern = Axis() == SeriesAxis::Pattern;
  fPattern->setEnabled(pattern);
  fAxisTitle->setEnabled(pattern);
  fAxisUnit->setEnabled(pattern);
  if (fTable.rows.empty()) return;
  try {
    const std::optional<SeriesPattern> compiled = Pattern();
    fTable.axis = PlaceSeriesX(fTable.rows, Axis(), compiled ? &*compiled : nullptr);
  } catch (const Error& e) {
    // The points stay in file order until the pattern is one.
    fTable.axis = PlaceSeriesX(fTable.rows, SeriesAxis::FileOrder, nullptr);
    emit PatternRefused(Qt8(e.what()));
  }
}

QString SeriesPanel::XUnit() const {
  switch (fTable.axis) {
    case SeriesAxis::Pattern:
      return fAxisUnit->text().trimmed();
    case SeriesAxis::TimeStamp:
      return fTimeUnit;
    default:
      return QString();
  }
}

QString SeriesPanel::AxisTitle() const {
  switch (fTable.rows.empty() ? Axis() : fTable.axis) {
    case SeriesAxis::Pattern: {
      const QString title = fAxisTitle->text().trimmed().isEmpty() ? "x" : fAxisTitle->text();
      const QString unit = fAxisUnit->text().trimmed();
      return unit.isEmpty() ? title : title + " [" + unit + "]";
    }
    case SeriesAxis::TimeStamp:
      return "Time since the first recording [" + fTimeUnit + "]";
    default:
      return "File";
  }
}

void SeriesPanel::ChooseTimeUnit() {
  double latest = 0;
  for (const SeriesRow& row : fTable.rows)
    if (std::isfinite(row.x)) latest = std::max(latest, std::fabs(row.x));
  const bool time = fTable.axis == SeriesAxis::TimeStamp && !fTable.rows.empty();
  fXScale = !time || latest >= 1 ? 1 : latest >= 1e-3 ? 1e3 : 1e6;
  fTimeUnit = fXScale == 1 ? "s" : fXScale == 1e3 ? "ms" : QString::fromUtf8("µs");
}

void SeriesPanel::Redraw() {
  ChooseTimeUnit();
  QVector<double> goodX, goodN1, goodU, hollowX, hollowY, secondX, secondY;
  double lowest = std::numeric_limits<double>::infinity();
  for (const SeriesRow& row : fTable.rows)
    if (row.fitted && row.n1 > 0) lowest = std::min(lowest, row.n1);
  // Failed files lie below every density, on the bottom of the chart.
  fFailedLevel = std::isfinite(lowest) ? lowest / 2 : 1e15;
  for (const SeriesRow& row : fTable.rows) {
    if (!Drawn(row)) continue;
    const bool plotted = row.fitted && row.n1 > 0;
    const double x = row.x * fXScale;
    if (plotted && row.ok) {
      goodX << x;
      goodN1 << row.n1;
      goodU << (std::isfinite(row.n1Uncertainty) ? row.n1Uncertainty : 0);
    } else {
      hollowX << x;
      hollowY << (plotted ? row.n1 : fFailedLevel);
    }
    if (fTable.secondFitted && row.fitted && std::isfinite(row.second)) {
      secondX << x;
      secondY << row.second;
    }
  }
  // The graph keeps its points sorted by x; the bars follow that order.
  std::vector<size_t> order(static_cast<size_t>(goodX.size()));
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return goodX[a] < goodX[b]; });
  QVector<double> sortedX, sortedN1, sortedU;
  for (size_t k : order) {
    sortedX << goodX[k];
    sortedN1 << goodN1[k];
    // On the logarithmic axis a bar may not reach 0 or below.
    sortedU << std::min(goodU[k], goodN1[k] * 0.999);
  }
  fGood->setData(sortedX, sortedN1, true);
  fBars->setData(sortedU);
  fHollow->setData(hollowX, hollowY);
  fSecond->setData(secondX, secondY);
  fSecond->setVisible(fTable.secondFitted);
  fChart->yAxis2->setVisible(fTable.secondFitted);
  fChart->yAxis2->setLabel(fTable.secondFitted ? fSecondTitle : QString());
  fChart->xAxis->setLabel(AxisTitle());
  fChart->rescaleAxes();
  // Room around the points, and a range that a single point also has.
  const QCPRange x = fChart->xAxis->range();
  const double pad = x.size() > 0 ? x.size() * 0.05 : 0.5;
  fChart->xAxis->setRange(x.lower - pad, x.upper + pad);
  const QCPRange y = fChart->yAxis->range();
  if (y.lower > 0) fChart->yAxis->setRange(y.lower / 1.6, y.upper * 1.6);
  if (fTable.secondFitted) fChart->yAxis2->scaleRange(1.1);
  fChart->replot();
  FillTable();
}

void SeriesPanel::FillTable() {
  const QStringList headers = {"File",
                               AxisTitle(),
                               "n_1 [m-3]",
                               "u(n_1) [m-3]",
                               fSecondTitle.isEmpty() ? QString("Second") : fSecondTitle,
                               "Sum",
                               "Stop"};
  fGrid->setHorizontalHeaderLabels(headers);
  fGrid->setRowCount(static_cast<int>(fTable.rows.size()));
  for (size_t r = 0; r < fTable.rows.size(); ++r) {
    const SeriesRow& row = fTable.rows[r];
    const QString cells[] = {FileNameOf(row.file),
                             Shown(row.x * fXScale, "%.6g"),
                             Shown(row.n1, "%.4e"),
                             Shown(row.n1Uncertainty, "%.2e"),
                             Shown(row.second, "%.6g"),
                             Shown(row.sum, "%.4e"),
                             Qt8(row.stop)};
    for (int c = 0; c < 7; ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (c == 0) item->setToolTip(Qt8(row.file));
      if (!row.ok) item->setForeground(kRed);
      fGrid->setItem(static_cast<int>(r), c, item);
    }
  }
  fGrid->resizeColumnsToContents();
  // Long file names are elided (the tooltip has the path), so that the
  // numbers stay in view.
  constexpr int kFileColumnWidth = 170;
  fGrid->setColumnWidth(0, std::min(fGrid->columnWidth(0), kFileColumnWidth));
  fCopy->setEnabled(!fTable.rows.empty());
  fSave->setEnabled(!fTable.rows.empty());
}

QString SeriesPanel::TableText() const {
  auto line = [](const std::vector<std::string>& fields) {
    QStringList cells;
    // A tab or a line end inside a text would break its row.
    for (const std::string& field : fields)
      cells << Qt8(field).replace('\t', ' ').replace('\r', ' ').replace('\n', ' ');
    return cells.join('\t') + "\n";
  };
  // x in the unit the table and the axis show, named in its header.
  std::vector<std::string> columns = SeriesColumns();
  const QString unit = XUnit();
  if (!unit.isEmpty()) columns[1] += " (" + Std(unit) + ")";
  QString text = line(columns);
  for (const SeriesRow& row : fTable.rows) {
    std::vector<std::string> fields = SeriesFields(row);
    fields[1] = SeriesNumberText(row.x * fXScale);
    text += line(fields);
  }
  return text;
}

QMenu* SeriesPanel::ContextMenu(QWidget* parent) { return ChartCopyMenu(fChart, parent); }

std::optional<QPointF> SeriesPanel::PointPixel(size_t row) const {
  const SeriesRow& r = fTable.rows[row];
  if (!Drawn(r)) return std::nullopt;
  const double y = r.fitted && r.n1 > 0 ? r.n1 : fFailedLevel;
  return QPointF(fChart->xAxis->coordToPixel(r.x * fXScale), fChart->yAxis->coordToPixel(y));
}

int SeriesPanel::RowAt(const QPointF& pixel) const {
  int best = -1;
  double bestDistance = kHitPixels;
  for (size_t k = 0; k < fTable.rows.size(); ++k) {
    const std::optional<QPointF> at = PointPixel(k);
    if (!at) continue;
    const double distance = QLineF(*at, pixel).length();
    if (distance <= bestDistance) {
      best = static_cast<int>(k);
      bestDistance = distance;
    }
  }
  return best;
}

void SeriesPanel::ShowToolTip(const QPointF& pixel) {
  const int index = RowAt(pixel);
  if (index < 0) {
    fChart->setToolTip("Click a point to read its file");
    return;
  }
  const SeriesRow& row = fTable.rows[static_cast<size_t>(index)];
  QString text = FileNameOf(row.file) + "\n" + AxisTitle() + ": " + Shown(row.x * fXScale, "%.6g");
  if (row.fitted)
    text += "\nn_1 = " + Shown(row.n1, "%.3e") + " ± " + Shown(row.n1Uncertainty, "%.2e") +
            " m-3" + (std::isnan(row.second) ? QString() : "\nsecond: " + Shown(row.second, "%.6g"));
  text += row.fitted ? "\nfit: " + Qt8(row.stop) : "\nfailed: " + Qt8(row.stop);
  fChart->setToolTip(text);
}

}  // namespace lumora
