#include "app/resultcharts.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <algorithm>

#include "model/residual_map.h"

namespace lumora {

namespace {

const QColor kChartBackground(0x33, 0x33, 0x33);
const QColor kAxisRectBackground(0x34, 0x34, 0x34);
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kLime(0x00, 0xFF, 0x00);

// Bars that each take their own colour; the legend shows the series brush.
class TColouredBars : public QCPBars {
 public:
  using QCPBars::QCPBars;

  void Clear() {
    data()->clear();
    fBars.clear();
  }
  void Add(double key, double value, QColor colour) {
    addData(key, value);
    fBars.push_back({key, value, colour});
  }
  std::vector<QColor> Colours() const {
    std::vector<QColor> colours;
    for (const Bar& b : fBars) colours.push_back(b.colour);
    return colours;
  }

 protected:
  void draw(QCPPainter* painter) override {
    if (!mKeyAxis || !mValueAxis) return;
    applyDefaultAntialiasingHint(painter);
    for (const Bar& b : fBars) {
      painter->setPen(QPen(b.colour.darker(150)));
      painter->setBrush(b.colour);
      painter->drawPolygon(getBarRect(b.key, b.value));
    }
  }

 private:
  struct Bar {
    double key;
    double value;
    QColor colour;
  };
  std::vector<Bar> fBars;
};

void StyleAxis(QCPAxis* axis, const QString& label) {
  axis->setLabel(label);
  axis->setLabelColor(kSilver);
  axis->setTickLabelColor(kSilver);
  axis->setBasePen(QPen(kSilver));
  axis->setTickPen(QPen(kSilver));
  axis->setSubTickPen(QPen(kSilver));
  axis->grid()->setPen(QPen(QColor(0x55, 0x55, 0x55), 0, Qt::DotLine));
}

QCustomPlot* NewPlot(QWidget* parent, const char* name, const QString& bottom, const QString& left) {
  auto* plot = new QCustomPlot(parent);
  plot->setObjectName(name);
  StyleDarkPlot(plot);
  plot->xAxis->setLabel(bottom);
  plot->yAxis->setLabel(left);
  return plot;
}

// A legend in its own row below the axis rectangle.
void LegendAtBottom(QCustomPlot* plot) {
  plot->legend->setVisible(true);
  plot->legend->setBrush(kAxisRectBackground);
  plot->legend->setTextColor(kSilver);
  plot->legend->setBorderPen(QPen(QColor(0x55, 0x55, 0x55)));
  plot->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
  auto* row = new QCPLayoutGrid;
  plot->plotLayout()->addElement(1, 0, row);
  row->setMargins(QMargins(5, 0, 5, 5));
  row->addElement(0, 0, plot->legend);
  plot->plotLayout()->setRowStretchFactor(1, 0.001);
}

QCPGraph* PointSeries(QCustomPlot* plot, const char* name, const QString& title,
                      const QCPScatterStyle& style) {
  QCPGraph* g = plot->addGraph();
  g->setObjectName(name);
  g->setName(title);
  g->setLineStyle(QCPGraph::lsNone);
  g->setScatterStyle(style);
  g->setPen(style.pen());
  return g;
}

// Rescales an axis to its data with a little room on both sides.
void RescaleWithMargin(QCPAxis* axis, QCPAbstractPlottable* series) {
  bool found = false;
  QCPRange range = series->getKeyRange(found);
  if (!found) return;
  const double margin = std::max(range.size() * 0.05, 1.0);
  axis->setRange(range.lower - margin, range.upper + margin);
}

}  // namespace

void StyleDarkPlot(QCustomPlot* plot) {
  plot->setBackground(kChartBackground);
  plot->axisRect()->setBackground(kAxisRectBackground);
  StyleAxis(plot->xAxis, QString());
  StyleAxis(plot->yAxis, QString());
}

TResultCharts::TResultCharts(QWidget* parent) : QObject(parent) {
  BuildEBFChart(parent);
  BuildDensityChart(parent);
  BuildAnalyzeChart(parent);
  BuildMapPlot(parent);
  for (QCustomPlot* plot : Plots()) MakeInteractive(plot);
  connect(fEBF, &QCustomPlot::afterLayout, this, &TResultCharts::SpreadBarLabels);
}

// Wheel zoom, drag to pan, double-click back to the data's view, and the
// export menu on the right button.
void TResultCharts::MakeInteractive(QCustomPlot* plot) {
  plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  RememberView(plot);
  connect(plot, &QCustomPlot::mouseDoubleClick, this, [this, plot](QMouseEvent*) {
    ResetView(plot);
  });
  plot->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(plot, &QWidget::customContextMenuRequested, this, [this, plot](const QPoint& at) {
    QMenu* menu = ContextMenu(plot, plot);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(plot->mapToGlobal(at));
  });
}

void TResultCharts::RememberView(QCustomPlot* plot) {
  fViews[plot] = {plot->xAxis->range().lower, plot->xAxis->range().upper,
                  plot->yAxis->range().lower, plot->yAxis->range().upper};
}

void TResultCharts::ResetView(QCustomPlot* plot) {
  const auto view = fViews.find(plot);
  if (view == fViews.end()) return;
  plot->xAxis->setRange(view->second.x0, view->second.x1);
  plot->yAxis->setRange(view->second.y0, view->second.y1);
  plot->replot();
}

QMenu* TResultCharts::ContextMenu(QCustomPlot* plot, QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->setObjectName("ChartMenu");
  for (const char* format : {"png", "svg", "pdf"})
    menu->addAction(QString("Export as %1…").arg(QString(format).toUpper()), this,
                    [this, plot, format] {
                      const std::vector<QCustomPlot*> plots = Plots();
                      const auto at = std::find(plots.begin(), plots.end(), plot);
                      emit ExportRequested(static_cast<int>(at - plots.begin()), format);
                    });
  menu->addAction("Copy image", plot,
                  [plot] { QApplication::clipboard()->setPixmap(plot->toPixmap()); });
  return menu;
}

// Bar labels that would overlap another are lifted by a line, up to two
// lines; a label that still finds no room is hidden. Runs once the layout
// is known, so the labels' pixel positions are those about to be drawn.
void TResultCharts::SpreadBarLabels() {
  constexpr int kLifts = 3;
  std::vector<std::pair<QPointF, QCPItemText*>> labels;
  for (QCPAbstractItem* item : fBarMarks) {
    auto* text = static_cast<QCPItemText*>(item);
    labels.push_back({text->position->pixelPosition(), text});
  }
  std::sort(labels.begin(), labels.end(),
            [](const auto& a, const auto& b) { return a.first.x() < b.first.x(); });
  std::vector<QRectF> placed;
  for (auto& [at, text] : labels) {
    const QFontMetrics metrics(text->font());
    const double width = metrics.horizontalAdvance(text->text()) + 4;
    const double height = metrics.height();
    bool shown = false;
    for (int lift = 0; lift < kLifts && !shown; ++lift) {
      const double bottom = at.y() - 4 - lift * height;
      const QRectF box(at.x() - width / 2, bottom - height, width, height);
      if (std::any_of(placed.begin(), placed.end(),
                      [&box](const QRectF& other) { return box.intersects(other); }))
        continue;
      placed.push_back(box);
      text->setPadding(QMargins(0, 0, 0, 4 + lift * static_cast<int>(height)));
      shown = true;
    }
    text->setVisible(shown);
  }
}

std::vector<QWidget*> TResultCharts::Pages() const { return {fEBF, fMapPlot, fDensity, fAnalyze}; }

void TResultCharts::BuildEBFChart(QWidget* parent) {
  fEBF = NewPlot(parent, "EBFChart", "Wavelength (nm)", "Branching fraction");
  fEBF->yAxis->setRange(0, 1.2);
  auto* bars = new TColouredBars(fEBF->xAxis, fEBF->yAxis);
  bars->setObjectName("Series_m");
  bars->setName("measured");
  bars->setBrush(QColor(0xFF, 0xFF, 0xFF));
  fSeriesM = bars;
  fSeriesF = PointSeries(fEBF, "Series_f", "fitted",
                         QCPScatterStyle(QCPScatterStyle::ssDiamond, QColor(0xFF, 0x80, 0x00),
                                         QColor(0xFF, 0x80, 0x00), 9));
  QPainterPath flat;
  flat.addRect(-6, -1.5, 12, 3);
  fSeriesT = PointSeries(fEBF, "Series_t", "absorption-free",
                         QCPScatterStyle(flat, QPen(QColor(0x00, 0xFF, 0xFF)),
                                         QColor(0x00, 0xFF, 0xFF), 6));
  LegendAtBottom(fEBF);
  connect(fEBF, &QCustomPlot::mouseMove, this,
          [this](QMouseEvent* e) { ReportPointer(fEBF, e->position().x(), e->position().y()); });
}

void TResultCharts::BuildDensityChart(QWidget* parent) {
  fDensity = NewPlot(parent, "DensityChart", "Energy (eV)", "Log10 Density (m-3)");
  fDensitySeries = PointSeries(fDensity, "DensitySeries", "fitted",
                               QCPScatterStyle(QCPScatterStyle::ssCircle, QColor(0xFF, 0xFF, 0x00),
                                               QColor(0xFF, 0xFF, 0x00), 8));
  connect(fDensity, &QCustomPlot::mouseMove, this,
          [this](QMouseEvent* e) { ReportPointer(fDensity, e->position().x(), e->position().y()); });
}

void TResultCharts::BuildAnalyzeChart(QWidget* parent) {
  fAnalyze = NewPlot(parent, "AnalyzeChart", "R Value", "Lower wavelength (nm)");
  fAnalyze->setToolTip("Click on legend to show the wavelengths.");
  fAnalysisSeries = PointSeries(fAnalyze, "AnalysisSeries", QString::fromUtf8("λ x R dependence"),
                                QCPScatterStyle(QCPScatterStyle::ssCross, kLime, 8));
  LegendAtBottom(fAnalyze);
  connect(fAnalyze, &QCustomPlot::legendClick, this,
          [this](QCPLegend*, QCPAbstractLegendItem*, QMouseEvent*) { emit AnalysisLegendClicked(); });
  connect(fAnalyze, &QCustomPlot::mouseMove, this,
          [this](QMouseEvent* e) { ReportPointer(fAnalyze, e->position().x(), e->position().y()); });
  fAnalysisSeries->setSelectable(QCP::stSingleData);
  connect(fAnalyze, &QCustomPlot::plottableClick, this,
          [this](QCPAbstractPlottable* series, int index, QMouseEvent*) {
            if (series == fAnalysisSeries) emit AnalysisPointClicked(index);
          });
}

void TResultCharts::BuildMapPlot(QWidget* parent) {
  fMapPlot = NewPlot(parent, "ContourPlot", "Log10 n_1 [m-3]", "Temperature [K]");
  fMapPlot->setCursor(Qt::CrossCursor);
  fColorMap = new QCPColorMap(fMapPlot->xAxis, fMapPlot->yAxis);
  fColorMap->setObjectName("ResidualColorMap");
  fColorMap->setInterpolate(false);
  fColorScale = new QCPColorScale(fMapPlot);
  fColorScale->setObjectName("ColorScale");
  fColorScale->setType(QCPAxis::atBottom);
  StyleAxis(fColorScale->axis(), "RSS");
  fMapPlot->plotLayout()->addElement(1, 0, fColorScale);
  fColorMap->setColorScale(fColorScale);  // the map takes the scale's gradient
  fColorScale->setGradient(QCPColorGradient::gpJet);
  fColorScale->setDataRange(QCPRange(-10, 1));
  auto* margins = new QCPMarginGroup(fMapPlot);
  fMapPlot->axisRect()->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
  fColorScale->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
  connect(fMapPlot, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) {
    emit PointerOverMap(fMapPlot->xAxis->pixelToCoord(e->position().x()),
                        fMapPlot->yAxis->pixelToCoord(e->position().y()));
  });
}

