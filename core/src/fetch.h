// Fetching a document over http(s), bounded in time and size.
#pragma once

#include <QByteArray>
#include <QString>

namespace treelark::detail {

struct FetchResult {
    bool ok = false;
    QByteArray body;
    QString error;
    bool cancelled = false; // the user asked to stop
};

// Redirects are followed only to http and https; nothing else is ever contacted.
FetchResult fetchUrl(const QString& url, qint64 maxBytes, int stallSeconds);

constexpr qint64 kMaxFetchBytes = qint64(1) << 30;   // 1 GiB
constexpr int kFetchStallSeconds = 30;

} // namespace treelark::detail
