// The "Fit" method page: the start of n_1 and of the second parameter,
// whether the second is fitted, the iteration limit, the Fit button and the
// Monte Carlo refits that follow a fit.
#pragma once

#include <QWidget>
#include <optional>

#include "frontend/uncertainty_requests.h"
#include "model/fit.h"
#include "model/model_parameters.h"
#include "settings/settings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace lumora {

class MonteCarloPanel;

class FitPanel : public QWidget {
  Q_OBJECT

 public:
  // The density of the 1s2 and 1s4 levels relative to n_1, in thousandths,
  // that a first fit under "1s levels" starts from: equal densities.
  static constexpr const char* kFirstLevelsStart = "1000";

  explicit FitPanel(QWidget* parent);

  void Fill(const WindowFields& fields);
  // Puts this page's texts and choices into fields.
  void Collect(WindowFields& fields) const;
  // The second parameter's caption, whether it may be left out and its
  // start: each distribution keeps its own, as a temperature makes no
  // density ratio.
  void ShowDistribution(Distribution distribution);
  // The start of T_exc, also while "1s levels" shows the ratio's.
  std::string TemperatureStart() const;

  // The fit of fields (this page's and the model's); a field that is no
  // number is named by its caption.
  FitRequest Request(const WindowFields& fields, double massAmu) const;
  std::optional<MonteCarloSettings> MonteCarlo() const;

 signals:
  void FitRequested();

 private:
  void ShowTips(Distribution distribution);

  QLineEdit* density_ = nullptr;
  QCheckBox* fitSecond_ = nullptr;
  QLineEdit* second_ = nullptr;
  QLineEdit* maxIterations_ = nullptr;
  QPushButton* fitButton_ = nullptr;
  MonteCarloPanel* monteCarlo_ = nullptr;
  Distribution shown_ = Distribution::Boltzmann;
  // The start of the distribution not shown.
  QString otherStart_ = kFirstLevelsStart;
};

}  // namespace lumora