void TResultCharts::ReportPointer(QCustomPlot*, double px, double py) {
  emit PointerOverResults(fEBF->xAxis->pixelToCoord(px), fEBF->yAxis->pixelToCoord(py));
}

void TResultCharts::RemoveItems(QCustomPlot* plot, std::vector<QCPAbstractItem*>& items) {
  for (QCPAbstractItem* item : items) plot->removeItem(item);
  items.clear();
}

void TResultCharts::AddMarks(QCustomPlot* plot, const std::vector<LabelledPoint>& points,
                             std::vector<QCPAbstractItem*>& items, bool visible) {
  for (const LabelledPoint& p : points) {
    auto* text = new QCPItemText(plot);
    text->position->setCoords(p.x, p.y);
    text->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    text->setPadding(QMargins(0, 0, 0, 4));
    text->setText(p.label);
    text->setColor(kSilver);
    text->setClipToAxisRect(false);
    text->setVisible(visible);
    items.push_back(text);
  }
}

void TResultCharts::ClearBranchingFractions() {
  static_cast<TColouredBars*>(fSeriesM)->Clear();
  fSeriesF->data()->clear();
  fSeriesT->data()->clear();
  fBarLabels.clear();
  RemoveItems(fEBF, fBarMarks);
  fEBF->replot();
}

