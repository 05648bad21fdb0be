#pragma once

#include <QString>

class QLineEdit;
class QTextEdit;

// Card texts on fields of fixed size: the whole text is always shown. A text
// that does not fit at the field's own font gets the same font made smaller,
// so the clerk's screen and the saved card picture never lose a character
// (the check digit at the end of an identity number above all).
namespace fittedfield {

void setText(QLineEdit *field, const QString &text);
void setText(QTextEdit *field, const QString &text);

} // namespace fittedfield
