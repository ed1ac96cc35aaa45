// The "Map" method page: the density and temperature ranges of the residual
// map with their point counts, the "Create map" button and "Save map".
#pragma once

#include <QWidget>

#include "model/residual_map.h"
#include "settings/settings.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace lumora {

class MapPanel : public QWidget {
  Q_OBJECT

 public:
  explicit MapPanel(QWidget* parent);

  void Fill(const WindowFields& fields);
  void Collect(WindowFields& fields) const;
  bool SaveRequested() const;
  // The second axis's caption and hints follow the distribution.
  void ShowDistribution(Distribution distribution);

  // The map of fields (this page's and the model's); the grid alone for
  // the chart's range before any map. A field that is no number is named
  // by its caption.
  MapRequest Request(const WindowFields& fields, double massAmu) const;
  MapRequest Grid(const WindowFields& fields) const;

 signals:
  void MapRequested();

 private:
  // From, To and Points of one quantity.
  struct Range {
    QLineEdit* from = nullptr;
    QLineEdit* to = nullptr;
    QLineEdit* points = nullptr;
  };
  Range density_;
  Range temperature_;
  QLabel* secondCaption_ = nullptr;
  QCheckBox* save_ = nullptr;
};

}  // namespace lumora