void TResultCharts::AddLine(double wavelength, double free, double measured,
                            std::optional<double> fitted, QColor barColor) {
  static_cast<TColouredBars*>(fSeriesM)->Add(wavelength, measured, barColor);
  fSeriesT->addData(wavelength, free);
  if (fitted) fSeriesF->addData(wavelength, *fitted);
  fBarLabels.push_back({wavelength, measured, QString::number(wavelength, 'g', 15)});
}

void TResultCharts::FinishBranchingFractions(bool marks, const QString& measuredTitle,
                                             const QString& fittedTitle) {
  // Each bar takes a tenth of the room one bar has.
  const int count = std::max(1, fSeriesM->dataCount());
  fSeriesM->setWidthType(QCPBars::wtAxisRectRatio);
  fSeriesM->setWidth(0.1 / count);
  RemoveItems(fEBF, fBarMarks);
  if (marks) AddMarks(fEBF, fBarLabels, fBarMarks, true);
  fSeriesM->setName(measuredTitle);
  fSeriesF->setName(fittedTitle);
  RescaleWithMargin(fEBF->xAxis, fSeriesM);
  fEBF->yAxis->setRange(0, 1.2);
  RememberView(fEBF);
  fEBF->replot();
}

void TResultCharts::ShowDensities(const std::vector<LabelledPoint>& points, bool marks) {
  fDensitySeries->data()->clear();
  RemoveItems(fDensity, fDensityMarks);
  for (const LabelledPoint& p : points) fDensitySeries->addData(p.x, p.y);
  if (marks) AddMarks(fDensity, points, fDensityMarks, true);
  fDensity->rescaleAxes();
  fDensity->xAxis->scaleRange(1.2);
  fDensity->yAxis->scaleRange(1.2);
  RememberView(fDensity);
  fDensity->replot();
}

