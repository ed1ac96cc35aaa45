// The "Model" group: absorption path, gas temperature, the distribution of
// the upper levels and how many levels it spans.
#pragma once

#include <QGroupBox>

#include "model/model_parameters.h"
#include "settings/settings.h"

class QComboBox;
class QLineEdit;

namespace lumora {

class ModelPanel : public QGroupBox {
  Q_OBJECT

 public:
  explicit ModelPanel(QWidget* parent);

  void Fill(const WindowFields& fields);
  void Collect(WindowFields& fields) const;
  Distribution CurrentDistribution() const;
  void SetLevelCount(int count);

 signals:
  void DistributionChosen(Distribution distribution);

 private:
  QLineEdit* path_ = nullptr;
  QLineEdit* gasTemperature_ = nullptr;
  QComboBox* distribution_ = nullptr;
  QLineEdit* levelCount_ = nullptr;
};

}  // namespace lumora
