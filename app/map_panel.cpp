#include "app/map_panel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>

#include "app/number_field.h"
#include "app/qt_text.h"
#include "app/readouts.h"
#include "frontend/field_requests.h"

namespace lumora {

MapPanel::MapPanel(QWidget* parent) : QWidget(parent) {
  setObjectName("MapPage");
  auto* grid = new QGridLayout(this);
  // A caption over the From, To and Points fields of one quantity.
  QLabel* lastCaption = nullptr;
  const auto addRange = [this, grid, &lastCaption](int row, const QString& caption,
                                                   const std::array<const char*, 3>& names) {
    lastCaption = new QLabel(caption, this);
    grid->addWidget(lastCaption, row, 0, 1, 3);
    const char* const headings[3] = {"From", "To", "Points"};
    Range range;
    QLineEdit** fields[3] = {&range.from, &range.to, &range.points};
    for (int col = 0; col < 3; ++col) {
      grid->addWidget(new QLabel(headings[col], this), row + 1, col);
      *fields[col] =
          NumberField(this, names[col], col == 2 ? NumberKind::Count : NumberKind::Positive);
      grid->addWidget(*fields[col], row + 2, col);
    }
    return range;
  };
  density_ =
      addRange(0, "Density n_1 (m-3)", {"FromDensityEdit", "ToDensityEdit", "PointsDensityEdit"});
  temperature_ = addRange(3, SecondParameterAxis(Distribution::Boltzmann),
                          {"FromTempEdit", "ToTempEdit", "PointsTempEdit"});
  secondCaption_ = lastCaption;
  secondCaption_->setObjectName("MapSecondLabel");
  auto* map = new QPushButton("Create map", this);
  map->setObjectName("MapBtn");
  save_ = new QCheckBox("Save map", this);
  save_->setObjectName("SaveMapCheckBox");
  grid->addWidget(map, 6, 0);
  grid->addWidget(save_, 6, 1, 1, 2);
  connect(map, &QPushButton::clicked, this, &MapPanel::MapRequested);

  density_.from->setToolTip("First density n_1 of the map, in m^-3");
  density_.to->setToolTip(
      "End of the map's density range, in m^-3: the grid steps (To - From) / Points in log10, "
      "so its last point lies one step below To");
  density_.points->setToolTip("Number of density points of the map");
  ShowDistribution(Distribution::Boltzmann);
  map->setToolTip("Residual sum of squares over the density-temperature grid (F6)");
  save_->setToolTip("Write the map to the Maps folder beside the measurement");
}

void MapPanel::Fill(const WindowFields& fields) {
  density_.from->setText(Qt8(fields.FromDensity));
  density_.to->setText(Qt8(fields.ToDensity));
  density_.points->setText(Qt8(fields.DensityPoints));
  temperature_.from->setText(Qt8(fields.FromTemperature));
  temperature_.to->setText(Qt8(fields.ToTemperature));
  temperature_.points->setText(Qt8(fields.TemperaturePoints));
}

void MapPanel::Collect(WindowFields& fields) const {
  fields.FromDensity = Std(density_.from->text());
  fields.ToDensity = Std(density_.to->text());
  fields.DensityPoints = Std(density_.points->text());
  fields.FromTemperature = Std(temperature_.from->text());
  fields.ToTemperature = Std(temperature_.to->text());
  fields.TemperaturePoints = Std(temperature_.points->text());
}

bool MapPanel::SaveRequested() const { return save_->isChecked(); }

void MapPanel::ShowDistribution(Distribution distribution) {
  secondCaption_->setText(SecondParameterAxis(distribution));
  if (distribution == Distribution::FirstLevels) {
    temperature_.from->setToolTip(
        "First density of the 1s2 and 1s4 levels relative to n_1 of the map, in thousandths");
    temperature_.to->setToolTip(
        "End of the map's 1s2/4 relative density range, in thousandths: the last point lies one "
        "step, (To - From) / Points, below To");
    temperature_.points->setToolTip("Number of 1s2/4 density points of the map");
  } else {
    temperature_.from->setToolTip("First excitation temperature of the map, in K");
    temperature_.to->setToolTip(
        "End of the map's temperature range, in K: the last point lies one step, "
        "(To - From) / Points, below To");
    temperature_.points->setToolTip("Number of temperature points of the map");
  }
}

MapRequest MapPanel::Request(const WindowFields& fields, double massAmu) const {
  return MapRequestFromFields(fields, massAmu, WindowCaptions(fields));
}

MapRequest MapPanel::Grid(const WindowFields& fields) const {
  return MapGridFromFields(fields, WindowCaptions(fields));
}

}  // namespace lumora
