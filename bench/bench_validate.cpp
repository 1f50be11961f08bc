// Validation against an XML Schema, as the window and the command line run it, against
// xmllint on the same files in the same run:
//   the document in memory (what F7 checks)  vs  xmllint --noout --schema
//   the file as a stream (large form, CLI)   vs  xmllint --stream --noout --schema
// with the streaming check's peak memory against the file's size, and the longest gap
// between two progress calls (the longest the window goes unpainted during a check).
//   bench_validate FILE SCHEMA [--runs N] [--no-dom]
#include "bench_common.h"
#include "process_memory.h"

#include "treelark/Busy.h"
#include "treelark/Validation.h"
#include "treelark/dom.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstring>

using namespace treelark;

namespace {

struct Timed {
    double seconds = 0;
    double longestGap = 0; // between progress calls, the first one counted from the start
    qint64 gapAt = -1;     // bytes read when the longest gap ended (-1: at the end, -2: a busy tick)
    bool valid = false;
};

template <typename Check>
Timed timeCheck(Check check)
{
    QElapsedTimer clock, gap;
    clock.start();
    gap.start();
    Timed t;
    ValidationOptions options;
    // The window is painted from the progress calls and from the core's busy ticks
    // (serializing the document in memory ticks); the longest time without either is
    // the longest the window would stand still.
    auto tick = [&](qint64 done) {
        if (gap.nsecsElapsed() / 1e9 > t.longestGap)
            t.gapAt = done;
        t.longestGap = std::max(t.longestGap, gap.nsecsElapsed() / 1e9);
        gap.restart();
    };
    options.progress = [&](qint64 done, qint64) {
        tick(done);
        return true;
    };
    setBusyHandler([&] { tick(-2); });
    const ValidationResult r = check(options);
    setBusyHandler(nullptr);
    if (gap.nsecsElapsed() / 1e9 > t.longestGap)
        t.gapAt = -1;
    t.longestGap = std::max(t.longestGap, gap.nsecsElapsed() / 1e9);
    t.seconds = clock.nsecsElapsed() / 1e9;
    t.valid = r.valid();
    if (!t.valid)
        std::fprintf(stderr, "not valid: %d errors, first: %s\n", r.errors,
                     r.problems.empty() ? "" : qPrintable(r.problems.front().message));
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_validate FILE SCHEMA [--runs N] [--no-dom]\n");
        return 2;
    }
    // One streaming check in a process of its own, so its peak memory is its own.
    if (std::strcmp(argv[1], "--stream-once") == 0) {
        ValidationOptions options;
        options.schemaPath = QString::fromLocal8Bit(argv[3]);
        const ValidationResult r = validateFile(QString::fromLocal8Bit(argv[2]), options);
        return r.valid() ? 0 : 1;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const QString schema = QString::fromLocal8Bit(argv[2]);
    int runs = 3;
    bool dom = true;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--no-dom") == 0)
            dom = false;
    }
    const std::string f = file.toStdString(), s = schema.toStdString();
    const double mb = QFileInfo(file).size() / 1048576.0;
    std::printf("document %.0f MB, schema %s\n", mb, qPrintable(QFileInfo(schema).fileName()));

    // streamed first: a child forked from a process holding the document would count
    // the parent's pages in its peak
    std::vector<double> ours, theirs;
    long ourPeak = 0;
    double gap = 0;
    for (int i = 0; i < runs; ++i) {
        const ChildRun own = runChild({argv[0], "--stream-once", f, s});
        ours.push_back(own.seconds);
        ourPeak = std::max(ourPeak, own.maxRssKb);
        theirs.push_back(runChild({"xmllint", "--stream", "--noout", "--schema", s, f}).seconds);
    }
    const Timed streamed = timeCheck([&](ValidationOptions& o) {
        o.schemaPath = schema;
        return validateFile(file, o);
    });
    gap = streamed.longestGap;
    std::printf("(the longest gap streaming ended at byte %lld)\n", static_cast<long long>(streamed.gapAt));
    std::printf("streaming: %.2f s, xmllint --stream --noout --schema %.2f s: %.2fx (target <= 1.0x)\n",
                median(ours), median(theirs), median(ours) / median(theirs));
    std::printf("streaming peak memory %.0f MB: %.3fx the file (target <= 0.3x)\n", ourPeak / 1024.0,
                ourPeak / 1024.0 / mb);
    std::printf("longest the window would stand still streaming: %.3f s (target < 0.1 s)\n", gap);
    if (dom) {
        DOMDocumentPtr doc = DOMDocument::create();
        if (!doc->load(file)) {
            std::fprintf(stderr, "cannot load %s\n", f.c_str());
            return 1;
        }
        std::vector<double> ours2, theirs2;
        double gap = 0;
        qint64 gapAt = 0;
        for (int i = 0; i < runs; ++i) {
            const Timed t = timeCheck([&](ValidationOptions& o) {
                o.schemaPath = schema;
                return validateDocument(*doc, o);
            });
            ours2.push_back(t.seconds);
            if (t.longestGap > gap)
                gapAt = t.gapAt;
            gap = std::max(gap, t.longestGap);
            theirs2.push_back(runChild({"xmllint", "--noout", "--schema", s, f}).seconds);
        }
        std::printf("in memory: %.2f s, xmllint --noout --schema %.2f s: %.2fx (target <= 1.2x)\n", median(ours2),
                    median(theirs2), median(ours2) / median(theirs2));
        std::printf("longest the window would stand still in memory: %.3f s (target < 0.1 s)\n", gap);
        std::printf("(it ended at byte %lld)\n", static_cast<long long>(gapAt));
    }

    return streamed.valid ? 0 : 1;
}
