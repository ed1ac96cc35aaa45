// The questions and messages the main window puts to the user. The window
// takes them as functions so that they can be answered without a person.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "app/chartexport.h"
#include "frontend/recording_fields.h"

class QWidget;

namespace lumora {

// The answers to the question about unsaved edits of the line table.
enum class UnsavedAnswer { Save, Discard, Cancel };

struct TFormDialogs {
  // A file to open (filter "*.txt") starting in folder; empty when cancelled.
  std::function<QString(const QString& folder)> OpenFile;
  // A recorded spectrum to open, starting in folder; empty when cancelled.
  std::function<QString(const QString& folder)> OpenSpectrum;
  // Which frame (from 1) of a camera file of `frames` frames to read;
  // nothing when cancelled.
  std::function<std::optional<int>(const QString& file, int frames)> ChooseFrame;
  // The options of reading a spectrum, shown with fields; nothing when
  // cancelled.
  std::function<std::optional<SpectrumFields>(const SpectrumFields& fields)> SpectrumOptions;
  // A file to save to, default extension ".txt"; empty when cancelled.
  std::function<QString(const QString& folder)> SaveFile;
  // A file to export a chart to, with the formats' filter ("PNG image
  // (*.png);;..."); empty when cancelled.
  std::function<QString(const QString& folder, const QString& filter)> ExportFile;
  // The size, resolution and style of a chart export, starting from
  // `shown`; nothing when cancelled.
  std::function<std::optional<ChartExportOptions>(const ChartExportOptions& shown)> ExportOptions;
  // The line analysis's input of its comma text, shown as one field per
  // item: nothing when it was cancelled.
  std::function<std::optional<QString>(const QString& title, const QString& prompt,
                                       const QString& text)>
      Input;
  // The question whether to drop unsaved edits, offering to save them first.
  std::function<UnsavedAnswer(const QString& question)> AskUnsaved;
  // The error display of a failed command, and a plain message.
  std::function<void(const QString& text)> ShowError;
  std::function<void(const QString& text)> ShowMessage;
};

// Fills every function that is not set with the standard dialog.
TFormDialogs WithStandardDialogs(TFormDialogs dialogs, QWidget* parent);

}  // namespace lumora
