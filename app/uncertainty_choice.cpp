#include "app/uncertainty_choice.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/number_field.h"
#include "app/qt_text.h"
#include "base/errors.h"
#include "base/numparse.h"

namespace lumora {

namespace {
// In the order of the list's entries.
constexpr UncertaintySource kSources[] = {UncertaintySource::None, UncertaintySource::Column,
                                          UncertaintySource::Relative,
                                          UncertaintySource::Poisson};
}  // namespace

UncertaintyChoice::UncertaintyChoice(QWidget* parent) : QWidget(parent) {
  setObjectName("UncertaintyChoice");
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new QLabel("u(I)", this));
  source_ = new QComboBox(this);
  source_->setObjectName("UncertaintyBox");
  source_->addItems({"none", "column", "relative", "Poisson"});
  row->addWidget(source_);
  relative_ = NumberField(this, "UncertaintyEdit", NumberKind::Positive);
  relative_->setText("0.02");
  relative_->setMaximumWidth(relative_->fontMetrics().horizontalAdvance("0.000000") + 12);
  row->addWidget(relative_);

  setToolTip("The intensities' standard uncertainties: with them the fit minimises chi-square "
             "and reports it, and the table and chart show each line's uncertainty");
  source_->setToolTip(
      "none: unweighted fit; column: the measurement's third number; relative: the fraction "
      "of each intensity in the field beside; Poisson: the square root of each intensity "
      "(photon counts)");
  relative_->setToolTip("Relative standard uncertainty of each intensity (0.02 is 2 %)");
  const auto changed = [this] {
    relative_->setEnabled(kSources[source_->currentIndex()] == UncertaintySource::Relative);
    emit Changed();
  };
  connect(source_, &QComboBox::currentIndexChanged, this, changed);
  connect(relative_, &QLineEdit::editingFinished, this, &UncertaintyChoice::Changed);
  relative_->setEnabled(false);
}

IntensityUncertainty UncertaintyChoice::Choice() const {
  IntensityUncertainty choice;
  choice.source = kSources[source_->currentIndex()];
  if (choice.source != UncertaintySource::Relative) return choice;
  const std::string text = Trim(Std(relative_->text()));
  try {
    choice.relative = StrToFloat(text);
  } catch (const ConvertError& e) {
    throw ConvertError(std::string("Relative uncertainty u(I)/I: ") + e.what());
  }
  if (!(choice.relative > 0))
    throw Error("The relative uncertainty u(I)/I must be above 0, not \"" + text + "\".");
  return choice;
}

IntensityUncertainty UncertaintyChoice::ShownChoice() const {
  try {
    return Choice();
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace lumora
