#include "treelark/modStringHandler.h"

#include <stdexcept>

namespace treelark {

qsizetype SplitString(const QString &text, const QString &delimiter, QStringList &pieces)
{
    // An empty delimiter matches everywhere without consuming anything.
    if (delimiter.isEmpty())
        throw std::invalid_argument("SplitString needs a non-empty delimiter");

    QStringList found;
    qsizetype from = 0;
    for (qsizetype at; (at = text.indexOf(delimiter, from, Qt::CaseSensitive)) >= 0;
         from = at + delimiter.size())
        found.append(text.mid(from, at - from));
    found.append(text.mid(from));

    pieces = std::move(found);
    return pieces.size();
}

QString ReplaceString(const QString &text, const QString &find, const QString &replacement)
{
    QStringList pieces;
    SplitString(text, find, pieces);
    return pieces.join(replacement);
}

} // namespace treelark
