// "Apply to child nodes" with "Add " on the document element of a large document (about a
// million elements in the generated 100 MB document), as the edit dialog runs it: one
// step of the edit layer over the walk, the window kept painted by the busy hook. Each run
// is timed against xmllint --noout on the same file just before it (target: at most 1.5x
// in every run), with the window's longest freeze (target: under 0.1 s), then undone.
//
//   bench_apply FILE [RUNS]
#include "AttributeWalks.h"
#include "frmMain.h"
#include "ScriptedPrompts.h"
#include "bench_common.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <algorithm>
#include <cstdio>

using namespace treelark;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_apply FILE [RUNS]\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    setPrompts(std::make_shared<ScriptedPrompts>());

    frmMain w(file);
    w.show();
    app.processEvents();
    const DOMNode root = w.document()->documentElement();
    if (root.isNull()) {
        std::fprintf(stderr, "%s did not load\n", argv[1]);
        return 2;
    }
    bool allMet = true;
    for (int r = 1; r <= runs; ++r) {
        QElapsedTimer t;
        t.start();
        QProcess::execute(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--huge"), file});
        const double lint = t.nsecsElapsed() / 1e9;

        const Waited applied = timedWithFreeze([&] {
            w.editor()->performWhole(QStringLiteral("Apply Checked"), [&] {
                ApplyToChildNodes(root, QStringLiteral("Checked"), QStringLiteral("1"), true);
            });
        });
        const double apply = applied.seconds, longest = applied.longestFreeze;
        const bool done = root.lastChild().getAttribute(QStringLiteral("Checked")) == QLatin1String("1");
        t.restart();
        w.editor()->undo();
        const double undo = t.nsecsElapsed() / 1e9;
        const bool met = done && apply <= 1.5 * lint && longest < 0.1;
        allMet = allMet && met;
        std::printf("run %d: apply to child nodes, with Add %7.3f s | xmllint --noout %7.3f s | ratio %.2f (target <= 1.5)"
                    " | longest freeze %.3f s (target < 0.1) | undo %.3f s%s\n",
                    r, apply, lint, apply / lint, longest, undo,
                    done ? "" : " | the attribute did not reach the last child");
    }
    return allMet ? 0 : 1;
}
