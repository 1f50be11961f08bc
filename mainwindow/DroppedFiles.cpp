#include "DroppedFiles.h"

#include <QMimeData>
#include <QUrl>

namespace treelark {

QStringList localFiles(const QMimeData* data)
{
    QStringList paths;
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                paths << url.toLocalFile();
    return paths;
}

bool hasAcceptedEnding(const QString& path, const QStringList& endings)
{
    return endings.contains(path.right(4).toUpper());
}

} // namespace treelark
