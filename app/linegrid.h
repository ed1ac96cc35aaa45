// The line table: a header row and one row per line. Every cell can be
// selected and copied; only the intensity column can be edited, and the
// wavelength cell holds the check box that takes the line into the
// commands or leaves it out (an excluded row is greyed). The owner decides
// whether the cursor may move (a pending edit must be taken over first).
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
  // residual of each line (measured minus fitted fraction), the intensity's
  // standard uncertainty, the residual in units of the measured fraction's
  // uncertainty, and a recording's flags and signal-to-noise ratio.
  static constexpr int kSavedColumns = 9;
  static constexpr int kIntensityColumn = 1;
  static constexpr int kResidualColumn = 9;
  static constexpr int kUncertaintyColumn = 10;
  static constexpr int kNormalisedResidualColumn = 11;
  static constexpr int kFlagsColumn = 12;
  static constexpr int kSignalToNoiseColumn = 13;
  static constexpr int kColumns = 14;

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

  // The check box of a row: whether its line takes part in the commands.
  // Setting it does not emit InclusionToggled.
  void SetRowIncluded(int row, bool included);
  bool RowIncluded(int row) const;

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
  // The user ticked or cleared the check box of a row.
  void InclusionToggled(int row, bool included);

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
  bool settingInclusion_ = false;

  std::vector<QColor> fRowColours;
};

}  // namespace lumora
