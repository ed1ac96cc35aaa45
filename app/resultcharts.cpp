#include "app/resultcharts.h"

#include <qcustomplot.h>

#include <QMenu>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "app/chart_colours.h"
#include "app/chartexport.h"
#include "app/log_ticker.h"
#include "model/line_integration.h"
#include "model/residual_map.h"

namespace lumora {

namespace {

const QColor kChartBackground(0x33, 0x33, 0x33);
const QColor kAxisRectBackground(0x34, 0x34, 0x34);
const QColor kCyan(0x00, 0xFF, 0xFF);

// Bars that each take their own colour; the legend shows the series brush.
// Each bar is outlined in a darker shade of its colour, or in the series'
// pen when it has one (a light export outlines white bars in ink).
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
  // Each bar's rectangle in pixels, in the order added.
  std::vector<QRectF> Rects() const {
    std::vector<QRectF> rects;
    for (const Bar& b : fBars) rects.push_back(getBarRect(b.key, b.value).normalized());
    return rects;
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
      painter->setPen(pen().style() == Qt::NoPen ? QPen(b.colour.darker(150)) : pen());
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
  axis->setLabelColor(kChartSilver);
  axis->setTickLabelColor(kChartSilver);
  axis->setBasePen(QPen(kChartSilver));
  axis->setTickPen(QPen(kChartSilver));
  axis->setSubTickPen(QPen(kChartSilver));
  axis->grid()->setPen(QPen(QColor(0x55, 0x55, 0x55), 0, Qt::DotLine));
}

QCustomPlot* NewPlot(QWidget* parent, const char* name, const QString& bottom,
                     const QString& left) {
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
  plot->legend->setTextColor(kChartSilver);
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

QColor DarkPlotBackground() { return kChartBackground; }

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
  BuildUncertaintyChart(parent);
  BuildSpectrumChart(parent);
  for (QCustomPlot* plot : Plots()) MakeInteractive(plot);
  connect(fEBF, &QCustomPlot::afterLayout, this, &TResultCharts::SpreadBarLabels);
  connect(fMapPlot, &QCustomPlot::afterLayout, this, &TResultCharts::KeepContourLabelsInside);
  connect(fDensity, &QCustomPlot::afterLayout, this, &TResultCharts::SpreadDensityLabels);
  connect(fSpectrum, &QCustomPlot::afterLayout, this, &TResultCharts::SpreadSpectrumLabels);
}

// Wheel zoom, drag to pan, double-click back to the data's view, and the
// export menu on the right button.
void TResultCharts::MakeInteractive(QCustomPlot* plot) {
  plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
  RememberView(plot);
  connect(plot, &QCustomPlot::mouseDoubleClick, this,
          [this, plot](QMouseEvent*) { ResetView(plot); });
  PopUpMenuOnRightButton(plot, [this, plot] { return ContextMenu(plot, plot); });
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
  AddCopyImageAction(menu, plot);
  menu->addSeparator();
  AddCopyDataAction(menu, plot);
  menu->addAction("Save data as CSV…", this, [this, plot] {
    const std::vector<QCustomPlot*> plots = Plots();
    const auto at = std::find(plots.begin(), plots.end(), plot);
    emit SaveDataRequested(static_cast<int>(at - plots.begin()));
  });
  return menu;
}

namespace {

// The box a label's text takes, above its anchor lifted by `lift` lines.
QRectF LabelBox(const QCPItemText* text, const QPointF& anchor, int lift) {
  const QFontMetrics metrics(text->font());
  QRectF box(0, 0, metrics.horizontalAdvance(text->text()) + 4, metrics.height());
  box.moveBottom(anchor.y() - 4 - lift * metrics.height());
  box.moveLeft(anchor.x() - box.width() / 2);
  return box;
}

// Places each label above its anchor, in the order given, lifting it a line
// at a time past the labels placed before it and what `blocked` marks; a
// label that finds no room inside the axis rectangle is hidden, so none is
// drawn over the axes, the legend or another label.
void PlaceLabels(QCPAxisRect* rect, const std::vector<QCPItemText*>& labels, int lifts,
                 const std::function<bool(const QRectF&)>& blocked) {
  const QRectF inside = rect->rect();
  std::vector<QRectF> placed;
  for (QCPItemText* text : labels) {
    const QPointF anchor = text->position->pixelPosition();
    bool shown = false;
    for (int lift = 0; lift < lifts && !shown && inside.contains(anchor.x(), inside.center().y());
         ++lift) {
      const QRectF box = LabelBox(text, anchor, lift);
      if (!inside.contains(box) || blocked(box) ||
          std::any_of(placed.begin(), placed.end(),
                      [&box](const QRectF& other) { return box.intersects(other); }))
        continue;
      placed.push_back(box);
      text->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
      text->setPadding(QMargins(0, 0, 0, 4 + lift * QFontMetrics(text->font()).height()));
      shown = true;
    }
    text->setVisible(shown);
  }
}

// The pixel squares the points of a scatter series take.
std::vector<QRectF> PointBoxes(const QCPGraph* graph, double half) {
  std::vector<QRectF> boxes;
  for (auto it = graph->data()->constBegin(); it != graph->data()->constEnd(); ++it)
    boxes.emplace_back(graph->keyAxis()->coordToPixel(it->key) - half,
                       graph->valueAxis()->coordToPixel(it->value) - half, 2 * half, 2 * half);
  return boxes;
}

}  // namespace

// Bar labels from left to right, each clear of the other labels, of every
// bar but its own and of the fitted and absorption-free marks. Runs once
// the layout is known (after every zoom and pan too), so the pixel
// positions are those about to be drawn.
void TResultCharts::SpreadBarLabels() {
  constexpr int kLifts = 12;  // as high as the axes leave room for
  std::vector<QCPItemText*> labels;
  for (QCPAbstractItem* item : fBarMarks) labels.push_back(static_cast<QCPItemText*>(item));
  std::sort(labels.begin(), labels.end(), [](QCPItemText* a, QCPItemText* b) {
    return a->position->coords().x() < b->position->coords().x();
  });
  std::vector<QRectF> obstacles = PointBoxes(fSeriesF, 5);
  const std::vector<QRectF> marks = PointBoxes(fSeriesT, 5);
  obstacles.insert(obstacles.end(), marks.begin(), marks.end());
  const std::vector<QRectF> bars = static_cast<TColouredBars*>(fSeriesM)->Rects();
  obstacles.insert(obstacles.end(), bars.begin(), bars.end());
  PlaceLabels(fEBF->axisRect(), labels, kLifts, [&obstacles](const QRectF& box) {
    // A label's own bar ends at its anchor, below the box.
    return std::any_of(obstacles.begin(), obstacles.end(), [&box](const QRectF& o) {
      return box.adjusted(0, 0, 0, -1).intersects(o);
    });
  });
}

// Level labels from left to right, each clear of the others and of the
// points (levels close in energy, as xenon's are, would write one label
// over the next); a label with no room is hidden rather than drawn over
// another.
void TResultCharts::SpreadDensityLabels() {
  constexpr int kLifts = 4;
  std::vector<QCPItemText*> labels;
  for (QCPAbstractItem* item : fDensityMarks) labels.push_back(static_cast<QCPItemText*>(item));
  std::sort(labels.begin(), labels.end(), [](QCPItemText* a, QCPItemText* b) {
    return a->position->coords().x() < b->position->coords().x();
  });
  const std::vector<QRectF> points = PointBoxes(fDensitySeries, 4);  // the 8 px circles
  PlaceLabels(fDensity->axisRect(), labels, kLifts, [&points](const QRectF& box) {
    return std::any_of(points.begin(), points.end(),
                       [&box](const QRectF& p) { return box.intersects(p); });
  });
}

// Contour labels turned to the side of their point where they fit.
void TResultCharts::KeepContourLabelsInside() {
  const QRectF inside = fMapPlot->axisRect()->rect();
  for (QCPAbstractItem* item : fContourMarks) {
    auto* text = static_cast<QCPItemText*>(item);
    const QPointF at = text->position->pixelPosition();
    const QFontMetrics metrics(text->font());
    const double width = metrics.horizontalAdvance(text->text()) + 8;
    Qt::Alignment horizontal = text->positionAlignment() & Qt::AlignHorizontal_Mask;
    if (horizontal == Qt::AlignRight && at.x() - width < inside.left()) horizontal = Qt::AlignLeft;
    if (horizontal == Qt::AlignLeft && at.x() + width > inside.right())
      horizontal = Qt::AlignRight;
    Qt::Alignment vertical = Qt::AlignVCenter;
    if (at.y() - metrics.height() / 2.0 < inside.top()) vertical = Qt::AlignTop;
    if (at.y() + metrics.height() / 2.0 > inside.bottom()) vertical = Qt::AlignBottom;
    text->setPositionAlignment(horizontal | vertical);
  }
}

// Flag labels of a recording above their lines, clear of each other and of
// the spectrum drawn under them.
void TResultCharts::SpreadSpectrumLabels() {
  constexpr int kLifts = 6;
  std::vector<QCPItemText*> labels;
  for (QCPAbstractItem* item : fSpectrumMarks)
    if (auto* text = qobject_cast<QCPItemText*>(item)) labels.push_back(text);
  const QSharedPointer<QCPGraphDataContainer> data = fSpectrumSeries->data();
  QCPAxis* x = fSpectrum->xAxis;
  QCPAxis* y = fSpectrum->yAxis;
  PlaceLabels(fSpectrum->axisRect(), labels, kLifts, [&](const QRectF& box) {
    // The spectrum's highest point under the box, in pixels.
    double top = std::numeric_limits<double>::infinity();
    const double from = std::min(x->pixelToCoord(box.left()), x->pixelToCoord(box.right()));
    const double to = std::max(x->pixelToCoord(box.left()), x->pixelToCoord(box.right()));
    for (auto it = data->findBegin(from, false); it != data->constEnd() && it->key <= to; ++it)
      top = std::min(top, y->coordToPixel(it->value));
    return top < box.bottom();
  });
}

std::vector<QWidget*> TResultCharts::Pages() const {
  std::vector<QWidget*> pages;
  for (QCustomPlot* plot : Plots()) pages.push_back(plot);
  return pages;
}

void TResultCharts::BuildEBFChart(QWidget* parent) {
  fEBF = NewPlot(parent, "EBFChart", "Wavelength (nm)", "Branching fraction");
  fEBF->yAxis->setRange(0, 1.2);
  auto* bars = new TColouredBars(fEBF->xAxis, fEBF->yAxis);
  bars->setObjectName("Series_m");
  bars->setName("measured");
  bars->setBrush(QColor(0xFF, 0xFF, 0xFF));
  bars->setPen(Qt::NoPen);
  fSeriesM = bars;
  fMeasuredErrors = new QCPErrorBars(fEBF->xAxis, fEBF->yAxis);
  fMeasuredErrors->setObjectName("MeasuredErrorBars");
  fMeasuredErrors->setName("measured ± u");
  fMeasuredErrors->setDataPlottable(bars);
  fMeasuredErrors->setPen(QPen(kChartMagenta, 1.5));
  fMeasuredErrors->setWhiskerWidth(6);
  fMeasuredErrors->removeFromLegend();
  fSeriesF = PointSeries(fEBF, "Series_f", "fitted",
                         QCPScatterStyle(QCPScatterStyle::ssDiamond, QColor(0xFF, 0x80, 0x00),
                                         QColor(0xFF, 0x80, 0x00), 9));
  QPainterPath flat;
  flat.addRect(-6, -1.5, 12, 3);
  fSeriesT = PointSeries(
      fEBF, "Series_t", "absorption-free",
      QCPScatterStyle(flat, QPen(QColor(0x00, 0xFF, 0xFF)), QColor(0x00, 0xFF, 0xFF), 6));
  LegendAtBottom(fEBF);
  BuildResidualStrip();
  connect(fEBF, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) {
    emit PointerOverResults(fEBF->xAxis->pixelToCoord(e->position().x()),
                            fEBF->yAxis->pixelToCoord(e->position().y()));
  });
}

// Below the fractions, on the same wavelengths: each line's measured
// minus fitted fraction, as a stem from zero.
void TResultCharts::BuildResidualStrip() {
  fEBF->plotLayout()->insertRow(1);
  fResidualRect = new QCPAxisRect(fEBF, false);
  fResidualRect->addAxes(QCPAxis::atBottom | QCPAxis::atLeft);
  fEBF->plotLayout()->addElement(1, 0, fResidualRect);
  fResidualRect->setBackground(kAxisRectBackground);
  QCPAxis* x = fResidualRect->axis(QCPAxis::atBottom);
  QCPAxis* y = fResidualRect->axis(QCPAxis::atLeft);
  StyleAxis(x, QString());
  StyleAxis(y, "Residual");
  x->setTickLabels(false);
  y->setTicker(QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
  y->ticker()->setTickCount(2);
  fResidualRect->setRangeDrag(Qt::Horizontal);
  fResidualRect->setRangeZoom(Qt::Horizontal);
  fEBF->plotLayout()->setRowStretchFactor(0, 4);
  fEBF->plotLayout()->setRowStretchFactor(1, 1);
  auto* margins = new QCPMarginGroup(fEBF);
  fEBF->axisRect()->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
  fResidualRect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
  // The strip follows the chart's wavelengths through every zoom and pan.
  connect(fEBF->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), x,
          qOverload<const QCPRange&>(&QCPAxis::setRange));
  fResidualSeries = new QCPGraph(x, y);
  fResidualSeries->setObjectName("ResidualSeries");
  fResidualSeries->setName("residual");
  fResidualSeries->removeFromLegend();
  fResidualSeries->setLineStyle(QCPGraph::lsImpulse);
  fResidualSeries->setPen(QPen(kChartOrange, 1.5));
  fResidualSeries->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, kChartOrange, 5));
  y->grid()->setZeroLinePen(QPen(kChartSilver, 1, Qt::DotLine));
  ShowResidualStrip(false);
}

