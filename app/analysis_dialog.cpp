#include "app/analysis_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>

#include "app/qt_text.h"
#include "model/element_data.h"

namespace lumora {

TAnalysisDialog::TAnalysisDialog(const QString& title, const QString& text, QWidget* parent)
    : QDialog(parent) {
  setObjectName("AnalysisDialog");
  setWindowTitle(title);
  struct Row {
    const char* name;
    const char* caption;
    const char* tip;
  };
  const Row rows[] = {
      {"AnalysisFromEdit", "From (nm)", "Shortest wavelength of the simulated lines"},
      {"AnalysisToEdit", "To (nm)", "Longest wavelength of the simulated lines"},
      {"AnalysisMinAEdit", "Minimum A (s^-1)", "Lines with a smaller Aki are left out"},
      {"AnalysisMaxEEdit", "Maximum E (eV)", "Lines whose lower level lies higher are left out"},
      {"AnalysisRangeEdit", "Range factor",
       "The final density is the start density (Density n_1) times this factor"},
  };
  const std::vector<std::string> items = SplitCommaText(Std(text));
  auto* form = new QFormLayout(this);
  for (size_t k = 0; k < fields.size(); ++k) {
    fields[k] = new QLineEdit(this);
    fields[k]->setObjectName(rows[k].name);
    fields[k]->setToolTip(rows[k].tip);
    if (k < items.size()) fields[k]->setText(Qt8(items[k]));
    form->addRow(rows[k].caption, fields[k]);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

QString TAnalysisDialog::Text() const {
  QStringList items;
  for (const QLineEdit* field : fields) items << field->text().trimmed();
  return items.join(", ");
}

}  // namespace lumora
