// Writing a chart to an image file.
#pragma once

#include <QString>
#include <QStringList>

class QCustomPlot;

namespace lumora {

// Writes the chart at its size on screen as PNG, SVG or PDF, chosen by the
// path's suffix (any other suffix gets ".png" added). Raises Error when the
// file cannot be written; returns the path written.
QString ExportPlot(QCustomPlot* plot, QString path);

// The filter of the export dialog, the format given first.
QString ExportFilter(const QString& format);

// The data a chart shows as CSV lines (without line ends): a header, then
// one row per point of every series, named by the series, in the series'
// own axes; a colour map gives a row per cell with its value.
QStringList ChartDataCsv(QCustomPlot* plot);

}  // namespace lumora
