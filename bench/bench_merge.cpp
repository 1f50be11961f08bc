// Times MergeAll of one file into another against the time xmllint needs just to parse
// both, so the figure says how merging compares with reading the same bytes.
//
//   bench_merge TARGET.xml SOURCE.xml
//   bench_merge --wide N
//
// --wide times merging, and looking for repeated names, on one level of N children
// against the same work on N/2 (a ratio near 2 is linear, near 4 pairwise) and against
// building the documents node by node. Each timing runs in a process of its own: on a
// heap that earlier documents were freed into, the same merge takes twice as long.
#include "treelark/ApXmlMgr.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

using namespace treelark;

namespace {

double seconds(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

// Runs "xmllint --noout FILE"; false when it could not run or reported an error.
bool xmllint(const QString& file)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), file});
    if (!p.waitForStarted(-1) || !p.waitForFinished(-1))
        return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool load(ApXmlMgr& mgr, const QString& file)
{
    mgr.LoadXml(file, false);
    const long code = mgr.DOMDoc()->parseError().errorCode;
    if (code != 0)
        std::fprintf(stderr, "%s: %s\n", qPrintable(file), qPrintable(mgr.DOMDoc()->parseError().reason));
    return code == 0;
}

// A root r with `count` children numbered from `from` on: elements c<i> (names all
// different) or L with TagName k<i> (names all alike), each with attribute `extra`.
// Built node by node: the parser slows down on this many distinct names.
DOMDocumentPtr wide(int from, int count, bool sameNames, const QString& extra)
{
    DOMDocumentPtr doc = DOMDocument::create();
    DOMNode root = doc->asNode().appendChild(doc->createElement(QStringLiteral("r")));
    for (int i = from; i < from + count; ++i) {
        DOMNode c = root.appendChild(doc->createElement(sameNames ? QStringLiteral("L") : "c" + QString::number(i)));
        if (sameNames)
            c.setAttribute(QStringLiteral("TagName"), "k" + QString::number(i));
        c.setAttribute(extra, QStringLiteral("v"));
    }
    return doc;
}

// Seconds to build two levels of n children, the reference for the work on them.
double wideBuild(int n)
{
    QElapsedTimer t;
    t.start();
    const DOMDocumentPtr a = wide(0, n, false, QStringLiteral("a")), b = wide(n / 2, n, false, QStringLiteral("b"));
    return seconds(t);
}

// Seconds to merge a level of n children whose second half pairs with the source's first.
double wideMerge(int n, bool sameNames)
{
    ApXmlMgr mgr;
    mgr.setDOMDoc(wide(0, n, sameNames, QStringLiteral("a")));
    DOMDocumentPtr source = wide(n / 2, n, sameNames, QStringLiteral("b"));
    QElapsedTimer t;
    t.start();
    mgr.MergeAll(source);
    const double s = seconds(t);
    if (mgr.DOMDoc()->documentElement().childCount() == n + n / 2)
        return s;
    std::fprintf(stderr, "merge of %d children gave %lld\n", n, (long long)mgr.DOMDoc()->documentElement().childCount());
    return -1;
}

// Seconds to find that n uniquely named children hold no repeat, then that one more does.
double wideDuplicates(int n)
{
    ApXmlMgr mgr;
    DOMDocumentPtr doc = wide(0, n, false, QStringLiteral("a"));
    DOMNode r = doc->documentElement();
    QElapsedTimer t;
    t.start();
    const bool none = mgr.HasDuplicateNodeNames(r);
    r.appendChild(doc->createElement("c" + QString::number(n - 1)));
    const bool one = mgr.HasDuplicateNodeNames(r);
    const double s = seconds(t);
    if (!none && one)
        return s;
    std::fprintf(stderr, "HasDuplicateNodeNames wrong on %d children\n", n);
    return -1;
}

// Runs `time(n)` in a forked child and returns what it measured, -1 when it failed or
// got a wrong result.
double inFreshProcess(double (*time)(int), int n)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const double s = time(n);
        const bool ok = ::write(fds[1], &s, sizeof s) == sizeof s;
        ::_exit(ok ? 0 : 1);
    }
    ::close(fds[1]);
    double s = -1;
    if (pid < 0 || ::read(fds[0], &s, sizeof s) != sizeof s)
        s = -1;
    ::close(fds[0]);
    if (pid > 0)
        ::waitpid(pid, nullptr, 0);
    return s;
}

int wideLevels(int n)
{
    const double build = inFreshProcess(wideBuild, n);
    std::printf("one level of %d children; building two such documents takes %.3f s\n", n, build);
    const struct {
        const char* what;
        double (*time)(int);
    } rows[] = {{"MergeAll, pairing by name", [](int k) { return wideMerge(k, false); }},
                {"MergeAll, pairing by key", [](int k) { return wideMerge(k, true); }},
                {"HasDuplicateNodeNames", wideDuplicates}};
    bool failed = build < 0;
    for (const auto& row : rows) {
        const double half = inFreshProcess(row.time, n / 2), full = inFreshProcess(row.time, n);
        failed = failed || half < 0 || full < 0;
        std::printf("%-28s %7.3f s, %5.2f x half the children (2 linear, 4 pairwise), %5.2f x building\n", row.what,
                    full, full / half, full / build);
    }
    // Only wrong results fail; the times are for reading, as no machine's speed may
    // decide a build.
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--wide") && args[2].toInt() >= 100)
        return wideLevels(args[2].toInt());
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: bench_merge TARGET.xml SOURCE.xml | --wide N (N >= 100)\n");
        return 2;
    }
    const QString targetFile = QFileInfo(args[1]).absoluteFilePath();
    const QString sourceFile = QFileInfo(args[2]).absoluteFilePath();
    std::printf("target  %s (%.1f MB)\n", qPrintable(targetFile), QFileInfo(targetFile).size() / 1048576.0);
    std::printf("source  %s (%.1f MB)\n", qPrintable(sourceFile), QFileInfo(sourceFile).size() / 1048576.0);

    QElapsedTimer timer;
    timer.start();
    if (!xmllint(targetFile) || !xmllint(sourceFile)) {
        std::fprintf(stderr, "xmllint failed\n");
        return 1;
    }
    const double lintTime = seconds(timer);

    ApXmlMgr target;
    ApXmlMgr source;
    timer.restart();
    if (!load(target, targetFile) || !load(source, sourceFile))
        return 1;
    const double loadTime = seconds(timer);
    const qint64 targetNodes = target.TotalNodes();
    const qint64 sourceNodes = source.TotalNodes();

    timer.restart();
    target.MergeAll(source.DOMDoc(), nullptr, QStringLiteral("TagName"));
    const double mergeTime = seconds(timer);

    std::printf("nodes   target %lld, source %lld before; target %lld, source %lld after\n",
                (long long)targetNodes, (long long)sourceNodes, (long long)target.TotalNodes(),
                (long long)source.TotalNodes());
    std::printf("xmllint --noout, both files   %8.3f s\n", lintTime);
    std::printf("ApXmlMgr load, both files     %8.3f s\n", loadTime);
    std::printf("MergeAll                      %8.3f s\n", mergeTime);
    std::printf("ratio merge / xmllint         %8.3f\n", mergeTime / lintTime);
    return 0;
}
