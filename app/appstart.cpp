#include "app/appstart.h"

#include <QApplication>
#include <QMessageBox>
#include <QPalette>
#include <QStyleFactory>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "app/mainform.h"
#include "manual/manual.h"
#include "settings/startup.h"

namespace lumora {
namespace {

bool EnvSet(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// A message on standard error and, where a display exists, in a message box.
void ShowStartMessage(int& argc, char** argv, const QString& text, QMessageBox::Icon icon) {
  std::cerr << text.toLocal8Bit().constData() << std::endl;
  if (!HasDisplay()) return;
  QApplication app(argc, argv);
  QMessageBox box(icon, "Lumora", text, QMessageBox::Ok);
  box.exec();
}

}  // namespace

// Fusion with a dark palette: the program's dark look where the style exists.
void ApplyDarkStyle(QApplication& app) {
  QStyle* fusion = QStyleFactory::create("Fusion");
  if (!fusion) return;
  app.setStyle(fusion);
  const QColor window(0x33, 0x33, 0x33), base(0x2a, 0x2a, 0x2a), text(0xe0, 0xe0, 0xe0);
  QPalette p;
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::ToolTipBase, window);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Text, text);
  // Hints in empty fields ("drawn", "estimated") readable, yet not text.
  p.setColor(QPalette::PlaceholderText, QColor(0xA0, 0xA0, 0xA0));
  p.setColor(QPalette::Button, QColor(0x3c, 0x3c, 0x3c));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, Qt::red);
  p.setColor(QPalette::Link, QColor(0x5a, 0xa0, 0xe6));
  p.setColor(QPalette::Highlight, QColor(0x3d, 0x6e, 0xa8));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
  app.setPalette(p);
}

void OpenStartFile(TMainForm& form, const QStringList& arguments) {
  if (arguments.size() >= 2 && !arguments[1].isEmpty()) form.OpenFile(arguments[1]);
}

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform) {
    const std::string p = platform;
    if (p.rfind("offscreen", 0) == 0 || p.rfind("minimal", 0) == 0) return false;
    if (!p.empty()) return true;
  }
  return EnvSet("DISPLAY") || EnvSet("WAYLAND_DISPLAY");
}

int RunApplication(int argc, char** argv) {
  // Answered before anything else, without settings or a window.
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    std::cout << manual::ProgramHelp(manual::WindowPage());
    return 0;
  }
  if (first == "--version") {
    std::cout << "lumora " << LUMORA_VERSION << "\n";
    return 0;
  }
  // Before the application object exists: the program's files must be there.
  std::optional<std::string> settingsPath;
  try {
    settingsPath = StartupCheck();
  } catch (const std::exception& e) {
    ShowStartMessage(argc, argv, QString::fromLocal8Bit(e.what()), QMessageBox::Critical);
    return 1;
  }
  if (!settingsPath) {
    ShowStartMessage(argc, argv, kMissingFilesMessage, QMessageBox::Information);
    return 0;
  }

  QApplication app(argc, argv);
  ApplyDarkStyle(app);
  app.setApplicationName("Lumora");
  // Lets the desktop match the window to its menu entry and icon.
  QGuiApplication::setDesktopFileName(LUMORA_APP_ID);

  std::unique_ptr<TMainForm> form;
  try {
    form = std::make_unique<TMainForm>(*settingsPath);
  } catch (const std::exception& e) {
    const QString text = QString::fromLocal8Bit(e.what());
    std::cerr << e.what() << std::endl;
    if (HasDisplay()) QMessageBox::critical(nullptr, "Lumora", text);
    return 1;
  }
  form->showMaximized();
  OpenStartFile(*form, app.arguments());
  return app.exec();
}

}  // namespace lumora
