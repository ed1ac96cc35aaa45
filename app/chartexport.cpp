#include "app/chartexport.h"

#include <qcustomplot.h>

#include <cmath>
#include <functional>
#include <optional>
#include <vector>

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QMenu>
#include <QSvgGenerator>

#include "app/resultcharts.h"
#include "base/atomic_file.h"
#include "base/errors.h"

namespace lumora {

namespace {

bool WriteSvg(QCustomPlot* plot, const QString& path, int width, int height) {
  QSvgGenerator svg;
  svg.setFileName(path);
  svg.setSize(QSize(width, height));
  svg.setViewBox(QRect(0, 0, width, height));
  svg.setTitle(plot->objectName());
  QCPPainter painter;
  if (!painter.begin(&svg)) return false;
  plot->toPainter(&painter, width, height);
  return painter.end();
}

// The chart in black on white while it is written; the colours it had come
// back when this goes.
class LightStyle {
 public:
  explicit LightStyle(QCustomPlot* plot) : plot_(plot) {
    const QColor ink(0x20, 0x20, 0x20), grid(0xD0, 0xD0, 0xD0);
    // The plot keeps no brush to read back: the program's dark one returns.
    plot_->setBackground(Qt::white);
    undo_.push_back([this] { plot_->setBackground(DarkPlotBackground()); });
    for (QCPAxisRect* rect : plot_->axisRects())
      Swap(rect->backgroundBrush(), QBrush(Qt::white),
           [rect](const QBrush& b) { rect->setBackground(b); });
    std::vector<QCPAxis*> axes;
    for (QCPAxisRect* rect : plot_->axisRects())
      for (QCPAxis* axis : rect->axes()) axes.push_back(axis);
    for (QCPColorScale* scale : plot_->findChildren<QCPColorScale*>()) axes.push_back(scale->axis());
    for (QCPAxis* axis : axes) {
      Swap(axis->labelColor(), ink, [axis](const QColor& c) { axis->setLabelColor(c); });
      Swap(axis->tickLabelColor(), ink, [axis](const QColor& c) { axis->setTickLabelColor(c); });
      Swap(axis->basePen(), QPen(ink), [axis](const QPen& p) { axis->setBasePen(p); });
      Swap(axis->tickPen(), QPen(ink), [axis](const QPen& p) { axis->setTickPen(p); });
      Swap(axis->subTickPen(), QPen(ink), [axis](const QPen& p) { axis->setSubTickPen(p); });
      QCPGrid* lines = axis->grid();
      Swap(lines->pen(), QPen(grid, 0, Qt::DotLine), [lines](const QPen& p) { lines->setPen(p); });
    }
    // Bars and error bars are outlined in ink: a white bar would vanish.
    for (int i = 0; i < plot_->plottableCount(); ++i) {
      QCPAbstractPlottable* series = plot_->plottable(i);
      if (qobject_cast<QCPBars*>(series) || qobject_cast<QCPErrorBars*>(series))
        Swap(series->pen(), QPen(ink, std::max(series->pen().widthF(), 1.0)),
             [series](const QPen& p) { series->setPen(p); });
    }
    QCPLegend* legend = plot_->legend;
    Swap(legend->brush(), QBrush(Qt::white), [legend](const QBrush& b) { legend->setBrush(b); });
    Swap(legend->textColor(), ink, [legend](const QColor& c) { legend->setTextColor(c); });
    for (QCPTextElement* text : plot_->findChildren<QCPTextElement*>())
      Swap(text->textColor(), ink, [text](const QColor& c) { text->setTextColor(c); });
    for (int i = 0; i < plot_->itemCount(); ++i)
      if (auto* text = qobject_cast<QCPItemText*>(plot_->item(i))) {
        Swap(text->color(), ink, [text](const QColor& c) { text->setColor(c); });
        if (text->brush().style() != Qt::NoBrush)
          Swap(text->brush(), QBrush(Qt::white), [text](const QBrush& b) { text->setBrush(b); });
      }
  }
  ~LightStyle() {
    for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) (*it)();
  }
  LightStyle(const LightStyle&) = delete;
  LightStyle& operator=(const LightStyle&) = delete;

 private:
  template <typename T, typename Set>
  void Swap(const T& old, const T& light, Set set) {
    undo_.push_back([set, old] { set(old); });
    set(light);
  }

