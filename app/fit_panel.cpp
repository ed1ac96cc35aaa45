#include "app/fit_panel.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "app/monte_carlo_panel.h"
#include "app/number_field.h"
#include "app/qt_text.h"
#include "frontend/field_requests.h"
#include "model/session.h"

namespace lumora {

FitPanel::FitPanel(QWidget* parent) : QWidget(parent) {
  setObjectName("FitPage");
  auto* columns = new QHBoxLayout(this);
  auto* form = new QFormLayout;
  columns->addLayout(form);
  density_ = NumberField(this, "FitDensityEdit", NumberKind::Positive);
  form->addRow("Density n_1 (m-3)", density_);
  fitSecond_ = new QCheckBox("Fit T_exc (K)", this);
  fitSecond_->setObjectName("FitTempCheckBox");
  form->addRow(fitSecond_);
  second_ = NumberField(this, "FitTempEdit", NumberKind::Positive);
  form->addRow("", second_);
  maxIterations_ = NumberField(this, "MaxIterEdit", NumberKind::Count);
  form->addRow("Max iteration number", maxIterations_);
  auto* fit = new QPushButton("Fit", this);
  fit->setObjectName("FitBtn");
  form->addRow(fit);
  monteCarlo_ = new MonteCarloPanel(this);
  columns->addWidget(monteCarlo_);
  connect(fit, &QPushButton::clicked, this, &FitPanel::FitRequested);

  density_->setToolTip("Start value of the lower-level density n_1, in m^-3");
  maxIterations_->setToolTip("Largest number of fit iterations");
  fitButton_ = fit;
  ShowTips(Distribution::Boltzmann);
}

// The tips name the second parameter of the distribution shown.
void FitPanel::ShowTips(Distribution distribution) {
  if (distribution == Distribution::FirstLevels) {
    fitSecond_->setToolTip(
        "Also fit the density of the 1s2 and 1s4 levels relative to n_1 (in thousandths)");
    second_->setToolTip(
        "Start of the density of the 1s2 and 1s4 levels relative to n_1, in thousandths "
        "(1000: equal densities)");
    fitButton_->setToolTip(
        "Fit n_1 (and the 1s2/4 density ratio) to the measured branching fractions (F5)");
    return;
  }
  fitSecond_->setToolTip("Also fit the excitation temperature T_exc (K)");
  second_->setToolTip("Start or fixed value of the second parameter (T_exc in K)");
  fitButton_->setToolTip("Fit n_1 (and T_exc) to the measured branching fractions (F5)");
}

void FitPanel::Fill(const WindowFields& fields) {
  density_->setText(Qt8(fields.FitDensity));
  second_->setText(Qt8(fields.FitTemperature));
  maxIterations_->setText(Qt8(fields.MaxIter));
}

void FitPanel::Collect(WindowFields& fields) const {
  fields.FitDensity = Std(density_->text());
  fields.FitTemperature = Std(second_->text());
  fields.MaxIter = Std(maxIterations_->text());
  fields.FitTemperatureChecked = fitSecond_->isChecked();
}

void FitPanel::ShowDistribution(Distribution distribution) {
  const DistributionChoice choice = ChoiceFor(distribution);
  const bool firstLevels = distribution == Distribution::FirstLevels;
  fitSecond_->setText(firstLevels ? "Fit 1s2/4 log10 N" : "Fit T_exc (K)");
  fitSecond_->setChecked(choice.secondAlwaysFitted);
  fitSecond_->setEnabled(!choice.secondAlwaysFitted);
  ShowTips(distribution);
  if (distribution == shown_) return;
  shown_ = distribution;
  const QString start = second_->text();
  second_->setText(otherStart_);
  otherStart_ = start;
}

std::string FitPanel::TemperatureStart() const {
  return Std(shown_ == Distribution::FirstLevels ? otherStart_ : second_->text());
}

FitRequest FitPanel::Request(const WindowFields& fields, double massAmu) const {
  return FitRequestFromFields(fields, massAmu, WindowCaptions(fields));
}

std::optional<MonteCarloSettings> FitPanel::MonteCarlo() const { return monteCarlo_->Settings(); }

}  // namespace lumora
