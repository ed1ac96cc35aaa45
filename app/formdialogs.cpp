#include "app/formdialogs.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QSpinBox>
#include <QMessageBox>

#include "app/analysis_dialog.h"
#include "app/integration_options_dialog.h"

namespace lumora {

namespace {

// Width, height and resolution of the file, and its style.
std::optional<ChartExportOptions> AskChartExportOptions(const ChartExportOptions& shown,
                                                        QWidget* parent) {
  QDialog dialog(parent);
  dialog.setObjectName("ExportOptionsDialog");
  dialog.setWindowTitle("Export chart");
  auto* form = new QFormLayout(&dialog);
  const auto spin = [&dialog](int value, int lowest, int highest, const char* suffix) {
    auto* box = new QSpinBox(&dialog);
    box->setRange(lowest, highest);
    box->setValue(value);
    box->setSuffix(suffix);
    return box;
  };
  QSpinBox* width = spin(shown.width, 100, 20000, " px");
  QSpinBox* height = spin(shown.height, 100, 20000, " px");
  QSpinBox* dpi = spin(shown.dpi, 30, 2400, " dpi");
  auto* light = new QCheckBox("Light style (white background)", &dialog);
  light->setChecked(shown.light);
  form->addRow("Width", width);
  form->addRow("Height", height);
  form->addRow("Resolution", dpi);
  form->addRow(light);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return ChartExportOptions{width->value(), height->value(), dpi->value(), light->isChecked()};
}

const char* const kFilter = "text files (*.txt)";
}

TFormDialogs WithStandardDialogs(TFormDialogs d, QWidget* parent) {
  if (!d.OpenFile)
    d.OpenFile = [parent](const QString& folder) {
      return QFileDialog::getOpenFileName(parent, QString(), folder, kFilter);
    };
  if (!d.OpenSpectrum)
    d.OpenSpectrum = [parent](const QString& folder) {
      return QFileDialog::getOpenFileName(
          parent, "Read spectrum", folder,
          "spectra (*.csv *.txt *.dat *.asc *.spe);;SPE camera files (*.spe);;"
          "text exports (*.csv *.txt *.dat *.asc);;all files (*)");
    };
  if (!d.ChooseFrame)
    d.ChooseFrame = [parent](const QString& file, int frames) -> std::optional<int> {
      bool ok = false;
      const int frame = QInputDialog::getInt(
          parent, "Read spectrum",
          QString("%1 holds %2 frames. Frame to read:").arg(QFileInfo(file).fileName()).arg(frames),
          1, 1, frames, 1, &ok);
      if (!ok) return std::nullopt;
      return frame;
    };
  if (!d.SpectrumOptions)
    d.SpectrumOptions = [parent](const SpectrumFields& fields) -> std::optional<SpectrumFields> {
      TSpectrumDialog dialog(fields, parent);
      if (dialog.exec() != QDialog::Accepted) return std::nullopt;
      return dialog.Fields();
    };
  if (!d.SaveFile)
    d.SaveFile = [parent](const QString& folder) {
      QFileDialog dialog(parent, QString(), folder, kFilter);
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setDefaultSuffix("txt");
      if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
      return dialog.selectedFiles().first();
    };
  if (!d.ExportFile)
    d.ExportFile = [parent](const QString& folder, const QString& filter) {
      return QFileDialog::getSaveFileName(parent, "Export chart", folder, filter);
    };
  if (!d.Input)
    // The prompt's five items are the dialog's captioned fields.
    d.Input = [parent](const QString& title, const QString&,
                       const QString& text) -> std::optional<QString> {
      TAnalysisDialog dialog(title, text, parent);
      if (dialog.exec() != QDialog::Accepted) return std::nullopt;
      return dialog.Text();
    };
  if (!d.ExportOptions)
    d.ExportOptions = [parent](const ChartExportOptions& shown) {
      return AskChartExportOptions(shown, parent);
    };
  if (!d.AskUnsaved)
    d.AskUnsaved = [parent](const QString& question) {
      switch (QMessageBox::question(parent, "Lumora", question,
                                    QMessageBox::Save | QMessageBox::Discard |
                                        QMessageBox::Cancel,
                                    QMessageBox::Save)) {
        case QMessageBox::Save: return UnsavedAnswer::Save;
        case QMessageBox::Discard: return UnsavedAnswer::Discard;
        default: return UnsavedAnswer::Cancel;
      }
    };
  if (!d.ShowError)
    d.ShowError = [parent](const QString& text) { QMessageBox::critical(parent, "Lumora", text); };
  if (!d.ShowMessage)
    d.ShowMessage = [parent](const QString& text) {
      QMessageBox::information(parent, "Lumora", text);
    };
  return d;
}

}  // namespace lumora
