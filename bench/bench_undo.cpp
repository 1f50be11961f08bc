// Undo and redo of a big step on the real main window (offscreen): the document element
// of a large document (about a million elements in the generated 100 MB document) is
// deleted through the edit layer, the deletion undone and redone. Each is timed, and
// undo and redo are put next to the delete itself; the target is at most 0.5 s each.
//
//   bench_undo FILE [--runs N]
#include "bench_common.h"
#include "frmMain.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace treelark;

namespace {

qint64 countElements(const DOMNode& top)
{
    qint64 n = 0;
    for (DOMNode cur = top; !cur.isNull();) {
        if (cur.nodeType() == NODE_ELEMENT)
            ++n;
        DOMNode next = cur.firstChild();
        for (DOMNode up = cur; next.isNull() && !up.isNull() && up != top; up = up.parentNode())
            next = up.nextSibling();
        cur = next;
    }
    return n;
}


} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_undo FILE [--runs N]\n");
        return 2;
    }
    int runs = 3;
    for (int i = 2; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    setPrompts(std::make_shared<ScriptedPrompts>());
    frmMain w(QString::fromLocal8Bit(argv[1]));
    w.show();
    app.processEvents();
    const DOMNode root = w.document()->documentElement();
    if (root.isNull()) {
        std::fprintf(stderr, "%s did not load\n", argv[1]);
        return 2;
    }
    const QByteArray before = w.document()->saveToBytes();
    std::printf("subtree: the document element, %lld elements\n", static_cast<long long>(countElements(root)));

    std::vector<double> del, undo, redo;
    QElapsedTimer t;
    bool exact = true;
    for (int r = 0; r < runs; ++r) {
        t.start();
        w.editor()->removeNode(root);
        app.processEvents();
        del.push_back(t.nsecsElapsed() / 1e9);
        t.start();
        w.editor()->undo();
        app.processEvents();
        undo.push_back(t.nsecsElapsed() / 1e9);
        exact = exact && w.treeModel()->topLevelItem(0) && w.treeModel()->topLevelItem(0)->tag == root;
        t.start();
        w.editor()->redo();
        app.processEvents();
        redo.push_back(t.nsecsElapsed() / 1e9);
        w.editor()->undo(); // back for the next run
        app.processEvents();
        w.editor()->setDocument(w.document());
    }
    exact = exact && w.document()->saveToBytes() == before;
    const double d = median(del), u = median(undo), re = median(redo);
    std::printf("delete                  %8.4f s (median of %d)\n", d, runs);
    std::printf("undo the delete         %8.4f s   | ratio to the delete %.2f   (target <= 0.5 s)\n", u, u / d);
    std::printf("redo the delete         %8.4f s   | ratio to the delete %.2f   (target <= 0.5 s)\n", re, re / d);
    std::printf("document after undo     %s\n", exact ? "byte for byte as loaded" : "DIFFERS from what was loaded");
    return exact && d <= 0.5 && u <= 0.5 && re <= 0.5 ? 0 : 1;
}
