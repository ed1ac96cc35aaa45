#include "app/number_field.h"

#include <QEvent>
#include <QFocusEvent>
#include <QLineEdit>

#include "app/qt_text.h"
#include "base/numparse.h"

namespace lumora {

namespace {

bool Acceptable(const QString& text, NumberKind kind) {
  const std::string typed = Trim(Std(text));
  if (kind == NumberKind::Count) {
    int32_t value = 0;
    return TryParseInt(typed, value) && value >= 1;
  }
  double value = 0;
  return TryParseReal(typed, value) && value > 0;
}

class LeaveCheck : public QObject {
 public:
  LeaveCheck(QLineEdit* field, NumberKind kind) : QObject(field), kind_(kind) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusOut) {
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      // Switching windows or opening a popup is not leaving the field.
      auto* field = static_cast<QLineEdit*>(watched);
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
          !Acceptable(field->text(), kind_))
        field->setFocus();
    }
    return false;
  }

 private:
  NumberKind kind_;
};

}  // namespace

QLineEdit* TextField(QWidget* parent, const char* objectName) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(objectName);
  edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance("1.000E+018") + 16);
  edit->setMaximumWidth(130);
  return edit;
}

QLineEdit* NumberField(QWidget* parent, const char* objectName, NumberKind kind) {
  QLineEdit* edit = TextField(parent, objectName);
  edit->installEventFilter(new LeaveCheck(edit, kind));
  return edit;
}

}  // namespace lumora
