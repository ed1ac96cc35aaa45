#include "app/model_panel.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>

#include "app/number_field.h"
#include "app/qt_text.h"

namespace lumora {

ModelPanel::ModelPanel(QWidget* parent) : QGroupBox("Model", parent) {
  setObjectName("ModelGroup");
  auto* form = new QFormLayout(this);
  path_ = NumberField(this, "PathEdit", NumberKind::Positive);
  form->addRow("Abs. path (m)", path_);
  gasTemperature_ = NumberField(this, "TnEdit", NumberKind::Positive);
  form->addRow("Gas Tn (K)", gasTemperature_);
  distribution_ = new QComboBox(this);
  distribution_->setObjectName("DistributionComboBox");
  distribution_->addItems({"Boltzmann", "1s levels"});
  form->addRow("Distribution", distribution_);
  levelCount_ = NumberField(this, "BoltzCountEdit", NumberKind::Count);
  form->addRow("Count", levelCount_);
  setMaximumWidth(300);
  path_->setToolTip("Absorption path length, in m");
  gasTemperature_->setToolTip("Gas temperature Tn, in K (Doppler width)");
  distribution_->setToolTip("Population of the lower levels: Boltzmann, or the four 1s levels");
  levelCount_->setToolTip("Number of lower levels the distribution populates");
  connect(distribution_, &QComboBox::currentIndexChanged, this,
          [this] { emit DistributionChosen(CurrentDistribution()); });
}

void ModelPanel::Fill(const WindowFields& fields) {
  gasTemperature_->setText(Qt8(fields.Tn));
  path_->setText(Qt8(fields.Path));
  levelCount_->setText(Qt8(fields.Count));
}

void ModelPanel::Collect(WindowFields& fields) const {
  fields.Tn = Std(gasTemperature_->text());
  fields.Path = Std(path_->text());
  fields.Count = Std(levelCount_->text());
  fields.Distribution = distribution_->currentIndex();
}

Distribution ModelPanel::CurrentDistribution() const {
  return static_cast<Distribution>(distribution_->currentIndex());
}

void ModelPanel::SetLevelCount(int count) { levelCount_->setText(QString::number(count)); }

}  // namespace lumora
