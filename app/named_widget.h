// A widget of the window found by its object name, for the programs that
// drive the window from outside (the screenshots, the tests): the names are
// the window's interface, its members are not.
#pragma once

#include <QObject>
#include <stdexcept>
#include <string>

namespace lumora {

template <typename W>
W* NamedWidget(const QObject& window, const char* name) {
  W* widget = window.findChild<W*>(name);
  if (!widget) throw std::logic_error(std::string("The window has no widget named ") + name + ".");
  return widget;
}

}  // namespace lumora
