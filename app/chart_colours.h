// The colours the charts share on their dark background.
#pragma once

#include <QColor>

namespace lumora {

inline const QColor kChartSilver(0xC0, 0xC0, 0xC0);
inline const QColor kChartLime(0x00, 0xFF, 0x00);
inline const QColor kChartOrange(0xFF, 0x80, 0x00);
// Uncertainties: apart from every series' colour and the dark background.
inline const QColor kChartMagenta(0xFF, 0x40, 0xFF);

}  // namespace lumora
