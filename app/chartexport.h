// Writing a chart to an image file or the clipboard, and the charts'
// context menus that do it.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

class QCustomPlot;
class QMenu;
class QWidget;

namespace lumora {

// How a chart is written for a paper: its size in pixels at 96 dpi (0: as
// on screen), the resolution of the PNG file (300 dpi draws the same chart
// with 300/96 times the pixels each way), and a light style (white
// background, dark axes and texts) instead of the window's dark one.
struct ChartExportOptions {
  int width = 0;
  int height = 0;
  int dpi = 96;
  bool light = false;
};

// The chart's size on screen.
QSize PlotSize(const QCustomPlot* plot);

// Writes the chart as PNG, SVG or PDF, chosen by the path's suffix (any
// other suffix gets ".png" added). Raises Error when the file cannot be
// written; returns the path written. The chart on screen keeps its look.
QString ExportPlot(QCustomPlot* plot, QString path, const ChartExportOptions& options = {});

// The filter of the export dialog, the format given first.
QString ExportFilter(const QString& format);

// The data a chart shows as CSV lines (without line ends): a header, then
// one row per point of every series, named by the series, in the series'
// own axes; a colour map gives a row per cell with its value, an error-bar
// series its centres with their uncertainties as the value.
QStringList ChartDataCsv(QCustomPlot* plot);

// The context menus' shared actions: the chart as an image, its data as
// CSV (ChartDataCsv), both to the clipboard.
void AddCopyImageAction(QMenu* menu, QCustomPlot* plot);
void AddCopyDataAction(QMenu* menu, QCustomPlot* plot);
// Opens the menu makeMenu returns where the chart's right button is pressed.
void PopUpMenuOnRightButton(QCustomPlot* plot, const std::function<QMenu*()>& makeMenu);

// A chart's context menu for the charts without exports: "Copy image" and
// "Copy data" (ChartDataCsv), named "ChartMenu"; OfferChartCopyMenu opens
// it on the chart's right button.
QMenu* ChartCopyMenu(QCustomPlot* plot, QWidget* parent);
void OfferChartCopyMenu(QCustomPlot* plot);

}  // namespace lumora