void TResultCharts::ShowAnalysis(const std::vector<LabelledPoint>& points, bool marks) {
  fAnalysisSeries->data()->clear();
  RemoveItems(fAnalyze, fAnalysisMarks);
  fAnalysisSeries->setName(QString::fromUtf8("λ x R dependence"));
  for (const LabelledPoint& p : points) fAnalysisSeries->addData(p.x, p.y);
  fAnalysisMarksVisible = marks;
  AddMarks(fAnalyze, points, fAnalysisMarks, marks);
  if (!points.empty()) {
    fAnalyze->rescaleAxes();
    fAnalyze->xAxis->scaleRange(1.1);
    fAnalyze->yAxis->scaleRange(1.1);
  }
  RememberView(fAnalyze);
  fAnalyze->replot();
}

void TResultCharts::ToggleAnalysisMarks() {
  fAnalysisMarksVisible = !fAnalysisMarksVisible;
  for (QCPAbstractItem* item : fAnalysisMarks) item->setVisible(fAnalysisMarksVisible);
  fAnalyze->replot();
}

void TResultCharts::SetMapRange(double x0, double y0, double x1, double y1) {
  fMapPlot->xAxis->setRange(x0, x1);
  fMapPlot->yAxis->setRange(y0, y1);
  RememberView(fMapPlot);
  fMapPlot->replot();
}

void TResultCharts::ClearMap() {
  fColorMap->data()->setSize(0, 0);
  fMapPlot->replot();
}

void TResultCharts::ShowMap(const MapRange& range, const std::vector<std::vector<double>>& grid,
                            double lowest, double highest) {
  const int rows = static_cast<int>(grid.size());
  const int columns = rows > 0 ? static_cast<int>(grid[0].size()) : 0;
  QCPColorMapData* data = fColorMap->data();
  data->setSize(columns, rows);
  // Cell centres lie on the grid points, one step apart (a single point
  // spans one step). The plot's cells run upwards along each axis, so a
  // range that runs downwards fills them from its far end.
  auto span = [](double start, double step, int n) {
    const double end = start + std::max(n - 1, 1) * step;
    return QCPRange(std::min(start, end), std::max(start, end));
  };
  data->setRange(span(range.x0, range.dx, columns), span(range.y0, range.dy, rows));
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < columns && j < static_cast<int>(grid[i].size()); ++j)
      data->setCell(range.dx < 0 ? columns - 1 - j : j, range.dy < 0 ? rows - 1 - i : i,
                    grid[i][j]);
  fMapPlot->xAxis->setRange(range.x0, range.x1);
  fMapPlot->yAxis->setRange(range.y0, range.y1);
  RememberView(fMapPlot);
  // Sums span decades: a logarithmic scale shows the valley, where it can.
  const bool logarithmic = lowest > 0 && highest > lowest;
  fColorScale->setDataScaleType(logarithmic ? QCPAxis::stLogarithmic : QCPAxis::stLinear);
  QCPAxis* scaleAxis = fColorScale->axis();
  if (logarithmic) {
    scaleAxis->setTicker(QSharedPointer<QCPAxisTickerLog>(new QCPAxisTickerLog));
    scaleAxis->setNumberFormat("eb");
    scaleAxis->setNumberPrecision(0);
  } else {
    scaleAxis->setTicker(QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
    scaleAxis->setNumberFormat("gbd");
    scaleAxis->setNumberPrecision(6);
  }
  fColorMap->setDataRange(QCPRange(lowest, highest));
  fColorScale->setDataRange(QCPRange(lowest, highest));
  fMapPlot->replot();
}

std::vector<QColor> BarColours(const TResultCharts& charts) {
  auto* bars = charts.EBFChart()->findChild<QCPBars*>("Series_m");
  return bars ? static_cast<TColouredBars*>(bars)->Colours() : std::vector<QColor>{};
}

}  // namespace lumora
