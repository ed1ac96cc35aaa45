// Where the intensities' standard uncertainties come from: none, the
// measurement's third column, a fraction of each intensity, or the square
// root of each intensity taken as a photon count. The choice weights the
// fits and sets the table's uncertainty column and the error bars.
#pragma once

#include <QWidget>

#include "model/fraction_weights.h"

class QComboBox;
class QLineEdit;

namespace lumora {

class UncertaintyChoice : public QWidget {
  Q_OBJECT

 public:
  explicit UncertaintyChoice(QWidget* parent);

  // The choice; a relative uncertainty that is no number above 0 raises
  // Error naming the field.
  IntensityUncertainty Choice() const;
  // The choice as far as the fields make sense (none otherwise), for views.
  IntensityUncertainty ShownChoice() const;

 signals:
  void Changed();

 private:
  QComboBox* source_ = nullptr;
  QLineEdit* relative_ = nullptr;
};

}  // namespace lumora
