// The result charts of the main window: branching fractions, level
// densities, the line-pair analysis and the residual map. Only this unit
// and the pair inspector see the plotting widget.
#pragma once

#include <QColor>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <array>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "model/confidence_region.h"

class QCustomPlot;
class QCPBars;
class QCPErrorBars;
class QCPGraph;
class QCPColorMap;
class QCPColorScale;
class QCPAxisRect;
class QCPAbstractItem;
class QCPCurve;
class QCPTextElement;
class QMenu;
class QWidget;

namespace lumora {

struct IntegrationResult;

class TResultCharts : public QObject {
  Q_OBJECT

 public:
  explicit TResultCharts(QWidget* parent);

  QCustomPlot* EBFChart() const { return fEBF; }
  QCustomPlot* DensityChart() const { return fDensity; }
  QCustomPlot* AnalyzeChart() const { return fAnalyze; }
  QCustomPlot* MapPlot() const { return fMapPlot; }
  QCustomPlot* UncertaintyChart() const { return fUncertainty; }
  QCustomPlot* SpectrumChart() const { return fSpectrum; }
  // The chart pages in tab order: branching fractions, sum, densities,
  // analysis, uncertainty, spectrum.
  std::vector<QWidget*> Pages() const;

  // "Branching fractions": measured bars, fitted and absorption-free points.
  void ClearBranchingFractions();
  // A line without a fitted value adds no fitted point; with `residual` its
  // measured minus fitted fraction goes into the strip below the chart. A
  // measured fraction's standard uncertainty above 0 draws its error bar.
  void AddLine(double wavelength, double free, double measured, std::optional<double> fitted,
               QColor barColor, bool residual = false, double measuredUncertainty = 0);
  void FinishBranchingFractions(bool marks, const QString& measuredTitle,
                                const QString& fittedTitle);

  struct LabelledPoint {
    double x = 0;
    double y = 0;
    QString label;
  };
  // "Densities": log10 density over level energy.
  // With `log10Uncertainties` (one per point, in log10 units) each point
  // draws its error bar.
  void ShowDensities(const std::vector<LabelledPoint>& points, bool marks,
                     const std::vector<double>& log10Uncertainties = {});
  // "Analysis": lower wavelength over R value.
  void ShowAnalysis(const std::vector<LabelledPoint>& points, bool marks);
  void ToggleAnalysisMarks();
  bool AnalysisMarksVisible() const { return fAnalysisMarksVisible; }

  // "Sum": the plot's range before any map, and a map of columns x rows
  // cells whose values come from value(x, y) at the cell centres.
  // The vertical axis is the second parameter, captioned secondAxis.
  void SetMapRange(double x0, double y0, double x1, double y1, const QString& secondAxis);
  // The grid (rows by temperature point, columns by density point) drawn
  // where its points lie, whichever way each range runs.
  void ShowMap(const MapRange& range, const std::vector<std::vector<double>>& grid, double lowest,
               double highest, const QString& secondAxis);
  // No map: an empty page over the given range.
  void ClearMap();
  // Iso-lines over the map, one per confidence region, labelled by level.
  void ShowContours(const std::vector<ConfidenceRegion>& regions);

  // The Monte Carlo refits that succeeded: log10 n_1 of each and, when
  // fitted, its second parameter, with the 2.5 %, 50 % and 97.5 %
  // percentiles, and a note of how many failed and why.
  struct RefitSamples {
    std::vector<double> log10N1;
    std::array<double, 3> log10N1Percentiles{};
    std::vector<double> second;  // empty: not fitted
    std::array<double, 3> secondPercentiles{};
    QString secondAxis;
    int failed = 0;
    QString failureNote;
  };
  // "Uncertainty": the histogram of log10 n_1 with the failures noted, and
  // when the second parameter was fitted its histogram and the scatter of
  // the two; no samples empty the page.
  void ShowRefits(const RefitSamples& refits);

  // "Spectrum": the spectrum with its baseline, each line's integration
  // window, and the flagged lines labelled; nothing empties the page.
  void ShowSpectrum(const IntegrationResult* integration);

  // Every chart: the page of the chart, the plots in tab order.
  std::vector<QCustomPlot*> Plots() const {
    return {fEBF, fMapPlot, fDensity, fAnalyze, fUncertainty, fSpectrum};
  }
  // Back to the view the chart's data were shown in.
  void ResetView(QCustomPlot* plot);
  // The context menu of a chart: the three exports, "Copy image", "Copy
  // data" and "Save data as CSV…".
  QMenu* ContextMenu(QCustomPlot* plot, QWidget* parent);

