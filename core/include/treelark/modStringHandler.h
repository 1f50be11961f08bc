#pragma once

// Cutting and rejoining text at a delimiter.

#include "treelark/export.h"

#include <QString>
#include <QStringList>

namespace treelark {

/// Cuts text at every occurrence of delimiter, left to right, without overlap,
/// case-sensitive, and stores the pieces in order. k delimiters give k + 1
/// pieces, empty ones included, so an empty text gives one empty piece.
/// Returns the number of pieces. Throws std::invalid_argument for an empty
/// delimiter.
TREELARK_CORE_EXPORT qsizetype SplitString(const QString &text, const QString &delimiter, QStringList &pieces);

/// Replaces every occurrence of find, left to right, without overlap,
/// case-sensitive. Throws std::invalid_argument for an empty find.
TREELARK_CORE_EXPORT QString ReplaceString(const QString &text, const QString &find, const QString &replacement);

} ///< namespace treelark
