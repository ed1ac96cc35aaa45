// The line table: a header row and one row per line. Every cell can be
// selected and copied; only the intensity column can be edited. The owner
// decides whether the cursor may move (a pending edit must be taken over
// first).
#pragma once

#include <QColor>
#include <QTableWidget>
#include <functional>
#include <vector>

namespace lumora {

class TLineGrid : public QTableWidget {
  Q_OBJECT

 public:
  // The nine columns the saved table holds, then the window's own: the
  // residual of each line (measured minus fitted fraction). Further
  // columns per line (an uncertainty, a normalised residual) go after it.
  static constexpr int kSavedColumns = 9;
  static constexpr int kResidualColumn = 9;
  static constexpr int kColumns = 10;
  static constexpr int kIntensityColumn = 1;

  explicit TLineGrid(QWidget* parent);

  // Rows counted with the header as row 0, as the table shows them.
  int RowCount() const { return rowCount() + 1; }
  void SetRowCount(int rows);  // at least 1: the header
  QString Cell(int col, int row) const;
  void SetCell(int col, int row, const QString& text);

  // Background of each row, header first.
  void SetRowColours(const std::vector<QColor>& colours);
  QColor RowColour(int row) const;

  // Every column as wide as its widest text and 10 pixels.
  void AlignColumns();

  // Asked before the cursor moves to (col, row); false keeps it where it is.
  std::function<bool(int col, int row)> CanSelectCell;

  // Moves the cursor as a click would; false when it was refused.
  bool SelectCell(int col, int row);
  // Types a text into a cell as the editor does.
  void TypeText(int col, int row, const QString& text);
  // Shows text in a cell and in its editor when one is open, without
  // counting as typing (a refused edit shows the value in use again).
  void RevertCell(int col, int row, const QString& text);

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

  std::vector<QColor> fRowColours;
};

}  // namespace lumora