  QCustomPlot* plot_;
  std::vector<std::function<void()>> undo_;
};

// The size is the chart's layout at the screen's 96 dpi; a higher
// resolution draws the same layout with more pixels, as many as memory
// sensibly holds.
void CheckPixelCount(int width, int height, int dpi) {
  constexpr double kMostPixels = 4e8;  // 20 000 × 20 000 at 96 dpi
  const double scale = dpi / 96.0;
  const double pixels = std::round(width * scale) * std::round(height * scale);
  if (pixels > kMostPixels)
    throw Error(QString("A chart of %1 × %2 pixels at %3 dpi would have %4 pixels; at most %5 "
                        "can be written. Choose a smaller size or resolution.")
                    .arg(width)
                    .arg(height)
                    .arg(dpi)
                    .arg(pixels, 0, 'g', 3)
                    .arg(kMostPixels, 0, 'g', 3)
                    .toStdString());
}

}  // namespace

QSize PlotSize(const QCustomPlot* plot) { return plot->size(); }

QString ExportPlot(QCustomPlot* plot, QString path, const ChartExportOptions& options) {
  QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix != "png" && suffix != "svg" && suffix != "pdf") {
    path += ".png";
    suffix = "png";
  }
  // Drawn into a temporary file beside the target and renamed over it, so
  // that a failed export keeps an earlier file whole.
  AtomicFile file(path.toLocal8Bit().toStdString());
  const QString drawn = QString::fromLocal8Bit(file.TempPath().c_str());
  const int width = options.width > 0 ? options.width : plot->width();
  const int height = options.height > 0 ? options.height : plot->height();
  const int dpi = std::max(options.dpi, 1);
  if (suffix == "png") CheckPixelCount(width, height, dpi);
  std::optional<LightStyle> light;
  if (options.light) light.emplace(plot);
  bool written = false;
  if (suffix == "png")
    written = plot->savePng(drawn, width, height, dpi / 96.0, -1, dpi);
  else if (suffix == "pdf")
    written = plot->savePdf(drawn, width, height);
  else
    written = WriteSvg(plot, drawn, width, height);
  light.reset();
  plot->replot();
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

// An error bar's value column: its u, or "-minus +plus" when the bar is
// not symmetric.
QString ErrorField(const QCPErrorBarsData& bar) {
  if (bar.errorMinus == bar.errorPlus) return CsvNumber(bar.errorPlus);
  return CsvField("-" + CsvNumber(bar.errorMinus) + " +" + CsvNumber(bar.errorPlus));
}

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
    auto* errors = qobject_cast<QCPErrorBars*>(series);
    for (int k = 0; k < points->dataCount(); ++k) {
      const double key = points->dataMainKey(k), value = points->dataMainValue(k);
      if (std::isnan(key) || std::isnan(value)) continue;  // a gap between segments
      rows << QStringList{name, x, CsvNumber(key), y, CsvNumber(value),
                          errors ? ErrorField(errors->data()->at(k)) : QString()}
                  .join(',');
    }
  }
  return rows;
}

void AddCopyImageAction(QMenu* menu, QCustomPlot* plot) {
  menu->addAction("Copy image", plot,
                  [plot] { QApplication::clipboard()->setPixmap(plot->toPixmap()); });
}

void AddCopyDataAction(QMenu* menu, QCustomPlot* plot) {
  menu->addAction("Copy data", plot, [plot] {
    QApplication::clipboard()->setText(ChartDataCsv(plot).join('\n') + '\n');
  });
}

void PopUpMenuOnRightButton(QCustomPlot* plot, const std::function<QMenu*()>& makeMenu) {
  plot->setContextMenuPolicy(Qt::CustomContextMenu);
  QObject::connect(plot, &QWidget::customContextMenuRequested, plot,
                   [plot, makeMenu](const QPoint& at) {
                     QMenu* menu = makeMenu();
                     menu->setAttribute(Qt::WA_DeleteOnClose);
                     menu->popup(plot->mapToGlobal(at));
                   });
}

QMenu* ChartCopyMenu(QCustomPlot* plot, QWidget* parent) {
  auto* menu = new QMenu(parent);
  menu->setObjectName("ChartMenu");
  AddCopyImageAction(menu, plot);
  AddCopyDataAction(menu, plot);
  return menu;
}

void OfferChartCopyMenu(QCustomPlot* plot) {
  PopUpMenuOnRightButton(plot, [plot] { return ChartCopyMenu(plot, plot); });
}

QString ExportFilter(const QString& format) {
  const QString png = "PNG image (*.png)", svg = "SVG drawing (*.svg)",
                pdf = "PDF document (*.pdf)";
  if (format == "svg") return svg + ";;" + png + ";;" + pdf;
  if (format == "pdf") return pdf + ";;" + png + ";;" + svg;
  return png + ";;" + svg + ";;" + pdf;
}

}  // namespace lumora
