#include "app/integration_options_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

#include "app/qt_text.h"
#include "base/errors.h"
#include "base/numparse.h"

namespace lumora {

namespace {

// The captions of the number fields, which also name them in a refusal.
constexpr const char* kFwhm = "FWHM (nm)";
constexpr const char* kWindow = "Half window (FWHM)";
constexpr const char* kShiftMax = "Largest shift (nm)";
constexpr const char* kMinSnr = "Least S/N";
constexpr const char* kSaturation = "Saturation (counts)";

}  // namespace

void CheckSpectrumNumbers(const SpectrumFields& fields) {
  const std::pair<const std::string SpectrumFields::*, const char*> numbers[] = {
      {&SpectrumFields::Fwhm, kFwhm},         {&SpectrumFields::Window, kWindow},
      {&SpectrumFields::ShiftMax, kShiftMax}, {&SpectrumFields::MinSnr, kMinSnr},
      {&SpectrumFields::Saturation, kSaturation}};
  for (const auto& [field, caption] : numbers) {
    if (Trim(fields.*field).empty()) continue;
    try {
      (void)StrToFloat(fields.*field);
    } catch (const ConvertError& e) {
      throw ConvertError(std::string(caption) + ": " + e.what());
    }
  }
}

TSpectrumDialog::TSpectrumDialog(const SpectrumFields& fields, QWidget* parent) : QDialog(parent) {
  setObjectName("SpectrumDialog");
  setWindowTitle("Read spectrum");
  auto* form = new QFormLayout(this);
  struct Row {
    QLineEdit*& edit;
    const char* name;
    const char* caption;
    const std::string& text;
    const char* placeholder;
    const char* tip;
  };
  const Row rows[] = {
      {fwhmEdit, "FwhmEdit", kFwhm, fields.Fwhm, "estimated",
       "Full width at half maximum of the lines, in nm; empty: estimated from the strongest "
       "isolated lines"},
      {windowEdit, "WindowEdit", kWindow, fields.Window, "",
       "Each line is integrated over its centre plus and minus this many FWHM"},
      {shiftMaxEdit, "ShiftMaxEdit", kShiftMax, fields.ShiftMax, "",
       "Largest wavelength offset of the spectrometer searched for, in nm"},
      {minSnrEdit, "MinSnrEdit", kMinSnr, fields.MinSnr, "",
       "Lines whose peak signal-to-noise ratio is below it are flagged weak"},
      {saturationEdit, "SaturationEdit", kSaturation, fields.Saturation,
       "the spectrum's maximum",
       "Detector ceiling in counts; lines reaching it are flagged "
       "saturated. Empty: the spectrum's largest value"},
      {darkFileEdit, "DarkFileEdit", "Dark spectrum", fields.DarkFile, "none",
       "Dark spectrum on the same wavelengths, subtracted point by point; empty: none"},
      {responseFileEdit, "ResponseFileEdit", "Response", fields.ResponseFile, "none",
       "Relative spectral response the intensities are divided by; empty: none"},
  };
  for (const Row& row : rows) {
    row.edit = new QLineEdit(Qt8(row.text), this);
    row.edit->setObjectName(row.name);
    row.edit->setPlaceholderText(row.placeholder);
    row.edit->setToolTip(row.tip);
    row.edit->setMinimumWidth(260);
    const bool file = row.edit == darkFileEdit || row.edit == responseFileEdit;
    if (!file) {
      form->addRow(row.caption, row.edit);
      continue;
    }
    // A file can be picked as well as typed.
    auto* browse = new QToolButton(this);
    browse->setObjectName(QString(row.name).replace("Edit", "Browse"));
    browse->setText("…");
    browse->setToolTip("Choose the file");
    QLineEdit* edit = row.edit;
    connect(browse, &QToolButton::clicked, this, [this, edit] {
      const QString chosen = QFileDialog::getOpenFileName(this, QString(), edit->text());
      if (!chosen.isEmpty()) edit->setText(chosen);
    });
    auto* line = new QHBoxLayout;
    line->addWidget(edit, 1);
    line->addWidget(browse);
    form->addRow(row.caption, line);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName("SpectrumButtons");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

SpectrumFields TSpectrumDialog::Fields() const {
  SpectrumFields f;
  f.Fwhm = Std(fwhmEdit->text());
  f.Window = Std(windowEdit->text());
  f.ShiftMax = Std(shiftMaxEdit->text());
  f.MinSnr = Std(minSnrEdit->text());
  f.Saturation = Std(saturationEdit->text());
  f.DarkFile = Std(darkFileEdit->text());
  f.ResponseFile = Std(responseFileEdit->text());
  return f;
}

}  // namespace lumora
