// The line table's controller: takes what the user does in the table (typed
// intensities, check boxes, Ctrl+Z on an edit) into the session through its
// undoable edits, recalculates, and keeps the view's columns fitting what
// the model shows. The window hears of every change of the lines'
// values through LinesEdited, and of refusals through StatusMessage.
#pragma once

#include <QObject>
#include <QString>

#include "app/line_table_model.h"
#include "model/session.h"

namespace lumora {

class TLineGrid;

class LineTableController : public QObject {
  Q_OBJECT

 public:
  LineTableController(Session& session, QWidget* parent);

  TLineGrid* Grid() const { return grid_; }
  LineTableModel* Model() const { return model_; }

  // The session's lines were replaced: shown anew, without results.
  void ShowNewLines();
  // What the table shows of results; the columns follow.
  void Show(const LineTableModel::Shown& shown);
  // The u(I) column as the uncertainty choice states it.
  void ShowUncertaintyChoice(const IntensityUncertainty& choice);

  // Takes a typed intensity into its line and recalculates. A text that is
  // no number, or a value the recalculation refuses, leaves the line as it
  // was; the cell shows its value again and the status bar says why.
  // False when refused.
  bool TakeOverEdit();
  // Takes back the latest edit of a line (not a replacement of the lines)
  // and recalculates.
  void UndoEdit();
  void CopySelection() const;

 signals:
  // An edit was taken, or taken back: the lines' values and fractions
  // changed, fitted values no longer belong to them.
  void LinesEdited();
  void StatusMessage(const QString& text);

 private:
  void OnInclusionRequested(int line, bool included);
  void RecalculateIfEnough();
  void FitColumns();

  Session& session_;
  LineTableModel* model_;
  TLineGrid* grid_;
};

}  // namespace lumora
