// Memory while the user edits: Copy, Paste and Delete of a large subtree, repeated, on the
// real main window (offscreen), through the node menu's own commands. The document does
// not grow; the undo history does, by what its steps keep (reported, and bounded by its
// budget). Once the history is let go, the process must be back where it was: resident
// memory after the cycles is compared with resident memory after the first one (the
// allocator's working set, set up once), both without history. Resident memory also
// keeps what the allocator cannot hand back once the history's nodes were spread among
// the document's (its pages are partly in use), so the figure judged is the heap in use;
// resident memory is printed beside it.
//
//   bench_edit_memory [ELEMENTS] [CYCLES]        (defaults: 20000, 100)
#include "frmMain.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeView>

#include <malloc.h>

#include <cstdio>

using namespace treelark;

namespace {

qint64 residentKb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * 4 : 0;
}

void rightClick(frmMain& w, TreeItem* item)
{
    const QModelIndex idx = w.treeModel()->indexOf(item);
    w.TreeView1->scrollTo(idx);
    w.treeMouseDown(Qt::RightButton, w.TreeView1->visualRect(idx).center());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int elements = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 100;
    auto script = std::make_shared<ScriptedPrompts>();
    setPrompts(script);

    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("edit.xml")));
    f.open(QIODevice::WriteOnly);
    f.write("<FrameworkConfig><Big>");
    for (int i = 0; i < elements; ++i)
        f.write("<ApField TagName=\"F" + QByteArray::number(i) + "\" Name=\"field\">text</ApField>");
    f.write("</Big><Target/></FrameworkConfig>");
    f.close();

    frmMain w(f.fileName());
    w.show();
    app.processEvents();
    DocumentTreeModel* m = w.treeModel();
    TreeItem* root = m->topLevelItem(0);
    auto cycle = [&] {
        rightClick(w, m->child(root, 0));
        w.runMenuCommand(QStringLiteral("Copy"));
        rightClick(w, m->child(root, 1));
        w.runMenuCommand(QStringLiteral("Paste"));
        rightClick(w, m->child(m->child(root, 1), 0));
        script->queueMessage(MsgResult::Yes);
        w.runMenuCommand(QStringLiteral("Delete"));
        app.processEvents();
    };
    cycle();
    w.editor()->setDocument(w.document()); // history let go, document kept
    malloc_trim(0);
    const qint64 start = residentKb();
    const qint64 startHeap = qint64(mallinfo2().uordblks) / 1024;
    QElapsedTimer t;
    t.start();
    for (int i = 1; i < cycles; ++i)
        cycle();
    const qint64 held = w.editor()->historyCost() / 1024;
    const int steps = w.editor()->stepCount();
    w.editor()->setDocument(w.document());
    malloc_trim(0);
    const qint64 end = residentKb();
    const qint64 endHeap = qint64(mallinfo2().uordblks) / 1024;
    const bool sane = w.document()->documentElement().lastChild().childCount() == 0;
    std::printf("copy-paste-delete of %d elements, %d cycles (%.2f s)\n", elements, cycles, t.elapsed() / 1000.0);
    std::printf("undo history after the cycles    %8lld KB in %d steps (budget %lld KB)\n",
                static_cast<long long>(held), steps, static_cast<long long>(DocumentEditor::kMemoryBudget / 1024));
    std::printf("heap in use after the first cycle %8lld KB\n", static_cast<long long>(startHeap));
    std::printf("heap in use after the last cycle  %8lld KB   | ratio %.3f (target <= 1.10)\n",
                static_cast<long long>(endHeap), double(endHeap) / double(startHeap));
    std::printf("resident: %lld KB, then %lld KB (ratio %.3f)\n", static_cast<long long>(start),
                static_cast<long long>(end), double(end) / double(start));
    if (!sane)
        std::printf("the document does not look as it should after the cycles\n");
    return sane && double(endHeap) <= 1.10 * double(startHeap) ? 0 : 1;
}
