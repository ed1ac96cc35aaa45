#include "app/line_table_model.h"

#include <algorithm>

#include "app/qt_text.h"
#include "model/table_text.h"

namespace lumora {

namespace {
const QColor kHeaderRow(0x19, 0x19, 0x19);
const QColor kWhiteRow(0xFF, 0xFF, 0xFF);
const QColor kSilverRow(0xC0, 0xC0, 0xC0);

std::vector<double> FractionUncertainties(const std::vector<TLineRecord>& lines,
                                          const IntensityUncertainty& uncertainty) {
  std::vector<double> sigmas;
  for (const TLineRecord& line : lines) sigmas.push_back(LineIntensityUncertainty(line, uncertainty));
  return MeasuredFractionUncertainties(lines, sigmas);
}
}  // namespace

LineTableModel::LineTableModel(const Session& session, QObject* parent)
    : QAbstractTableModel(parent), session_(session) {}

void LineTableModel::Reload() {
  beginResetModel();
  shown_.fractions = false;
  shown_.fitted = false;
  shown_.measured = true;
  shown_.fitWeighting = {};
  typed_.reset();
  Derive();
  endResetModel();
}

void LineTableModel::Refresh() {
  Derive();
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, kColumns - 1));
}

void LineTableModel::SetShown(const Shown& shown) {
  shown_ = shown;
  Refresh();
}

// Blocks of rows with the same upper energy, white and silver in turn; and
// the measured fractions' uncertainties the weighted fit shown used.
void LineTableModel::Derive() {
  const int rows = rowCount();
  rowColours_.assign(rows, kWhiteRow);
  for (int r = 1; r < rows; ++r)
    rowColours_[r] = Text(r, kUpperEnergyColumn) == Text(r - 1, kUpperEnergyColumn)
                         ? rowColours_[r - 1]
                         : (rowColours_[r - 1] == kWhiteRow ? kSilverRow : kWhiteRow);
  fitUncertainties_ = Normalised()
                          ? FractionUncertainties(Lines(), shown_.fitWeighting)
                          : std::vector<double>();
}

bool LineTableModel::Normalised() const {
  return shown_.fitted && shown_.measured && shown_.fitWeighting.Weighted();
}

void LineTableModel::SetTyped(int line, int column, const QString& text) {
  typed_ = Typed{line, column, text};
  const QModelIndex at = index(line, column);
  emit dataChanged(at, at);
}

std::optional<LineTableModel::Typed> LineTableModel::TakeTyped() {
  std::optional<Typed> typed = std::move(typed_);
  typed_.reset();
  return typed;
}

void LineTableModel::ClearTyped() {
  if (!typed_) return;
  const QModelIndex at = index(typed_->line, typed_->column);
  typed_.reset();
  emit dataChanged(at, at);
}

void LineTableModel::Freeze() {
  Frozen frozen{session_.Table().lines, std::nullopt};
  if (const std::vector<LineIntegral>* integrals = Integrals()) frozen.integrals = *integrals;
  frozen_ = std::move(frozen);
}

void LineTableModel::Thaw() {
  if (!frozen_) return;
  const bool sameRows = frozen_->lines.size() == session_.Table().lines.size();
  if (!sameRows) beginResetModel();
  frozen_.reset();
  Derive();
  if (sameRows)
    Refresh();
  else
    endResetModel();
}

const std::vector<TLineRecord>& LineTableModel::Lines() const {
  return frozen_ ? frozen_->lines : session_.Table().lines;
}

// The integration's lines when the lines shown came from a spectrum.
const std::vector<LineIntegral>* LineTableModel::Integrals() const {
  if (frozen_) return frozen_->integrals ? &*frozen_->integrals : nullptr;
  if (!session_.LinesFromSpectrum()) return nullptr;
  return &session_.Integration()->lines;
}

bool LineTableModel::FromSpectrum() const { return Integrals() != nullptr; }

QString LineTableModel::HeaderText(int column) {
  static const LineTableRow saved = LineTableHeader();
  if (column >= 0 && column < kSavedColumns) return Qt8(saved[column]);
  switch (column) {
    case kResidualColumn: return "Residual";
    case kUncertaintyColumn: return "u(I)";
    case kNormalisedResidualColumn: return "Residual/u";
    case kFlagsColumn: return "Flags";
    case kSignalToNoiseColumn: return "S/N";
    default: return {};
  }
}

QString LineTableModel::Text(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0 || column >= kColumns) return {};
  if (typed_ && typed_->line == row && typed_->column == column) return typed_->text;
  const TLineRecord& line = Line(row);
  if (column < kSavedColumns) {
    if (column >= 2 && column <= 4 && (!shown_.fractions || (column == 4 && !shown_.fitted)))
      return {};
    return Qt8(LineTableCells(line, column >= 2 && column <= 4)[column]);
  }
  // How far the fit misses each measured fraction; a line analysis has no
  // measurement to miss.
  const bool residual = shown_.fitted && shown_.measured && !line.Excluded;
  switch (column) {
    case kResidualColumn:
      return residual ? QString::asprintf("%+.4f", line.G_m - line.G_f) : QString();
    case kUncertaintyColumn: {
      const double u = LineIntensityUncertainty(line, shown_.choice);
      return u > 0 ? QString::number(u, 'g', 4) : QString();
    }
    case kNormalisedResidualColumn: {
      const size_t k = static_cast<size_t>(row);
      const bool withU = residual && k < fitUncertainties_.size() && fitUncertainties_[k] > 0;
      return withU ? QString::asprintf("%+.2f", (line.G_m - line.G_f) / fitUncertainties_[k])
                   : QString();
    }
    default:
      break;
  }
  // A recording's lines with what the integration found of them.
  if (!FromSpectrum()) return {};
  const std::vector<LineIntegral>& integrals = *Integrals();
  const auto integral =
      std::find_if(integrals.begin(), integrals.end(), [&line](const LineIntegral& l) {
        return l.line.WaveLength == line.AR.WaveLength;
      });
  if (integral == integrals.end()) return {};
  return column == kFlagsColumn ? Qt8(LineFlagText(integral->flags))
                                : QString::asprintf("%.1f", integral->snr);
}

QColor LineTableModel::RowColour(int line) const {
  if (line >= 0 && line < static_cast<int>(rowColours_.size())) return rowColours_[line];
  return line < 0 ? kHeaderRow : kWhiteRow;
}

bool LineTableModel::Included(int line) const {
  return line < 0 || line >= rowCount() || !Line(line).Excluded;
}

int LineTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Lines().size());
}

int LineTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QVariant LineTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role == Qt::DisplayRole || role == Qt::EditRole) return Text(index.row(), index.column());
  if (role == Qt::CheckStateRole && index.column() == 0)
    return Included(index.row()) ? Qt::Checked : Qt::Unchecked;
  return {};
}

QVariant LineTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return HeaderText(section);
  return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags LineTableModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kIntensityColumn) flags |= Qt::ItemIsEditable;
  if (index.column() == 0) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

// The check box asks; the editor's text is the typed text, taken over by
// the window when the editor closes.
bool LineTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid()) return false;
  if (role == Qt::CheckStateRole && index.column() == 0) {
    emit InclusionRequested(index.row(),
                            static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked);
    return true;
  }
  if (role == Qt::EditRole && index.column() == kIntensityColumn) {
    if (value.toString() != Text(index.row(), index.column()))
      SetTyped(index.row(), index.column(), value.toString());
    return true;
  }
  return false;
}

}  // namespace lumora
