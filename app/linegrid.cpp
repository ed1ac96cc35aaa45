#include "app/linegrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <algorithm>

namespace lumora {

namespace {
const QColor kHeaderColour(0x19, 0x19, 0x19);
const QColor kHeaderText(0xC0, 0xC0, 0xC0);
constexpr int kRowHeight = 30;
constexpr int kDefaultColumnWidth = 50;
constexpr int kColumnPadding = 10;

// In a dark theme the white and silver blocks of rows become two dark
// shades, so that the table does not glare: the lighter the row's own
// colour, the lighter its shade.
QColor DarkShade(const QColor& row) {
  const int level =
      std::clamp(0x2A + (row.lightness() - 0xC0) * (0x3C - 0x2A) / (0xFF - 0xC0), 0x20, 0x48);
  return QColor(level, level, level);
}
}  // namespace

// Lets the owner refuse a move of the cursor.
class TLineGridSelection : public QItemSelectionModel {
 public:
  TLineGridSelection(QAbstractItemModel* model, TLineGrid* grid)
      : QItemSelectionModel(model, grid), fGrid(grid) {}

  void setCurrentIndex(const QModelIndex& index, SelectionFlags command) override {
    if (index.isValid() && index != currentIndex() && !fGrid->MayMoveTo(index)) return;
    QItemSelectionModel::setCurrentIndex(index, command);
  }

 private:
  TLineGrid* fGrid;
};

// Draws the cells in their row colour and reports every keystroke of an
// edit, so the cell text is always what the user has typed.
class TLineGridDelegate : public QStyledItemDelegate {
 public:
  explicit TLineGridDelegate(TLineGrid* grid) : QStyledItemDelegate(grid), fGrid(grid) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                        const QModelIndex& index) const override {
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    editor->setStyleSheet("QLineEdit { background: #FFFFFF; color: #000000; }");
    const QPersistentModelIndex at(index);
    TLineGrid* grid = fGrid;
    QObject::connect(editor, &QLineEdit::textEdited, grid, [grid, at](const QString& text) {
      if (at.isValid()) grid->TypeText(at.column(), at.row() + 1, text);
    });
    return editor;
  }
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    auto* line = static_cast<QLineEdit*>(editor);
    const QString text = index.data().toString();
    if (line->text() != text) line->setText(text);
  }
  void setModelData(QWidget* editor, QAbstractItemModel* model,
                    const QModelIndex& index) const override {
    const QString text = static_cast<QLineEdit*>(editor)->text();
    if (model->data(index).toString() != text) model->setData(index, text);
  }
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    painter->save();
    const bool selected = fGrid->selectionModel()->isSelected(index);
    const bool dark = fGrid->palette().color(QPalette::Base).lightness() < 128;
    const QColor row = fGrid->RowColour(index.row() + 1);
    painter->fillRect(option.rect, selected ? (dark ? QColor(0x3D, 0x6E, 0xA8)
                                                    : QColor(0xA8, 0xC8, 0xF0))
                                            : (dark ? DarkShade(row) : row));
    const QFontMetrics metrics(option.font);
    QRect textRect =
        option.rect.adjusted(metrics.horizontalAdvance('8'), metrics.height() / 2, 0, 0);
    // An excluded line's row is greyed: it takes no part in the commands.
    const bool included = fGrid->RowIncluded(index.row() + 1);
    const QColor text = dark ? fGrid->palette().color(QPalette::Text) : QColor(Qt::black);
    if (index.flags() & Qt::ItemIsUserCheckable) {
      // Drawn where the base class looks for the click that toggles it, in
      // the text's colour so that it reads on every row shade.
      QStyleOptionViewItem check = option;
      initStyleOption(&check, index);
      const QRect box = fGrid->style()
                            ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &check, fGrid)
                            .adjusted(1, 1, -1, -1);
      painter->setRenderHint(QPainter::Antialiasing);
      painter->setPen(QPen(text, 1.2));
      painter->setBrush(Qt::NoBrush);
      painter->drawRoundedRect(box, 2, 2);
      if (included) {
        painter->setPen(QPen(text, 2));
        const QPointF tick[] = {
            {box.left() + 0.22 * box.width(), box.top() + 0.52 * box.height()},
            {box.left() + 0.42 * box.width(), box.top() + 0.74 * box.height()},
            {box.left() + 0.80 * box.width(), box.top() + 0.28 * box.height()}};
        painter->drawPolyline(tick, 3);
      }
      textRect.setLeft(box.right() + metrics.horizontalAdvance('8') / 2 + 1);
    }
    painter->setPen(included ? text : QColor(0x80, 0x80, 0x80));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop, index.data().toString());
    if (index == fGrid->currentIndex()) {
      painter->setPen(QPen(QColor(0x3d, 0x6e, 0xa8), 2));
      painter->drawRect(option.rect.adjusted(1, 1, -1, -1));
    }
    painter->restore();
  }

 private:
  TLineGrid* fGrid;
};