// Without residuals the strip gives its room back to the fractions.
void TResultCharts::ShowResidualStrip(bool shown) {
  fResidualRect->setVisible(shown);
  for (QCPAxis* axis : fResidualRect->axes()) axis->setVisible(shown);
  fResidualRect->setAutoMargins(shown ? QCP::msAll : QCP::msNone);
  fResidualRect->setMargins(QMargins());
  // A strip: tall enough for its two ticks, never the chart's main part.
  fResidualRect->setMinimumSize(0, shown ? 28 : 0);
  fResidualRect->setMaximumSize(QWIDGETSIZE_MAX, shown ? 55 : 0);
  fEBF->plotLayout()->setRowStretchFactor(1, shown ? 1 : 0.001);
}

void TResultCharts::BuildDensityChart(QWidget* parent) {
  fDensity = NewPlot(parent, "DensityChart", "Energy (eV)", "Log10 Density (m-3)");
  fDensitySeries = PointSeries(fDensity, "DensitySeries", "fitted",
                               QCPScatterStyle(QCPScatterStyle::ssCircle, QColor(0xFF, 0xFF, 0x00),
                                               QColor(0xFF, 0xFF, 0x00), 8));
  fDensityErrors = new QCPErrorBars(fDensity->xAxis, fDensity->yAxis);
  fDensityErrors->setObjectName("DensityErrorBars");
  fDensityErrors->setDataPlottable(fDensitySeries);
  fDensityErrors->setPen(QPen(QColor(0xFF, 0xFF, 0x00), 1.2));
  fDensityErrors->setWhiskerWidth(8);
  fDensityErrors->removeFromLegend();
  fDensityErrors->setVisible(false);
  connect(fDensity, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) {
    emit PointerOverDensities(fDensity->xAxis->pixelToCoord(e->position().x()),
                              fDensity->yAxis->pixelToCoord(e->position().y()));
  });
}

