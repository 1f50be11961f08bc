// Numbers typed into the form. The same rules hold in every locale: a sign, blanks
// around the digits, a decimal point and an exponent are allowed; empty text is not a
// number.
#pragma once

#include <QString>

namespace treelark {

bool isNumber(const QString& text);

// Rounded to the nearest integer, halves to the even neighbour. Throws LayerFailure:
// TypeMismatch for text that is not a number, Overflow outside -32768..32767.
qint16 toInt16(const QString& text);

// Throws LayerFailure(TypeMismatch) for text that is not a number.
double toDouble(const QString& text);

// Plain decimal in the fewest digits that read back as the same value: 2, 2.5, 0.001.
QString shortestDecimal(double value);

} // namespace treelark