TLineGrid::TLineGrid(LineTableModel* model, QWidget* parent)
    : QTableView(parent), lines_(model) {
  setModel(model);
  setSelectionModel(new TLineGridSelection(model, this));
  setItemDelegate(new TLineGridDelegate(this));
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(itemDelegate(), &QAbstractItemDelegate::closeEditor, this,
          [this] { emit EditorClosed(); });
  setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                  QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
  setShowGrid(true);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(kRowHeight);
  horizontalHeader()->setDefaultSectionSize(kDefaultColumnWidth);
  horizontalHeader()->setMinimumSectionSize(10);
  horizontalHeader()->setFixedHeight(kRowHeight);
  horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStyleSheet(
      "QHeaderView::section { background-color: #191919; color: #C0C0C0; "
      "border: 0px; border-right: 1px solid #404040; padding-left: 6px; }");
  // The room below the last row takes the theme's base colour.
  setStyleSheet("QTableView { gridline-color: #808080; }");
}

void TLineGrid::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool printable = !text.isEmpty() && text.at(0).isPrint() &&
                         !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
  if (printable && state() != EditingState && currentIndex().isValid()) {
    if (edit(currentIndex(), AnyKeyPressed, event)) return;
    // A click on the selected cell holds its editor back for the double-click
    // interval and refuses the key meanwhile: open the editor now and give
    // it the key.
    if (edit(currentIndex(), DoubleClicked, nullptr)) {
      if (QWidget* editor = QApplication::focusWidget(); editor && editor != this) {
        if (auto* line = qobject_cast<QLineEdit*>(editor)) line->selectAll();
        QCoreApplication::sendEvent(editor, event);
      }
      return;
    }
  }
  QTableView::keyPressEvent(event);
}

QString TLineGrid::Cell(int col, int row) const {
  if (col < 0 || col >= kColumns || row < 0 || row >= RowCount()) return {};
  return row == 0 ? LineTableModel::HeaderText(col) : lines_->Text(row - 1, col);
}

void TLineGrid::AlignColumns() {
  const QFontMetrics metrics(font());
  for (int col = 0; col < kColumns; ++col) {
    int widest = 0;
    for (int row = 0; row < RowCount(); ++row)
      widest = std::max(widest, metrics.horizontalAdvance(Cell(col, row)));
    // The check box and its gap before the wavelength.
    if (col == 0) widest += style()->pixelMetric(QStyle::PM_IndicatorWidth) + 12;
    setColumnWidth(col, widest + kColumnPadding);
  }
}

bool TLineGrid::MayMoveTo(const QModelIndex& index) const {
  return !CanSelectCell || CanSelectCell(index.column(), index.row() + 1);
}

bool TLineGrid::SelectCell(int col, int row) {
  if (row < 1 || row >= RowCount()) return false;
  const QModelIndex index = model()->index(row - 1, col);
  selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  return currentIndex() == index;
}

void TLineGrid::TypeText(int col, int row, const QString& text) {
  if (row < 1 || row >= RowCount()) return;
  lines_->SetTyped(row - 1, col, text);
  emit EditTextChanged(col, row, text);
}

}  // namespace lumora

namespace lumora {

void TLineGrid::RevertCell(int col, int row) {
  lines_->ClearTyped();
  if (row < 1 || row >= RowCount()) return;
  const QString text = Cell(col, row);
  // The open editor (if any) is the focused line edit inside the table.
  if (auto* editor = qobject_cast<QLineEdit*>(indexWidget(model()->index(row - 1, col))))
    editor->setText(text);
  else if (auto* focused = qobject_cast<QLineEdit*>(QApplication::focusWidget());
           focused && viewport()->isAncestorOf(focused) &&
           currentIndex() == model()->index(row - 1, col))
    focused->setText(text);
}

QString TLineGrid::SelectionText() const {
  const QModelIndexList cells = selectionModel()->selectedIndexes();
  if (cells.isEmpty()) return {};
  std::vector<int> rows, cols;
  for (const QModelIndex& i : cells) {
    rows.push_back(i.row());
    cols.push_back(i.column());
  }
  for (auto* v : {&rows, &cols}) {
    std::sort(v->begin(), v->end());
    v->erase(std::unique(v->begin(), v->end()), v->end());
  }
  QStringList lines;
  QStringList header;
  for (int c : cols) header << Cell(c, 0);
  lines << header.join('\t');
  for (int r : rows) {
    QStringList cellsOfRow;
    for (int c : cols)
      cellsOfRow << (selectionModel()->isSelected(model()->index(r, c)) ? Cell(c, r + 1)
                                                                        : QString());
    lines << cellsOfRow.join('\t');
  }
  return lines.join('\n') + '\n';
}

}  // namespace lumora