void TResultCharts::BuildAnalyzeChart(QWidget* parent) {
  fAnalyze = NewPlot(parent, "AnalyzeChart", "R Value", "Lower wavelength (nm)");
  fAnalyze->setToolTip("Click on legend to show the wavelengths.");
  fAnalysisSeries = PointSeries(fAnalyze, "AnalysisSeries", QString::fromUtf8("λ x R dependence"),
                                QCPScatterStyle(QCPScatterStyle::ssCross, kChartLime, 8));
  LegendAtBottom(fAnalyze);
  connect(
      fAnalyze, &QCustomPlot::legendClick, this,
      [this](QCPLegend*, QCPAbstractLegendItem*, QMouseEvent*) { emit AnalysisLegendClicked(); });
  connect(fAnalyze, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) {
    const int nearest = AnalysisPointNear(e->position());
    emit PointerOverAnalysis(fAnalyze->xAxis->pixelToCoord(e->position().x()),
                             fAnalyze->yAxis->pixelToCoord(e->position().y()),
                             nearest >= 0 ? fAnalysisLabels[nearest] : QString());
    // The pair under the pointer is named beside it, as the marks would.
    if (nearest >= 0)
      QToolTip::showText(e->globalPosition().toPoint(), fAnalysisLabels[nearest], fAnalyze);
    else
      QToolTip::hideText();
  });
  fAnalysisSeries->setSelectable(QCP::stSingleData);
  connect(fAnalyze, &QCustomPlot::plottableClick, this,
          [this](QCPAbstractPlottable* series, int index, QMouseEvent*) {
            if (series == fAnalysisSeries && index >= 0 &&
                index < static_cast<int>(fAnalysisOrder.size()))
              emit AnalysisPointClicked(fAnalysisOrder[index]);
          });
}

