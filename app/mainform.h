// The main window: for now the element list filled from the settings file.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

class QComboBox;

namespace lumora {

class Settings;

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // Opens the settings file and fills the window from it; raises Error when
  // the file cannot be read. The window keeps the settings object until it
  // is destroyed.
  explicit TMainForm(const std::string& settingsPath, QWidget* parent = nullptr);
  ~TMainForm() override;

  QComboBox* ElementListBox = nullptr;

 private:
  void FillElementList();

  std::unique_ptr<Settings> fSettings;
};

}  // namespace lumora
