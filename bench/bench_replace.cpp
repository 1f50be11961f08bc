// Find All and Replace All of a word over a generated document, as a person runs them:
// typed into the Find and Replace window of the real main window (offscreen), Replace All
// one step of the history, then that step undone. Each is timed against xmllint --noout
// on the same file in the same run, with the window's longest freeze while it ran.
//
//   bench_replace FILE WORD REPLACEMENT [RUNS]   (run_replace_bench.sh: "https" about 100 000 times)
#include "DocumentEditor.h"
#include "FindReplaceWindow.h"
#include "ScriptedPrompts.h"
#include "bench_common.h"
#include "frmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace treelark;

namespace {

double worst(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_replace FILE WORD REPLACEMENT [RUNS]\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
    setPrompts(std::make_shared<ScriptedPrompts>());

    frmMain w(file);
    w.resize(900, 800);
    w.show();
    app.processEvents();
    if (!w.document() || w.document()->documentElement().isNull()) {
        std::fprintf(stderr, "%s did not load\n", argv[1]);
        return 2;
    }
    FindReplaceWindow* dialog = w.findReplace();
    dialog->findBox->setText(QString::fromLocal8Bit(argv[2]));
    dialog->replaceBox->setText(QString::fromLocal8Bit(argv[3]));
    dialog->wholeWord->setChecked(true);
    dialog->matchCase->setChecked(true);

    std::vector<double> lint, find, findFreeze, replace, replaceFreeze, undo, undoFreeze;
    qint64 listed = 0;
    QString said;
    bool ok = true;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        QProcess::execute(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--huge"), file});
        lint.push_back(t.nsecsElapsed() / 1e9);

        const Waited f = timedWithFreeze([&] { dialog->findAllMatches(); });
        find.push_back(f.seconds);
        findFreeze.push_back(f.longestFreeze);
        listed = dialog->results->model()->rowCount();
        const Waited rp = timedWithFreeze([&] { dialog->replaceEverything(); });
        replace.push_back(rp.seconds);
        replaceFreeze.push_back(rp.longestFreeze);
        said = w.statusText();
        ok = ok && w.editor()->stepCount() == 1;
        const Waited u = timedWithFreeze([&] { w.editor()->undo(); });
        undo.push_back(u.seconds);
        undoFreeze.push_back(u.longestFreeze);
        ok = ok && !w.editor()->isModified();
        app.processEvents();
    }
    const double ref = median(lint);
    std::printf("matches listed %lld; Replace All said \"%s\"\n", listed, qPrintable(said));
    std::printf("xmllint --noout                %8.3f s\n", ref);
    std::printf("find all (listed)              %8.3f s   | ratio %.2f (target <= 0.3) | longest freeze %.3f s\n",
                median(find), median(find) / ref, worst(findFreeze));
    std::printf("replace all (one step)         %8.3f s   | ratio %.2f (target <= 1.0) | longest freeze %.3f s\n",
                median(replace), median(replace) / ref, worst(replaceFreeze));
    std::printf("undo it                        %8.3f s   | %.2f of the replace (target <= 0.5) | longest freeze %.3f s\n",
                median(undo), median(undo) / median(replace), worst(undoFreeze));
    std::printf("(times are medians of %d runs, freezes the longest of any run)\n", runs);
    return ok ? 0 : 1;
}
