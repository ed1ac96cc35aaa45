// Writing a chart to an image file.
#pragma once

#include <QString>

class QCustomPlot;

namespace lumora {

// Writes the chart at its size on screen as PNG, SVG or PDF, chosen by the
// path's suffix (any other suffix gets ".png" added). Raises Error when the
// file cannot be written; returns the path written.
QString ExportPlot(QCustomPlot* plot, QString path);

// The filter of the export dialog, the format given first.
QString ExportFilter(const QString& format);

}  // namespace lumora
