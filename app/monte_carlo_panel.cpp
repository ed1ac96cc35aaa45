#include "app/monte_carlo_panel.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLineEdit>

#include "app/number_field.h"
#include "app/qt_text.h"
#include "base/errors.h"
#include "base/numparse.h"

namespace lumora {

MonteCarloPanel::MonteCarloPanel(QWidget* parent) : QGroupBox("Monte Carlo", parent) {
  setObjectName("MonteCarloGroup");
  auto* form = new QFormLayout(this);
  // These may stay empty, so leaving them is never refused.
  const auto field = [this](const char* name) { return TextField(this, name); };
  runs_ = field("MonteCarloRunsEdit");
  form->addRow("Runs", runs_);
  noise_ = field("MonteCarloNoiseEdit");
  form->addRow("Noise", noise_);
  akiAccuracy_ = new QCheckBox("Aki accuracy", this);
  akiAccuracy_->setObjectName("AkiAccuracyCheckBox");
  form->addRow(akiAccuracy_);
  seed_ = field("MonteCarloSeedEdit");
  seed_->setPlaceholderText("drawn");
  form->addRow("Seed", seed_);

  setToolTip("Refits of perturbed copies of the lines after each fit");
  runs_->setToolTip(
      "Number of Monte Carlo refits after the fit (10 to 100000); "
      "0 or empty: none");
  noise_->setToolTip(
      "Relative standard deviation of the noise put on each intensity "
      "(0.02 is 2 %), which then weights the fit; with an uncertainty u(I) chosen "
      "beside the table, the refits draw each intensity with that instead");
  akiAccuracy_->setToolTip(
      "Also scale each Aki by its accuracy grade's uncertainty "
      "(a line without a grade counts as E)");
  seed_->setToolTip(
      "Seed of the random draws, to repeat a run; empty: drawn and "
      "shown in the report");
}

std::optional<MonteCarloSettings> MonteCarloPanel::Settings() const {
  const std::string runs = Trim(Std(runs_->text()));
  if (runs.empty() || runs == "0") return std::nullopt;
  // A text that is no number is named by its field.
  const auto named = [](const char* caption, auto parse) {
    try {
      return parse();
    } catch (const ConvertError& e) {
      throw ConvertError(std::string(caption) + ": " + e.what());
    }
  };
  MonteCarloSettings settings;
  settings.runs = named("Monte Carlo runs", [&runs] { return StrToInt(runs); });
  const std::string noise = Trim(Std(noise_->text()));
  settings.noise =
      noise.empty() ? 0 : named("Monte Carlo noise", [&noise] { return StrToFloat(noise); });
  settings.akiAccuracy = akiAccuracy_->isChecked();
  const std::string seed = Trim(Std(seed_->text()));
  if (seed.empty()) {
    settings.seed = DrawSeed();
  } else {
    const std::optional<uint64_t> typed = ParseSeed(seed);
    if (!typed)
      throw Error("The Monte Carlo seed must be a whole number of 0 or more, not \"" + seed +
                  "\".");
    settings.seed = *typed;
  }
  return settings;
}

}  // namespace lumora