 signals:
  // Pointer over a chart, in that chart's axes; over the analysis chart
  // with the label of the point under it (empty: none).
  void PointerOverResults(double wavelength, double fraction);
  void PointerOverDensities(double energy, double log10Density);
  void PointerOverAnalysis(double r, double wavelength, const QString& pair);
  void PointerOverMap(double logDensity, double temperature);
  void AnalysisLegendClicked();
  // A point of the analysis chart was clicked: its index in the points shown.
  void AnalysisPointClicked(int index);
  // "Export as ..." of a chart's context menu: the chart's index in Plots()
  // and the format, "png", "svg" or "pdf".
  void ExportRequested(int chart, const QString& format);
  // "Save data as CSV…" of a chart's context menu: the chart's index.
  void SaveDataRequested(int chart);

 private:
  void BuildEBFChart(QWidget* parent);
  void BuildResidualStrip();
  void ShowResidualStrip(bool shown);
  void BuildDensityChart(QWidget* parent);
  void BuildAnalyzeChart(QWidget* parent);
  void BuildMapPlot(QWidget* parent);
  void BuildUncertaintyChart(QWidget* parent);
  void BuildSpectrumChart(QWidget* parent);
  // The point of the analysis chart within a few pixels, in the order
  // shown; -1 for none.
  int AnalysisPointNear(const QPointF& pixel) const;
  void RemoveItems(QCustomPlot* plot, std::vector<QCPAbstractItem*>& items);
  void AddMarks(QCustomPlot* plot, const std::vector<LabelledPoint>& points,
                std::vector<QCPAbstractItem*>& items, bool visible);
  void MakeInteractive(QCustomPlot* plot);
  void RememberView(QCustomPlot* plot);
  void SpreadBarLabels();
  void SpreadDensityLabels();
  void KeepContourLabelsInside();
  void SpreadSpectrumLabels();
  void RemoveRefitRects();
  QCPAxisRect* AddRefitRect(int column, const QString& bottom, const QString& left);

  QCustomPlot* fEBF = nullptr;
  QCustomPlot* fDensity = nullptr;
  QCustomPlot* fAnalyze = nullptr;
  QCustomPlot* fMapPlot = nullptr;
  QCustomPlot* fUncertainty = nullptr;
  QCustomPlot* fSpectrum = nullptr;
  QCPBars* fSeriesM = nullptr;
  QCPErrorBars* fMeasuredErrors = nullptr;  // on fSeriesM's bars
  QCPErrorBars* fDensityErrors = nullptr;   // on fDensitySeries' points
  std::vector<std::pair<double, double>> fMeasuredUncertainties;  // wavelength, u
  QCPGraph* fSeriesF = nullptr;
  QCPGraph* fSeriesT = nullptr;
  QCPAxisRect* fResidualRect = nullptr;  // the strip below the fractions
  QCPGraph* fResidualSeries = nullptr;
  QCPGraph* fDensitySeries = nullptr;
  QCPGraph* fAnalysisSeries = nullptr;
  // The series keeps its points sorted by R: the index in the points shown
  // of each point of the series, so that a click names the right pair.
  std::vector<int> fAnalysisOrder;
  std::vector<QPointF> fAnalysisPoints;  // in the order shown, with their labels
  std::vector<QString> fAnalysisLabels;
  QCPColorMap* fColorMap = nullptr;
  QCPColorScale* fColorScale = nullptr;
  std::vector<QCPCurve*> fContours;
  std::vector<QCPAbstractItem*> fContourMarks;
  QCPBars* fHistogram = nullptr;
  QCPAxisRect* fSecondRect = nullptr;  // with the second parameter's refits only
  QCPAxisRect* fScatterRect = nullptr;
  QCPTextElement* fRefitNote = nullptr;  // how many refits are shown, above the charts
  QCPBars* fSecondHistogram = nullptr;
  QCPGraph* fRefitScatter = nullptr;
  std::vector<QCPAbstractItem*> fPercentileMarks;
  QCPGraph* fSpectrumSeries = nullptr;
  QCPGraph* fBaselineSeries = nullptr;
  std::vector<QCPAbstractItem*> fSpectrumMarks;
  std::vector<QCPAbstractItem*> fBarMarks;
  std::vector<QCPAbstractItem*> fDensityMarks;
  std::vector<QCPAbstractItem*> fAnalysisMarks;
  std::vector<LabelledPoint> fBarLabels;
  bool fAnalysisMarksVisible = false;
  struct View {
    double x0, x1, y0, y1;
  };
  std::map<QCustomPlot*, View> fViews;  // each chart's view of its data
};

// The dark look of every plot of the program: backgrounds and silver axes.
void StyleDarkPlot(QCustomPlot* plot);
QColor DarkPlotBackground();

// The pixel rectangle of every bar of the measured series, in the order added.
std::vector<QRectF> BarRects(const TResultCharts& charts);
// The colour of every bar of the measured series, in the order added.
std::vector<QColor> BarColours(const TResultCharts& charts);

}  // namespace lumora