void TResultCharts::BuildMapPlot(QWidget* parent) {
  fMapPlot = NewPlot(parent, "ContourPlot", "Log10 n_1 [m-3]", "Temperature [K]");
  fMapPlot->setCursor(Qt::CrossCursor);
  fMapPlot->setToolTip(
      "Residual sum over the grid; the white lines outline the joint 68 % "
      "(solid) and 95 % (dashed) confidence regions of n_1 and T_exc");
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

void TResultCharts::BuildUncertaintyChart(QWidget* parent) {
  fUncertainty = NewPlot(parent, "UncertaintyChart", "Log10 n_1 (m-3)", "Refits");
  fUncertainty->setToolTip(
      "Monte Carlo refits: log10 n_1 of each successful refit, with the "
      "2.5 %, 50 % and 97.5 % percentiles");
  fHistogram = new QCPBars(fUncertainty->xAxis, fUncertainty->yAxis);
  fHistogram->setObjectName("Log10N1Histogram");
  fHistogram->setName("refits");
  fHistogram->setPen(QPen(QColor(0x00, 0x80, 0xFF).lighter(130)));
  fHistogram->setBrush(QColor(0x00, 0x80, 0xFF, 0xA0));
  fUncertainty->plotLayout()->setColumnSpacing(8);
}

void TResultCharts::BuildSpectrumChart(QWidget* parent) {
  fSpectrum = NewPlot(parent, "SpectrumChart", "Wavelength (nm)", "Counts");
  fSpectrum->setToolTip(
      "The spectrum read, its baseline, each line's integration window (green; "
      "red when flagged) and the flagged lines");
  fSpectrumSeries = fSpectrum->addGraph();
  fSpectrumSeries->setObjectName("SpectrumSeries");
  fSpectrumSeries->setName("spectrum");
  fSpectrumSeries->setPen(QPen(QColor(0xE0, 0xE0, 0xE0)));
  fBaselineSeries = fSpectrum->addGraph();
  fBaselineSeries->setObjectName("BaselineSeries");
  fBaselineSeries->setName("baseline");
  fBaselineSeries->setPen(QPen(kChartOrange, 1.5));
  LegendAtBottom(fSpectrum);
}

int TResultCharts::AnalysisPointNear(const QPointF& pixel) const {
  constexpr double kReach = 8;  // pixels
  int nearest = -1;
  double best = kReach * kReach;
  for (size_t i = 0; i < fAnalysisPoints.size(); ++i) {
    const QPointF at(fAnalyze->xAxis->coordToPixel(fAnalysisPoints[i].x()),
                     fAnalyze->yAxis->coordToPixel(fAnalysisPoints[i].y()));
    const QPointF d = at - pixel;
    const double distance = QPointF::dotProduct(d, d);
    if (distance <= best) {
      best = distance;
      nearest = static_cast<int>(i);
    }
  }
  return nearest;
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
    text->setColor(kChartSilver);
    text->setClipToAxisRect(true);
    text->setVisible(visible);
    items.push_back(text);
  }
}

