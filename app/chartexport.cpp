#include "app/chartexport.h"

#include <qcustomplot.h>

#include <cmath>

#include <QFileInfo>
#include <QSvgGenerator>

#include "base/atomic_file.h"
#include "base/errors.h"

namespace lumora {

namespace {

bool WriteSvg(QCustomPlot* plot, const QString& path) {
  QSvgGenerator svg;
  svg.setFileName(path);
  svg.setSize(plot->size());
  svg.setViewBox(plot->rect());
  svg.setTitle(plot->objectName());
  QCPPainter painter;
  if (!painter.begin(&svg)) return false;
  plot->toPainter(&painter, plot->width(), plot->height());
  return painter.end();
}

}  // namespace

QString ExportPlot(QCustomPlot* plot, QString path) {
  QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix != "png" && suffix != "svg" && suffix != "pdf") {
    path += ".png";
    suffix = "png";
  }
  // Drawn into a temporary file beside the target and renamed over it, so
  // that a failed export keeps an earlier file whole.
  AtomicFile file(path.toLocal8Bit().toStdString());
  const QString drawn = QString::fromLocal8Bit(file.TempPath().c_str());
  bool written = false;
  if (suffix == "png")
    written = plot->savePng(drawn, plot->width(), plot->height());
  else if (suffix == "pdf")
    written = plot->savePdf(drawn, plot->width(), plot->height());
  else
    written = WriteSvg(plot, drawn);
  // The SVG writer reports no failure of its own: the file must be there.
  if (!written || !QFileInfo(drawn).isFile() || QFileInfo(drawn).size() == 0)
    throw Error(("The chart could not be written to " + path + ".").toLocal8Bit().toStdString());
  file.Commit();
  return path;
}

namespace {

QString CsvField(const QString& text) {
  QString quoted = text;
  quoted.replace('"', "\"\"");
  return '"' + quoted + '"';
}

QString CsvNumber(double value) { return QString::number(value, 'g', 10); }

}  // namespace

QStringList ChartDataCsv(QCustomPlot* plot) {
  QStringList rows{"series,x axis,x,y axis,y,value"};
  for (int i = 0; i < plot->plottableCount(); ++i) {
    QCPAbstractPlottable* series = plot->plottable(i);
    const QString name = CsvField(series->name().isEmpty() ? series->objectName() : series->name());
    const QString x = CsvField(series->keyAxis()->label());
    const QString y = CsvField(series->valueAxis()->label());
    if (auto* map = qobject_cast<QCPColorMap*>(series)) {
      QCPColorMapData* cells = map->data();
      for (int row = 0; row < cells->valueSize(); ++row)
        for (int column = 0; column < cells->keySize(); ++column) {
          double key = 0, at = 0;
          cells->cellToCoord(column, row, &key, &at);
          rows << QStringList{name, x, CsvNumber(key), y, CsvNumber(at),
                              CsvNumber(cells->cell(column, row))}
                      .join(',');
        }
      continue;
    }
    const QCPPlottableInterface1D* points = series->interface1D();
    if (!points) continue;
    for (int k = 0; k < points->dataCount(); ++k) {
      const double key = points->dataMainKey(k), value = points->dataMainValue(k);
      if (std::isnan(key) || std::isnan(value)) continue;  // a gap between segments
      rows << QStringList{name, x, CsvNumber(key), y, CsvNumber(value), QString()}.join(',');
    }
  }
  return rows;
}

QString ExportFilter(const QString& format) {
  const QString png = "PNG image (*.png)", svg = "SVG drawing (*.svg)",
                pdf = "PDF document (*.pdf)";
  if (format == "svg") return svg + ";;" + png + ";;" + pdf;
  if (format == "pdf") return pdf + ";;" + png + ";;" + svg;
  return png + ";;" + svg + ";;" + pdf;
}

}  // namespace lumora
