// Large document form on a big file, each figure next to a reference measured in the
// same run:
//   index build                 vs  xmllint --stream --noout (a child process), by the
//                                   clock and by processor time
//   peak memory of the build    vs  the file's size
//   all-matches name search     vs  xmllint --stream --noout
//   reading rows (attributes, text), expanding the widest branch in the window's tree
//   model and scrolling to its end: milliseconds at most
//   saving the last child of the document element to a file  vs  xmllint --stream of it
//
//   bench_large FILE [--name ELEMENT] [--runs N]
#include "bench_common.h"
#include "process_memory.h"
#include "DocumentTreeModel.h"
#include "treelark/DocumentIndex.h"
#include "treelark/RowSource.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace treelark;

namespace {

// Processor time (user and system) of this process so far, in seconds.
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Wall-clock seconds; `cpu` gets the child's processor time.
double timeChild(const std::vector<std::string>& argv, double* cpu = nullptr)
{
    const ChildRun run = runChild(argv);
    if (cpu)
        *cpu = run.cpu;
    return run.seconds;
}


void line(const char* what, double value, const char* unit, const char* refName, double ref, const char* unitRef,
          const char* target)
{
    std::printf("%-30s %10.3f %-3s | %-26s %10.3f %-3s | ratio %7.4f  %s\n", what, value, unit, refName, ref, unitRef,
                ref > 0 ? value / ref : 0.0, target);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    QString file, name = QStringLiteral("Description");
    int runs = 3;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--name") && i + 1 < args.size())
            name = args[++i];
        else if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else
            file = args[i];
    }
    if (file.isEmpty()) {
        std::fprintf(stderr, "usage: bench_large FILE [--name ELEMENT] [--runs N]\n");
        return 2;
    }
    const double sizeMb = QFileInfo(file).size() / 1048576.0;
    const std::vector<std::string> xmllint = {"xmllint", "--stream", "--noout", file.toStdString()};
    timeChild(xmllint); // the file in the page cache for both

    std::vector<double> lint, build, peak, lintCpu, buildCpu;
    DocumentIndex index;
    // Memory is counted from before the first build: an index let go leaves pages with
    // the allocator, which the next build takes again.
    const qint64 baseKb = procStatusKb("VmRSS:");
    for (int run = 0; run < runs; ++run) {
        double childCpu = 0;
        lint.push_back(timeChild(xmllint, &childCpu));
        lintCpu.push_back(childCpu);
        index = DocumentIndex();
        malloc_trim(0);
        resetPeak();
        QElapsedTimer t;
        t.start();
        const double cpu0 = cpuSeconds();
        if (!index.build(file)) {
            std::fprintf(stderr, "build failed: %s\n", qPrintable(index.error().reason));
            return 1;
        }
        build.push_back(t.nsecsElapsed() / 1e9);
        buildCpu.push_back(cpuSeconds() - cpu0);
        peak.push_back((procStatusKb("VmHWM:") - baseKb) / 1024.0);
    }
    std::printf("%s: %.1f MB, %lld elements, %lld names, index %.1f MB (%.1f bytes an element)\n", qPrintable(file), sizeMb,
                index.rowCount(), index.nameCount(), index.memoryBytes() / 1048576.0,
                double(index.memoryBytes()) / double(std::max<qint64>(1, index.rowCount())));
    const double lintS = median(lint);
    line("index build", median(build), "s", "xmllint --stream --noout", lintS, "s", "(target <= 1.0)");
    line("index build, processor time", median(buildCpu), "s", "xmllint's processor time", median(lintCpu), "s", "");
    line("peak memory of the build", median(peak), "MB", "file size", sizeMb, "MB", "(target <= 0.5)");

