// Find All and Replace All of a word over a generated document, through the edit layer
// as the Find and Replace window runs them (one step), then undo and redo of that step.
// Each timed against xmllint --noout on the same file in the same run.
//
//   bench_replace FILE WORD REPLACEMENT       (run_replace_bench.sh: "https" about 100 000 times)
#include "DocumentEditor.h"
#include "ReplaceAll.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

using namespace treelark;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_replace FILE WORD REPLACEMENT\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    QElapsedTimer t;
    t.start();
    QProcess::execute(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--huge"), file});
    const double lint = t.nsecsElapsed() / 1e9;

    DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    t.restart();
    if (!doc->load(file)) {
        std::fprintf(stderr, "%s did not load\n", argv[1]);
        return 2;
    }
    const double load = t.nsecsElapsed() / 1e9;
    DocumentEditor editor;
    editor.setDocument(doc);

    FindOptions o;
    o.findText = QString::fromLocal8Bit(argv[2]);
    o.replaceText = QString::fromLocal8Bit(argv[3]);
    o.wholeWord = true;
    o.matchCase = true;
    t.restart();
    const FindResult found = findAll(doc, o);
    const double find = t.nsecsElapsed() / 1e9;
    t.restart();
    const ReplaceOutcome outcome = replaceAll(editor, o);
    const double replace = t.nsecsElapsed() / 1e9;
    t.restart();
    editor.undo();
    const double undo = t.nsecsElapsed() / 1e9;
    t.restart();
    editor.redo();
    const double redo = t.nsecsElapsed() / 1e9;

    std::printf("matches %zu, replaced %d in %d nodes\n", found.matches.size(), outcome.matches, outcome.nodes);
    std::printf("xmllint --noout       %8.3f s\n", lint);
    std::printf("load (for reference)  %8.3f s   | ratio %.2f\n", load, load / lint);
    std::printf("find all              %8.3f s   | ratio %.2f\n", find, find / lint);
    std::printf("replace all (1 step)  %8.3f s   | ratio %.2f\n", replace, replace / lint);
    std::printf("undo it               %8.3f s   | ratio %.2f\n", undo, undo / lint);
    std::printf("redo it               %8.3f s   | ratio %.2f\n", redo, redo / lint);
    return outcome.error.isEmpty() && outcome.matches == int(found.matches.size()) ? 0 : 1;
}
