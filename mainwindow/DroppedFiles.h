// Files dragged onto the window from outside.
#pragma once

#include <QStringList>

class QMimeData;

namespace treelark {

// The local file paths a drag carries, in order; empty when it carries none.
QStringList localFiles(const QMimeData* data);

// Whether the path's last four characters, in capitals, are one of `endings`
// (".XML", "HTML", ...).
bool hasAcceptedEnding(const QString& path, const QStringList& endings);

} // namespace treelark
