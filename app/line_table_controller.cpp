#include "app/line_table_controller.h"

#include <QApplication>
#include <QClipboard>

#include "app/linegrid.h"
#include "app/qt_text.h"
#include "base/errors.h"
#include "base/numparse.h"

namespace lumora {

LineTableController::LineTableController(Session& session, QWidget* parent)
    : QObject(parent),
      session_(session),
      model_(new LineTableModel(session, this)),
      grid_(new TLineGrid(model_, parent)) {
  grid_->setObjectName("StringGrid1");
  connect(model_, &LineTableModel::InclusionRequested, this,
          &LineTableController::OnInclusionRequested);
  connect(grid_, &TLineGrid::EditorClosed, this, [this] { TakeOverEdit(); });
  grid_->CanSelectCell = [this](int, int) { return TakeOverEdit(); };
  FitColumns();
}

void LineTableController::ShowNewLines() {
  model_->Reload();
  FitColumns();
}

void LineTableController::Show(const LineTableModel::Shown& shown) {
  model_->SetShown(shown);
  FitColumns();
}

void LineTableController::ShowUncertaintyChoice(const IntensityUncertainty& choice) {
  LineTableModel::Shown shown = model_->CurrentShown();
  shown.choice = choice;
  Show(shown);
}

void LineTableController::FitColumns() {
  grid_->setColumnHidden(TLineGrid::kUncertaintyColumn,
                         !model_->CurrentShown().choice.Weighted());
  grid_->setColumnHidden(TLineGrid::kNormalisedResidualColumn, !model_->Normalised());
  grid_->setColumnHidden(TLineGrid::kFlagsColumn, !model_->FromSpectrum());
  grid_->setColumnHidden(TLineGrid::kSignalToNoiseColumn, !model_->FromSpectrum());
  grid_->AlignColumns();
}

void LineTableController::RecalculateIfEnough() {
  if (session_.HasEnoughLines()) session_.Recalculate();
}

bool LineTableController::TakeOverEdit() {
  const std::optional<LineTableModel::Typed> typed = model_->TakeTyped();
  if (!typed || typed->line >= static_cast<int>(session_.Table().lines.size())) return true;
  const size_t line = static_cast<size_t>(typed->line);
  const int row = typed->line + 1;
  QString refusal;
  try {
    session_.EditIntensity(line, StrToFloat(Std(typed->text)));
    try {
      session_.Recalculate();
    } catch (...) {
      session_.Undo();
      throw;
    }
  } catch (const std::exception& e) {
    refusal = Qt8(e.what());
  }
  grid_->RevertCell(typed->column, row);
  if (!refusal.isEmpty()) {
    emit StatusMessage(QString("Intensity \"%1\" of the line %2 nm refused: %3 The line keeps %4.")
                           .arg(typed->text, grid_->Cell(0, row), refusal.trimmed(),
                                grid_->Cell(typed->column, row)));
    return false;
  }
  emit StatusMessage(QString());
  emit LinesEdited();
  return true;
}

void LineTableController::UndoEdit() {
  model_->ClearTyped();
  if (session_.NextUndo() != LineHistory::Step::Edit) return;
  session_.Undo();
  RecalculateIfEnough();
  emit LinesEdited();
}

void LineTableController::CopySelection() const {
  const QString text = grid_->SelectionText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

// Takes the line into the commands or leaves it out and recalculates; a
// choice that leaves fewer than two lines, or takes in a line whose
// intensity is no light, is refused and the box shows the line as it is.
void LineTableController::OnInclusionRequested(int row, bool included) {
  if (row < 0 || row >= static_cast<int>(session_.Table().lines.size())) return;
  const size_t line = static_cast<size_t>(row);
  TakeOverEdit();
  const QString wavelength = grid_->Cell(0, row + 1);
  try {
    session_.EditLineIncluded(line, included);
    if (!session_.HasEnoughLines()) {
      session_.Undo();
      throw Error("the branching fractions need at least two included lines.");
    }
    session_.Recalculate();
  } catch (const std::exception& e) {
    model_->Refresh();
    emit StatusMessage(QString("The line %1 nm stays %2: %3")
                           .arg(wavelength, included ? "excluded" : "included",
                                Qt8(e.what()).trimmed()));
    return;
  }
  emit LinesEdited();
  emit StatusMessage(QString("The line %1 nm is %2 fit, map and Monte Carlo.")
                         .arg(wavelength, included ? "taken into" : "left out of"));
}

}  // namespace lumora