void TResultCharts::ClearBranchingFractions() {
  static_cast<TColouredBars*>(fSeriesM)->Clear();
  fSeriesF->data()->clear();
  fResidualSeries->data()->clear();
  fSeriesT->data()->clear();
  fBarLabels.clear();
  fMeasuredUncertainties.clear();
  fMeasuredErrors->data()->clear();
  RemoveItems(fEBF, fBarMarks);
  fEBF->replot();
}

void TResultCharts::AddLine(double wavelength, double free, double measured,
                            std::optional<double> fitted, QColor barColor, bool residual,
                            double measuredUncertainty) {
  static_cast<TColouredBars*>(fSeriesM)->Add(wavelength, measured, barColor);
  fMeasuredUncertainties.emplace_back(wavelength, measuredUncertainty);
  fSeriesT->addData(wavelength, free);
  if (fitted) fSeriesF->addData(wavelength, *fitted);
  if (fitted && residual) fResidualSeries->addData(wavelength, measured - *fitted);
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
  // The error bars pair with the bars by position: in the bars' key order.
  std::stable_sort(fMeasuredUncertainties.begin(), fMeasuredUncertainties.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  QVector<double> errors;
  bool anyError = false;
  for (const auto& [wavelength, u] : fMeasuredUncertainties) {
    errors.push_back(u);
    anyError = anyError || u > 0;
  }
  if (anyError)
    fMeasuredErrors->setData(errors);
  else
    fMeasuredErrors->data()->clear();
  fMeasuredErrors->setVisible(anyError);
  RescaleWithMargin(fEBF->xAxis, fSeriesM);
  fEBF->yAxis->setRange(0, 1.2);
  // Symmetric about zero, so that the sign of each residual reads at once.
  double largest = 0;
  for (auto it = fResidualSeries->data()->constBegin(); it != fResidualSeries->data()->constEnd();
       ++it)
    largest = std::max(largest, std::abs(it->value));
  const double reach = largest > 0 ? largest * 1.2 : 0.01;
  fResidualSeries->valueAxis()->setRange(-reach, reach);
  ShowResidualStrip(!fResidualSeries->data()->isEmpty());
  RememberView(fEBF);
  fEBF->replot();
}

void TResultCharts::ShowDensities(const std::vector<LabelledPoint>& points, bool marks,
                                  const std::vector<double>& log10Uncertainties) {
  fDensitySeries->data()->clear();
  fDensityErrors->data()->clear();
  RemoveItems(fDensity, fDensityMarks);
  // Added in key order, so that the error bars pair with the points.
  std::vector<size_t> order(points.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&points](size_t a, size_t b) { return points[a].x < points[b].x; });
  QVector<double> errors;
  for (size_t i : order) {
    fDensitySeries->addData(points[i].x, points[i].y);
    errors.push_back(i < log10Uncertainties.size() ? log10Uncertainties[i] : 0);
  }
  const bool withErrors = log10Uncertainties.size() == points.size() && !points.empty();
  if (withErrors) fDensityErrors->setData(errors);
  fDensityErrors->setVisible(withErrors);
  if (marks) AddMarks(fDensity, points, fDensityMarks, true);
  fDensity->rescaleAxes();
  // Room for the labels above the highest point and beside the outer ones.
  fDensity->xAxis->scaleRange(1.4);
  fDensity->yAxis->scaleRange(1.2);
  const QCPRange levels = fDensity->yAxis->range();
  fDensity->yAxis->setRangeUpper(levels.upper + 0.15 * levels.size());
  RememberView(fDensity);
  fDensity->replot();
}

