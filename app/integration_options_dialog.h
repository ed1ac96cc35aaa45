// The options of reading a spectrum: the line width and window, the shift
// searched for, the weak-line limit, the detector ceiling and the optional
// dark and response files, as texts the shared field conversion reads.
#pragma once

#include <QDialog>

#include "frontend/recording_fields.h"

class QLineEdit;

namespace lumora {

// Raises ConvertError, led by the field's caption, for a number field whose
// text is no number (an empty one is left to the options' own rules).
void CheckSpectrumNumbers(const SpectrumFields& fields);

class TSpectrumDialog : public QDialog {
  Q_OBJECT

 public:
  TSpectrumDialog(const SpectrumFields& fields, QWidget* parent);

  SpectrumFields Fields() const;

  QLineEdit* fwhmEdit = nullptr;
  QLineEdit* windowEdit = nullptr;
  QLineEdit* shiftMaxEdit = nullptr;
  QLineEdit* minSnrEdit = nullptr;
  QLineEdit* saturationEdit = nullptr;
  QLineEdit* darkFileEdit = nullptr;
  QLineEdit* responseFileEdit = nullptr;
};

}  // namespace lumora