    std::vector<double> search;
    std::size_t matches = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer t;
        t.start();
        matches = index.findAll(name).size();
        search.push_back(t.nsecsElapsed() / 1e9);
    }
    std::printf("all matches of %s: %zu\n", qPrintable(name), matches);
    line("all-matches name search", median(search), "s", "xmllint --stream --noout", lintS, "s", "(target <= 1.0)");

    // Rows as a window shows them: random ones read from the file, and the widest
    // branch walked child by child (what expanding it costs).
    std::mt19937 rng(7);
    double worstRead = 0, totalRead = 0;
    const int reads = 2000;
    IndexedElement e;
    for (int i = 0; i < reads; ++i) {
        const auto row = DocumentIndex::Row(rng() % std::uint64_t(index.rowCount()));
        QElapsedTimer t;
        t.start();
        if (!index.read(row, &e))
            std::fprintf(stderr, "read failed: %s\n", qPrintable(index.lastError()));
        const double ms = t.nsecsElapsed() / 1e6;
        worstRead = std::max(worstRead, ms);
        totalRead += ms;
    }
    std::printf("%-30s %10.3f ms mean, %.3f ms worst of %d (target < 50 ms)\n", "row read from the file",
                totalRead / reads, worstRead, reads);
    DocumentIndex::Row widest = index.root(), last = DocumentIndex::NoRow;
    for (DocumentIndex::Row r = 0; r < DocumentIndex::Row(index.rowCount()); r += 97)
        if (index.childCount(r) > index.childCount(widest))
            widest = r;
    // The document element's branches (the widest lists of a document are usually
    // there), and its last one: past 4 GB in a file larger than that.
    for (auto c = index.firstChild(index.root()); c != DocumentIndex::NoRow; c = index.nextSibling(c)) {
        if (index.childCount(c) > index.childCount(widest))
            widest = c;
        last = c;
    }
    std::printf("document element ends at byte %lld of %lld\n", index.endOffset(index.root()), index.fileSize());
    // Through the window's tree model: the branch listed, then a screenful of labels
    // read from the file at its start and at its end (a scroll to the bottom).
    DocumentTreeModel model;
    const std::shared_ptr<const DocumentIndex> shown(&index, [](const DocumentIndex*) {});
    const auto rows = std::make_shared<IndexRowSource>(shown);
    model.setSource(rows);
    model.addTopLevel(rows->rowOf(widest));
    const QModelIndex branch = model.index(0, 0);
    QElapsedTimer t;
    t.start();
    const int kids = model.rowCount(branch);
    for (int i = 0; i < std::min(kids, 60); ++i)
        model.data(model.index(i, 0, branch));
    std::printf("%-30s %10.3f ms for %d children (target < 50 ms)\n", "expanding the widest row", t.nsecsElapsed() / 1e6,
                kids);
    t.start();
    for (int i = std::max(0, kids - 60); i < kids; ++i)
        model.data(model.index(i, 0, branch));
    std::printf("%-30s %10.3f ms (target < 50 ms)\n", "scrolling to its end", t.nsecsElapsed() / 1e6);
    t.start();
    const QString path = index.path(DocumentIndex::Row(index.rowCount() - 1));
    std::printf("%-30s %10.3f ms (%s)\n", "path of the last row", t.nsecsElapsed() / 1e6, qPrintable(path));

    if (last != DocumentIndex::NoRow) {
        QTemporaryDir dir(QFileInfo(file).absolutePath() + QStringLiteral("/bench_large-XXXXXX"));
        const double mb = (index.endOffset(last) - index.startOffset(last)) / 1048576.0;
        t.start();
        if (!index.saveSubtree(last, dir.filePath(QStringLiteral("part.xml"))))
            std::fprintf(stderr, "save failed: %s\n", qPrintable(index.lastError()));
        const double save = t.nsecsElapsed() / 1e9;
        const double lintPart = timeChild({"xmllint", "--stream", "--noout", dir.filePath(QStringLiteral("part.xml")).toStdString()});
        char what[64];
        std::snprintf(what, sizeof what, "save %.1f MB at byte %lld", mb, index.startOffset(last));
        line(what, save, "s", "xmllint --stream of it", lintPart, "s", "");
    }
    return 0;
}
