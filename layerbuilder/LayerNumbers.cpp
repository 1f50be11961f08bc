#include "LayerNumbers.h"

#include "LayerFailure.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace treelark {

namespace {

const QString kTypeMismatch = QStringLiteral("Type mismatch");

} // namespace

bool isNumber(const QString& text)
{
    // Spelled out rather than left to a locale-aware parser, which would also take
    // group separators, "inf" and "nan".
    static const QRegularExpression number(
        QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?\\s*$"));
    return number.match(text).hasMatch();
}

double toDouble(const QString& text)
{
    if (!isNumber(text))
        throw LayerFailure(LayerFailure::TypeMismatch, kTypeMismatch);
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok); // QString::toDouble is the C locale
    if (!ok || !std::isfinite(value))
        throw LayerFailure(LayerFailure::Overflow, QStringLiteral("Overflow"));
    return value;
}

qint16 toInt16(const QString& text)
{
    // nearbyint under the default rounding mode sends halves to the even neighbour.
    const double rounded = std::nearbyint(toDouble(text));
    if (rounded < -32768.0 || rounded > 32767.0)
        throw LayerFailure(LayerFailure::Overflow, QStringLiteral("Overflow"));
    return qint16(rounded);
}

QString shortestDecimal(double value)
{
    if (value == 0)
        return QStringLiteral("0"); // no "-0"
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

} // namespace treelark
