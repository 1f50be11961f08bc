#include "fetch.h"

#include "treelark/Busy.h"

#include <curl/curl.h>

#include <mutex>

namespace treelark::detail {

namespace {

struct Sink {
    QByteArray* body;
    qint64 maxBytes;
    bool tooLarge = false;
};

size_t onData(char* data, size_t size, size_t count, void* user)
{
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    if (sink->body->size() + qint64(n) > sink->maxBytes) {
        sink->tooLarge = true;
        return 0; // makes curl stop with a write error
    }
    sink->body->append(data, qsizetype(n));
    return n;
}

// Called by curl about once a second even while nothing arrives, so a server that never
// answers neither freezes the window nor holds the user: a request to cancel ends it.
int onTransferTick(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    busyTick();
    return cancelRequested() ? 1 : 0;
}

} // namespace

FetchResult fetchUrl(const QString& url, qint64 maxBytes, int stallSeconds)
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    FetchResult result;
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.error = QStringLiteral("The network library could not be started.");
        return result;
    }
    const QByteArray u = url.toUtf8();
    Sink sink{&result.body, maxBytes};
    char errbuf[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(curl, CURLOPT_URL, u.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
    // A slow but moving transfer may take long; a stalled one is given up.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(stallSeconds));
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errbuf);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Treelark");
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onTransferTick);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);

    const CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);

    if (rc == CURLE_ABORTED_BY_CALLBACK) {
        result.cancelled = true;
        result.error = QStringLiteral("The load was cancelled.");
    } else if (sink.tooLarge || rc == CURLE_FILESIZE_EXCEEDED) {
        result.error = QStringLiteral("The document at %1 is larger than %2 MB.").arg(url).arg(maxBytes >> 20);
    } else if (rc != CURLE_OK) {
        result.error = QStringLiteral("Cannot fetch %1: %2").arg(url, QString::fromUtf8(errbuf[0] ? errbuf : curl_easy_strerror(rc)));
    } else if (status >= 400) {
        result.error = QStringLiteral("Cannot fetch %1: the server answered %2.").arg(url).arg(status);
    } else {
        result.ok = true;
    }
    if (!result.ok)
        result.body.clear();
    return result;
}

} // namespace treelark::detail
