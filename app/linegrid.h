// The line table's view: a header row and one row per line of the line
// table model. Every cell can be selected and copied; only the intensity
// column can be edited, and the wavelength cell holds the check box that
// takes the line into the commands or leaves it out (an excluded row is
// greyed). The owner decides whether the cursor may move (a pending edit
// must be taken over first).
#pragma once

#include <QColor>
#include <QTableView>
#include <functional>

#include "app/line_table_model.h"

namespace lumora {

class TLineGrid : public QTableView {
  Q_OBJECT

 public:
  static constexpr int kSavedColumns = LineTableModel::kSavedColumns;
  static constexpr int kIntensityColumn = LineTableModel::kIntensityColumn;
  static constexpr int kResidualColumn = LineTableModel::kResidualColumn;
  static constexpr int kUncertaintyColumn = LineTableModel::kUncertaintyColumn;
  static constexpr int kNormalisedResidualColumn = LineTableModel::kNormalisedResidualColumn;
  static constexpr int kFlagsColumn = LineTableModel::kFlagsColumn;
  static constexpr int kSignalToNoiseColumn = LineTableModel::kSignalToNoiseColumn;
  static constexpr int kColumns = LineTableModel::kColumns;

  TLineGrid(LineTableModel* model, QWidget* parent);

  LineTableModel* Lines() const { return lines_; }
  // The cursor's line, from 0 (-1: none).
  int currentRow() const { return currentIndex().row(); }

  // Rows counted with the header as row 0, as the table shows them.
  int RowCount() const { return lines_->rowCount() + 1; }
  QString Cell(int col, int row) const;
  // Background of each row, header first.
  QColor RowColour(int row) const { return lines_->RowColour(row - 1); }
  bool RowIncluded(int row) const { return lines_->Included(row - 1); }

  // Every column as wide as its widest text and 10 pixels.
  void AlignColumns();

  // Asked before the cursor moves to (col, row); false keeps it where it is.
  std::function<bool(int col, int row)> CanSelectCell;

  // Moves the cursor as a click would; false when it was refused.
  bool SelectCell(int col, int row);
  // Types a text into a cell as the editor does.
  void TypeText(int col, int row, const QString& text);
  // Drops the typed text of a cell and shows the value in use, in its
  // editor too when one is open (a refused edit shows it again).
  void RevertCell(int col, int row);

  // The selected cells as tab-separated lines under their column headers;
  // cells inside the selection's rows and columns that are not selected
  // stay empty.
  QString SelectionText() const;

 signals:
  // The text of a cell was changed by typing.
  void EditTextChanged(int col, int row, const QString& text);
  // An editor was closed (Enter, Tab, a click elsewhere).
  void EditorClosed();

 protected:
  // Typing goes into the current cell, also right after a click that
  // would open its editor after the double-click interval.
  void keyPressEvent(QKeyEvent* event) override;
  // No type-ahead search: it moved typed digits to another line whose
  // intensity starts with the first one.
  void keyboardSearch(const QString&) override {}

 private:
  friend class TLineGridDelegate;
  friend class TLineGridSelection;
  bool MayMoveTo(const QModelIndex& index) const;

  LineTableModel* lines_;
};

}  // namespace lumora
