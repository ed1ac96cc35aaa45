// Texts between the window and the core: the core works in the locale's
// 8-bit encoding, as the files it reads are.
#pragma once

#include <QString>
#include <string>

namespace lumora {

inline std::string Std(const QString& text) { return text.toLocal8Bit().toStdString(); }
inline QString Qt8(const std::string& text) { return QString::fromLocal8Bit(text.c_str()); }

}  // namespace lumora
