// The line table as a Qt model over the session's lines: every cell is read
// from the session when it is drawn, so the table shows what the commands
// see. The model holds no value of its own but the text the user is typing
// into an intensity until the window takes it over, and what the window
// chose to show of the results (the fractions after a recalculation, the
// fitted values and residuals while they belong to the lines shown).
// Ticking a row's check box asks the window to take the line in or leave it
// out (InclusionRequested); the session decides.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <optional>
#include <vector>

#include "model/fraction_weights.h"
#include "model/session.h"

namespace lumora {

class LineTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // The nine columns the saved table holds, then the window's own: the
  // residual of each line (measured minus fitted fraction), the intensity's
  // standard uncertainty, the residual in units of the measured fraction's
  // uncertainty, and a recording's flags and signal-to-noise ratio.
  static constexpr int kSavedColumns = 9;
  static constexpr int kIntensityColumn = 1;
  static constexpr int kUpperEnergyColumn = 5;
  static constexpr int kResidualColumn = 9;
  static constexpr int kUncertaintyColumn = 10;
  static constexpr int kNormalisedResidualColumn = 11;
  static constexpr int kFlagsColumn = 12;
  static constexpr int kSignalToNoiseColumn = 13;
  static constexpr int kColumns = 14;

  // What the table shows besides the lines' own values.
  struct Shown {
    bool fractions = false;  // "BF free" and "BF meas", after a recalculation
    bool fitted = false;     // "BF fit": a fit, map or analysis ran on these lines
    bool measured = true;    // false for a line analysis: no residuals
    IntensityUncertainty choice;        // of the "u(I)" column
    IntensityUncertainty fitWeighting;  // of "Residual/u"; unweighted: none
  };

  explicit LineTableModel(const Session& session, QObject* parent = nullptr);

  // The session's lines were replaced: the table shows them anew, without
  // results and without a typed text.
  void Reload();
  // The lines' values changed in place (a recalculation, an edit, a fit).
  void Refresh();
  void SetShown(const Shown& shown);
  const Shown& CurrentShown() const { return shown_; }

  // While a command works on the session on another thread, the table shows
  // a copy of the lines as the command found them; Thaw reads the session
  // again.
  void Freeze();
  void Thaw();

  // The text typed into a cell, shown until TakeTyped or ClearTyped.
  void SetTyped(int line, int column, const QString& text);
  struct Typed {
    int line = 0;
    int column = 0;
    QString text;
  };
  std::optional<Typed> TakeTyped();
  void ClearTyped();

  // The cell texts, the header's by HeaderText.
  QString Text(int line, int column) const;
  static QString HeaderText(int column);
  QColor RowColour(int line) const;  // the header's for -1
  bool Included(int line) const;
  // The lines came from a spectrum: their flags and signal-to-noise show.
  bool FromSpectrum() const;
  bool Normalised() const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 signals:
  void InclusionRequested(int line, bool included);

 private:
  void Derive();
  const std::vector<TLineRecord>& Lines() const;
  const TLineRecord& Line(int line) const { return Lines()[static_cast<size_t>(line)]; }
  const std::vector<LineIntegral>* Integrals() const;

  const Session& session_;
  struct Frozen {
    std::vector<TLineRecord> lines;
    std::optional<std::vector<LineIntegral>> integrals;
  };
  std::optional<Frozen> frozen_;
  Shown shown_;
  std::optional<Typed> typed_;
  // Derived from the session on each refresh, for drawing.
  std::vector<QColor> rowColours_;
  std::vector<double> fitUncertainties_;  // of each measured fraction, weighted fits
};

}  // namespace lumora
