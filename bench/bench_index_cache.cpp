// Opening a big file in large document form twice, each figure next to xmllint
// --stream --noout on the same file measured in the same run:
//   first open: the index built and kept in the cache folder
//   second open: the kept index read back, with the cache file in the page cache and
//     with it dropped from there first (as after a reboot), and what that would take
//     for a 5 GB document at the same rate
//   the cache file's size against the document's
//
//   bench_index_cache FILE [--runs N]
#include "bench_common.h"
#include "treelark/IndexCache.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

using namespace treelark;

namespace {

void line(const char* what, double value, const char* unit, const char* refName, double ref, const char* target)
{
    std::printf("%-34s %10.3f %-2s | %-26s %10.3f s | ratio %7.4f  %s\n", what, value, unit, refName, ref,
                ref > 0 ? value / ref : 0.0, target);
}

// Drops a file's pages from the page cache (clean pages; no privilege needed).
void evict(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    QString file;
    int runs = 3;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else
            file = args[i];
    }
    if (file.isEmpty()) {
        std::fprintf(stderr, "usage: bench_index_cache FILE [--runs N]\n");
        return 2;
    }
    const qint64 size = QFileInfo(file).size();
    const std::vector<std::string> xmllint = {"xmllint", "--stream", "--noout", file.toStdString()};
    runChild(xmllint); // the file in the page cache for all
    // On the document's disk: a temporary folder is often in memory.
    QTemporaryDir folder(QFileInfo(file).absolutePath() + QStringLiteral("/index-cache-XXXXXX"));
    IndexCache cache(folder.path());
    cache.setCapBytes(qint64(1) << 40);
    const QString kept = cache.cacheFileFor(file);

    std::vector<double> lint, first, warm, cold;
    qint64 rows = 0;
    for (int run = 0; run < runs; ++run) {
        lint.push_back(runChild(xmllint).seconds);
        QFile::remove(kept);
        IndexCache::Source from{};
        QElapsedTimer t;
        {
            DocumentIndex index;
            t.start();
            if (!cache.open(file, &index, {}, nullptr, &from) || from != IndexCache::Source::Built
                || !QFileInfo::exists(kept)) {
                std::fprintf(stderr, "first open failed: %s %s\n", qPrintable(index.error().reason),
                             qPrintable(cache.lastError()));
                return 1;
            }
            first.push_back(t.nsecsElapsed() / 1e9);
            rows = index.rowCount();
        }
        for (const bool dropped : {false, true}) {
            if (dropped)
                evict(kept);
            DocumentIndex index;
            t.start();
            if (!cache.open(file, &index, {}, nullptr, &from) || from != IndexCache::Source::Cache) {
                std::fprintf(stderr, "second open did not use the kept index: %s\n", qPrintable(cache.lastError()));
                return 1;
            }
            (dropped ? cold : warm).push_back(t.nsecsElapsed() / 1e9);
        }
    }
    const double lintS = median(lint);
    const double gb = size / 1073741824.0;
    std::printf("%s: %.1f MB, %lld elements; cache file %.1f MB\n", qPrintable(file), size / 1048576.0, rows,
                QFileInfo(kept).size() / 1048576.0);
    line("first open (build, keep the index)", median(first), "s", "xmllint --stream --noout", lintS, "");
    line("second open (kept index)", median(warm), "s", "xmllint --stream --noout", lintS, "");
    line("second open, cache file on disk", median(cold), "s", "xmllint --stream --noout", lintS, "");
    std::printf("%-34s %10.3f s for 5 GB at this rate (target <= 2 s); %.3f s cache file on disk\n",
                "second open, projected", median(warm) * 5 / gb, median(cold) * 5 / gb);
    std::printf("%-34s %10.4f (target <= 0.3)\n", "cache file / document size", double(QFileInfo(kept).size()) / double(size));
    return 0;
}
