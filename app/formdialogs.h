// The questions and messages the main window puts to the user. The window
// takes them as functions so that they can be answered without a person.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace lumora {

struct TFormDialogs {
  // A file to open (filter "*.txt") starting in folder; empty when cancelled.
  std::function<QString(const QString& folder)> OpenFile;
  // A file to save to, default extension ".txt"; empty when cancelled.
  std::function<QString(const QString& folder)> SaveFile;
  // The input box: a cancelled box gives back the initial text.
  std::function<QString(const QString& title, const QString& prompt, const QString& text)> Input;
  // The error display of a failed command, and a plain message.
  std::function<void(const QString& text)> ShowError;
  std::function<void(const QString& text)> ShowMessage;
};

// Fills every function that is not set with the standard dialog.
TFormDialogs WithStandardDialogs(TFormDialogs dialogs, QWidget* parent);

}  // namespace lumora