void TResultCharts::ShowAnalysis(const std::vector<LabelledPoint>& points, bool marks) {
  fAnalysisSeries->data()->clear();
  RemoveItems(fAnalyze, fAnalysisMarks);
  fAnalysisSeries->setName(QString::fromUtf8("λ x R dependence"));
  // Handed over sorted by R, in an order this chart knows.
  fAnalysisOrder.resize(points.size());
  std::iota(fAnalysisOrder.begin(), fAnalysisOrder.end(), 0);
  std::stable_sort(fAnalysisOrder.begin(), fAnalysisOrder.end(),
                   [&points](int a, int b) { return points[a].x < points[b].x; });
  QVector<double> keys, values;
  for (int i : fAnalysisOrder) {
    keys.push_back(points[i].x);
    values.push_back(points[i].y);
  }
  fAnalysisSeries->setData(keys, values, true);
  fAnalysisPoints.clear();
  fAnalysisLabels.clear();
  for (const LabelledPoint& p : points) {
    fAnalysisPoints.emplace_back(p.x, p.y);
    fAnalysisLabels.push_back(p.label);
  }
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

void TResultCharts::SetMapRange(double x0, double y0, double x1, double y1,
                                const QString& secondAxis) {
  fMapPlot->yAxis->setLabel(secondAxis);
  fMapPlot->xAxis->setRange(x0, x1);
  fMapPlot->yAxis->setRange(y0, y1);
  RememberView(fMapPlot);
  fMapPlot->replot();
}

void TResultCharts::ClearMap() {
  fColorMap->data()->setSize(0, 0);
  ShowContours({});
}

// Each region's segments as one curve, a NaN point between two segments
// leaving a gap. The segments are in the map's coordinates, so they lie
// where the cells are drawn whichever way the ranges run.
void TResultCharts::ShowContours(const std::vector<ConfidenceRegion>& regions) {
  for (QCPCurve* curve : fContours) fMapPlot->removePlottable(curve);
  fContours.clear();
  RemoveItems(fMapPlot, fContourMarks);
  const double gap = std::numeric_limits<double>::quiet_NaN();
  for (size_t k = 0; k < regions.size(); ++k) {
    const ConfidenceRegion& region = regions[k];
    if (region.contour.empty()) continue;
    auto* curve = new QCPCurve(fMapPlot->xAxis, fMapPlot->yAxis);
    const QString level = QString::number(region.level * 100, 'g', 3);
    curve->setObjectName("Contour" + level);
    curve->setName(level + " %");
    curve->setPen(QPen(Qt::white, 2, k == 0 ? Qt::SolidLine : Qt::DashLine));
    QVector<double> t, x, y;
    for (const ContourSegment& s : region.contour)
      for (const auto& [px, py] :
           {std::pair{s.x1, s.y1}, std::pair{s.x2, s.y2}, std::pair{gap, gap}}) {
        t.push_back(t.size());
        x.push_back(px);
        y.push_back(py);
      }
    curve->setData(t, x, y, true);
    fContours.push_back(curve);
    // The inner level left of its line, the outer right of its own, so that
    // the two labels stay apart however close the lines run.
    const bool inner = k == 0;
    size_t end = 0;
    for (size_t i = 0; i < static_cast<size_t>(x.size()); ++i)
      if (!std::isnan(x[i]) && (inner ? x[i] < x[end] : x[i] > x[end])) end = i;
    auto* text = new QCPItemText(fMapPlot);
    text->position->setCoords(x[end], y[end]);
    text->setPositionAlignment((inner ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    text->setPadding(QMargins(4, 0, 4, 0));
    text->setText(level + " %");
    text->setColor(Qt::white);
    fContourMarks.push_back(text);
  }
  fMapPlot->replot();
}

namespace {

// A histogram of the samples on the bars' axes, with the 2.5 %, 50 % and
// 97.5 % percentiles marked by lines and their values.
void DrawHistogram(QCPBars* bars, const std::vector<double>& samples, double p2_5, double p50,
                   double p97_5, std::vector<QCPAbstractItem*>& marks) {
  bars->data()->clear();
  if (samples.empty()) return;
  QCustomPlot* plot = bars->parentPlot();
  QCPAxis* x = bars->keyAxis();
  QCPAxis* y = bars->valueAxis();
  const auto [lowest, highest] = std::minmax_element(samples.begin(), samples.end());
  // About the square root of the count of bins: enough to show the shape
  // without empty gaps between them.
  const int bins = std::clamp(static_cast<int>(std::lround(std::sqrt(samples.size()))), 5, 60);
  const double spread = *highest - *lowest;
  const double width = spread > 0 ? spread / bins : std::max(std::abs(*lowest) * 1e-6, 1e-9);
  std::vector<int> counts(bins, 0);
  for (double v : samples) ++counts[std::clamp(static_cast<int>((v - *lowest) / width), 0, bins - 1)];
  for (int b = 0; b < bins; ++b) bars->addData(*lowest + (b + 0.5) * width, counts[b]);
  bars->setWidth(width);
  const int tallest = *std::max_element(counts.begin(), counts.end());
  x->setRange(*lowest - 2 * width, *highest + 2 * width);
  y->setRange(0, tallest * 1.3);
  const std::pair<double, const char*> percentiles[] = {
      {p2_5, "2.5 %"}, {p50, "50 %"}, {p97_5, "97.5 %"}};
  for (const auto& [at, caption] : percentiles) {
    auto* line = new QCPItemStraightLine(plot);
    line->setClipAxisRect(x->axisRect());
    for (QCPItemPosition* p : {line->point1, line->point2}) p->setAxes(x, y);
    line->point1->setCoords(at, 0);
    line->point2->setCoords(at, 1);
    line->setPen(QPen(at == p50 ? kChartOrange : kCyan, 1.5, at == p50 ? Qt::SolidLine : Qt::DashLine));
    marks.push_back(line);
    auto* text = new QCPItemText(plot);
    text->setClipAxisRect(x->axisRect());
    text->position->setAxes(x, y);
    text->position->setAxisRect(x->axisRect());
    text->position->setTypeX(QCPItemPosition::ptPlotCoords);
    text->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
    text->position->setCoords(at, 0.02);
    text->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
    text->setText(QString("%1\n%2").arg(caption).arg(at, 0, 'g', 5));
    text->setColor(kChartSilver);
    text->setBrush(kAxisRectBackground);
    marks.push_back(text);
  }
}

}  // namespace

void TResultCharts::RemoveRefitRects() {
  if (fRefitNote) fUncertainty->plotLayout()->remove(fRefitNote);
  fRefitNote = nullptr;
  for (QCPAbstractPlottable* p : {static_cast<QCPAbstractPlottable*>(fSecondHistogram),
                                  static_cast<QCPAbstractPlottable*>(fRefitScatter)})
    if (p) fUncertainty->removePlottable(p);
  fSecondHistogram = nullptr;
  fRefitScatter = nullptr;
  for (QCPAxisRect*& rect : {std::ref(fSecondRect), std::ref(fScatterRect)}) {
    if (!rect) continue;
    fUncertainty->plotLayout()->remove(rect);
    rect = nullptr;
  }
  fUncertainty->plotLayout()->simplify();
}

QCPAxisRect* TResultCharts::AddRefitRect(int column, const QString& bottom, const QString& left) {
  auto* rect = new QCPAxisRect(fUncertainty);
  fUncertainty->plotLayout()->addElement(fRefitNote ? 1 : 0, column, rect);
  rect->setBackground(kAxisRectBackground);
  StyleAxis(rect->axis(QCPAxis::atBottom), bottom);
  StyleAxis(rect->axis(QCPAxis::atLeft), left);
  rect->setRangeDrag(Qt::Horizontal | Qt::Vertical);
  rect->setRangeZoom(Qt::Horizontal | Qt::Vertical);
  return rect;
}

void TResultCharts::ShowRefits(const RefitSamples& refits) {
  RemoveItems(fUncertainty, fPercentileMarks);
  RemoveRefitRects();
  DrawHistogram(fHistogram, refits.log10N1, refits.log10N1Percentiles[0],
                refits.log10N1Percentiles[1], refits.log10N1Percentiles[2], fPercentileMarks);
  // The note stands in a row above the charts, where no percentile's
  // label lies under it and each of its lines has room.
  if (!refits.log10N1.empty() && !refits.failureNote.isEmpty()) {
    QCPLayoutGrid* layout = fUncertainty->plotLayout();
    layout->insertRow(0);
    fRefitNote = new QCPTextElement(fUncertainty, refits.failureNote);
    fRefitNote->setObjectName("RefitFailures");
    fRefitNote->setTextColor(refits.failed > 0 ? QColor(0xFF, 0xA0, 0x60) : kChartSilver);
    fRefitNote->setMargins(QMargins(4, 2, 4, 0));
    layout->addElement(0, 0, fRefitNote);
    layout->setRowStretchFactor(0, 0.001);
  }
  // The second parameter beside n_1, when the refits fitted it too.
  if (!refits.second.empty() && refits.second.size() == refits.log10N1.size()) {
    fSecondRect = AddRefitRect(1, refits.secondAxis, "Refits");
    fSecondHistogram = new QCPBars(fSecondRect->axis(QCPAxis::atBottom),
                                   fSecondRect->axis(QCPAxis::atLeft));
    fSecondHistogram->setObjectName("SecondHistogram");
    fSecondHistogram->setPen(fHistogram->pen());
    fSecondHistogram->setBrush(fHistogram->brush());
    DrawHistogram(fSecondHistogram, refits.second, refits.secondPercentiles[0],
                  refits.secondPercentiles[1], refits.secondPercentiles[2], fPercentileMarks);
    fScatterRect = AddRefitRect(2, "Log10 n_1 (m-3)", refits.secondAxis);
    fRefitScatter = new QCPGraph(fScatterRect->axis(QCPAxis::atBottom),
                                 fScatterRect->axis(QCPAxis::atLeft));
    fRefitScatter->setObjectName("RefitScatter");
    fRefitScatter->setLineStyle(QCPGraph::lsNone);
    fRefitScatter->setScatterStyle(
        QCPScatterStyle(QCPScatterStyle::ssDisc, QColor(0x00, 0x80, 0xFF, 0xC0), 4));
    fRefitScatter->setData(QVector<double>(refits.log10N1.begin(), refits.log10N1.end()),
                           QVector<double>(refits.second.begin(), refits.second.end()));
    fRefitScatter->rescaleAxes();
    fScatterRect->axis(QCPAxis::atBottom)->scaleRange(1.1);
    fScatterRect->axis(QCPAxis::atLeft)->scaleRange(1.1);
  }
  RememberView(fUncertainty);
  fUncertainty->replot();
}

void TResultCharts::ShowSpectrum(const IntegrationResult* integration) {
  fSpectrumSeries->data()->clear();
  fBaselineSeries->data()->clear();
  RemoveItems(fSpectrum, fSpectrumMarks);
  if (integration) {
    const Spectrum& spectrum = integration->spectrum;
    const QVector<double> x(spectrum.wavelength.begin(), spectrum.wavelength.end());
    fSpectrumSeries->setData(
        x, QVector<double>(spectrum.intensity.begin(), spectrum.intensity.end()), true);
    if (integration->baseline.size() == spectrum.size())
      fBaselineSeries->setData(
          x, QVector<double>(integration->baseline.begin(), integration->baseline.end()), true);
    // The spectrum's value at a wavelength: of the nearest point at or above it.
    auto countsAt = [&spectrum](double wavelength) {
      const auto at =
          std::lower_bound(spectrum.wavelength.begin(), spectrum.wavelength.end(), wavelength);
      const size_t i = std::min<size_t>(at - spectrum.wavelength.begin(), spectrum.size() - 1);
      return spectrum.intensity[i];
    };
    for (const LineIntegral& line : integration->lines) {
      const bool flagged = line.flags != 0;
      auto* window = new QCPItemRect(fSpectrum);
      for (QCPItemPosition* corner : {window->topLeft, window->bottomRight}) {
        corner->setTypeX(QCPItemPosition::ptPlotCoords);
        corner->setTypeY(QCPItemPosition::ptAxisRectRatio);
      }
      window->topLeft->setCoords(line.windowFrom, 0);
      window->bottomRight->setCoords(line.windowTo, 1);
      const QColor colour = flagged ? QColor(0xFF, 0x40, 0x40) : kChartLime;
      window->setPen(Qt::NoPen);
      window->setBrush(QColor(colour.red(), colour.green(), colour.blue(), 0x30));
      window->setLayer("background");
      fSpectrumMarks.push_back(window);
      if (!flagged) continue;
      auto* text = new QCPItemText(fSpectrum);
      text->position->setCoords(line.center, countsAt(line.center));
      text->setPositionAlignment(Qt::AlignHCenter | Qt::AlignBottom);
      text->setClipToAxisRect(false);  // placed inside, or hidden, after the layout
      text->setText(QString("%1 %2")
                        .arg(line.line.WaveLength, 0, 'f', 4)
                        .arg(QString::fromStdString(LineFlagText(line.flags))));
      text->setColor(QColor(0xFF, 0x80, 0x80));
      fSpectrumMarks.push_back(text);
    }
    fSpectrum->rescaleAxes();
    fSpectrum->yAxis->setRangeLower(std::min(0.0, fSpectrum->yAxis->range().lower));
    // Room above the highest line for a few lines of flag labels.
    const QCPRange counts = fSpectrum->yAxis->range();
    fSpectrum->yAxis->setRange(counts.lower, counts.upper + 0.35 * counts.size());
  }
  RememberView(fSpectrum);
  fSpectrum->replot();
}

void TResultCharts::ShowMap(const MapRange& range, const std::vector<std::vector<double>>& grid,
                            double lowest, double highest, const QString& secondAxis) {
  fMapPlot->yAxis->setLabel(secondAxis);
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
    scaleAxis->setTicker(QSharedPointer<QCPAxisTickerLog>(new DistinctLogTicker));
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

std::vector<QRectF> BarRects(const TResultCharts& charts) {
  auto* bars = charts.EBFChart()->findChild<QCPBars*>("Series_m");
  return bars ? static_cast<TColouredBars*>(bars)->Rects() : std::vector<QRectF>{};
}

std::vector<QColor> BarColours(const TResultCharts& charts) {
  auto* bars = charts.EBFChart()->findChild<QCPBars*>("Series_m");
  return bars ? static_cast<TColouredBars*>(bars)->Colours() : std::vector<QColor>{};
}

}  // namespace lumora
