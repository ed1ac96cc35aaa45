// The line edits of the panels' numbers, sized for "1.000E+018".
//
// NumberField: leaving it with a text that is not
// a number above 0 (a whole number of 1 or more for counts) takes the focus
// back, so that the user sees the field before a command reads it.
#pragma once

class QLineEdit;
class QWidget;

namespace lumora {

enum class NumberKind { Positive, Count };

// A field that may be left with any text (an optional number).
QLineEdit* TextField(QWidget* parent, const char* objectName);

QLineEdit* NumberField(QWidget* parent, const char* objectName, NumberKind kind);

}  // namespace lumora
