// The "Monte Carlo" group of the fit page: how many refits follow a fit,
// the noise they add, whether the Aki accuracy grades perturb the
// transition probabilities, and the seed.
#pragma once

#include <QGroupBox>
#include <optional>

#include "frontend/uncertainty_requests.h"

class QCheckBox;
class QLineEdit;

namespace lumora {

class MonteCarloPanel : public QGroupBox {
  Q_OBJECT

 public:
  explicit MonteCarloPanel(QWidget* parent);

  // The refits the fields ask for; nothing for no runs. A seed field left
  // empty draws a seed; a seed that is no whole number raises Error.
  std::optional<MonteCarloSettings> Settings() const;

 private:
  QLineEdit* runs_ = nullptr;
  QLineEdit* noise_ = nullptr;
  QCheckBox* akiAccuracy_ = nullptr;
  QLineEdit* seed_ = nullptr;
};

}  // namespace lumora
