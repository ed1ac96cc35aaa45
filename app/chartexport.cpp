#include "app/chartexport.h"

#include <qcustomplot.h>

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

QString ExportFilter(const QString& format) {
  const QString png = "PNG image (*.png)", svg = "SVG drawing (*.svg)",
                pdf = "PDF document (*.pdf)";
  if (format == "svg") return svg + ";;" + png + ";;" + pdf;
  if (format == "pdf") return pdf + ";;" + png + ";;" + svg;
  return png + ";;" + svg + ";;" + pdf;
}

}  // namespace lumora
