// The line analysis's input: the five numbers of its comma text, each in
// a field of its own with its caption, given back as the same comma text.
#pragma once

#include <QDialog>
#include <array>

class QLineEdit;

namespace lumora {

class TAnalysisDialog : public QDialog {
  Q_OBJECT

 public:
  // The fields filled from text, item by item ("200, 950, 1e3, 100, 50").
  TAnalysisDialog(const QString& title, const QString& text, QWidget* parent);

  // The fields joined as the comma text the command reads.
  QString Text() const;

  // From, to, minimum A, maximum E, range factor.
  std::array<QLineEdit*, 5> fields{};
};

}  // namespace lumora
