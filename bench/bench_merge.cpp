// Times MergeAll of one file into another against the time xmllint needs just to parse
// both, so the figure says how merging compares with reading the same bytes.
//
//   bench_merge TARGET.xml SOURCE.xml
#include "treelark/ApXmlMgr.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: bench_merge TARGET.xml SOURCE.xml\n");
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
