// A logarithmic axis ticker whose labels stay apart.
#pragma once

#include <qcustomplot.h>

#include <QSet>

namespace lumora {

// Zoomed into part of a decade, the ticks fall between powers of ten, and
// an axis that prints no digit after the point ("10^17") labels 1.2e17 and
// 1.4e17 alike. Each set of labels takes the fewest digits more than the
// axis asks for that tell its ticks apart.
class DistinctLogTicker : public QCPAxisTickerLog {
 protected:
  QVector<QString> createLabelVector(const QVector<double>& ticks, const QLocale& locale,
                                     QChar formatChar, int precision) override {
    constexpr int kMostExtraDigits = 6;
    QVector<QString> labels;
    for (int digits = precision; digits <= precision + kMostExtraDigits; ++digits) {
      labels = QCPAxisTickerLog::createLabelVector(ticks, locale, formatChar, digits);
      if (QSet<QString>(labels.begin(), labels.end()).size() == labels.size()) break;
    }
    return labels;
  }
};

}  // namespace lumora
