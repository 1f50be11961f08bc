// A scripted session on a large document in the real main window (offscreen): open,
// expand, search by name, Find All, Apply to child nodes, recursive attribute Delete, Copy
// and Paste of a subtree of about 100 000 elements, Save, and Undo. For each command: how
// long it took and the longest the window went without handling its events (target:
// under 0.1 s), with xmllint --noout on the same file as the reference for the times.
//
//   bench_freeze FILE [SUBTREE_ELEMENTS]        (run_freeze_bench.sh makes FILE)
#include "AttributeWalks.h"
#include "DocumentEditor.h"
#include "DocumentTreeModel.h"
#include "FindReplaceWindow.h"
#include "ScriptedPrompts.h"
#include "bench_common.h"
#include "frmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>
#include <functional>

using namespace treelark;

namespace {

bool g_allMet = true;

// Runs one command as the user would wait for it, with the window's own follow-up (the
// redraw of what changed) counted in.
void command(const char* name, double reference, const std::function<void()>& work)
{
    const Waited t = timedWithFreeze(work);
    const double took = t.seconds, longest = t.longestFreeze;
    const bool met = longest < 0.1;
    g_allMet = g_allMet && met;
    std::printf("%-38s %8.3f s | %5.2f x xmllint | longest freeze %6.3f s %s\n", name, took, took / reference,
                longest, met ? "" : "(over 0.1 s)");
    std::fflush(stdout);
}

qint64 elementsIn(const DOMNode& top)
{
    qint64 count = 0;
    std::vector<DOMNode> stack{top};
    while (!stack.empty()) {
        DOMNode n = stack.back();
        stack.pop_back();
        if (n.nodeType() != NODE_ELEMENT)
            continue;
        ++count;
        for (DOMNode c = n.firstChild(); !c.isNull(); c = c.nextSibling())
            stack.push_back(c);
    }
    return count;
}

void select(frmMain& w, TreeItem* item)
{
    const QModelIndex idx = w.treeModel()->indexOf(item);
    w.TreeView1->scrollTo(idx);
    w.treeMouseDown(Qt::RightButton, w.TreeView1->visualRect(idx).center());
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_freeze FILE [SUBTREE_ELEMENTS]\n");
        return 2;
    }
    const QString file = QString::fromLocal8Bit(argv[1]);
    const qint64 wanted = argc > 2 ? std::atoll(argv[2]) : 100000;
    auto script = std::make_shared<ScriptedPrompts>();
    setPrompts(script);
    QTemporaryDir tmp;

    const double lint = runChild({"xmllint", "--noout", "--huge", argv[1]}).seconds;
    std::printf("xmllint --noout %.3f s\n", lint);

    frmMain w;
    w.resize(900, 800);
    w.show();
    QCoreApplication::processEvents();
    command("open", lint, [&] {
        w.txtNodeName->setText(file);
        w.toolbarClick(QStringLiteral("load"));
    });
    if (!w.document() || w.document()->documentElement().isNull()) {
        std::fprintf(stderr, "%s did not load\n", argv[1]);
        return 2;
    }
    DocumentTreeModel* m = w.treeModel();
    TreeItem* rootItem = m->topLevelItem(0);
    DOMNode root = w.document()->documentElement();

    command("expand the root", lint, [&] { w.TreeView1->expand(m->indexOf(rootItem)); });
    command("expand a branch, all levels", lint,
            [&] { w.TreeView1->expandRecursively(m->index(0, 0, m->indexOf(rootItem))); });
    command("search by name, all matches", lint, [&] {
        w.txtNodeName->setText(QStringLiteral("Description"));
        w.cmdGetNode_MouseDown(Qt::ShiftModifier);
    });
    FindReplaceWindow* find = w.findReplace();
    find->findBox->setText(QStringLiteral("https"));
    find->wholeWord->setChecked(true);
    command("Find All (whole word)", lint, [&] { find->findAllMatches(); });
    find->hide();
    command("apply to child nodes, with Add", lint, [&] {
        w.editor()->performWhole(QStringLiteral("Apply Checked"),
                                 [&] { ApplyToChildNodes(root, QStringLiteral("Checked"), QStringLiteral("1"), true); });
    });
    command("delete that attribute, recursive", lint, [&] {
        w.editor()->performWhole(QStringLiteral("Delete Checked"),
                                 [&] { DeleteAttribute(root, QStringLiteral("Checked"), true); });
    });

    // The generated document's branches are a few thousand elements each: a branch of the
    // size asked for is gathered from copies of them first (not timed).
    DOMNode gathered;
    qint64 branchSize = 0;
    w.editor()->performWhole(QStringLiteral("Gather"), [&] {
        gathered = root.appendChild(w.document()->createElement(QStringLiteral("Gathered")));
        for (DOMNode c = root.firstChild(); branchSize < wanted && !c.isNull() && c != gathered; c = c.nextSibling())
            if (c.nodeType() == NODE_ELEMENT)
                branchSize += elementsIn(gathered.appendChild(c.cloneNode(true)));
    });
    QCoreApplication::processEvents();
    TreeItem* branch = m->child(rootItem, m->childCount(rootItem) - 1);
    char copyName[64], pasteName[64];
    std::snprintf(copyName, sizeof copyName, "copy a branch of %lld elements", static_cast<long long>(branchSize));
    std::snprintf(pasteName, sizeof pasteName, "paste it on the root");
    command(copyName, lint, [&] {
        select(w, branch);
        w.runMenuCommand(QStringLiteral("Copy"));
    });
    command(pasteName, lint, [&] {
        select(w, rootItem);
        w.runMenuCommand(QStringLiteral("Paste"));
    });
    script->queueSave(tmp.filePath(QStringLiteral("saved.xml")));
    command("save", lint, [&] { w.SaveDocument(); });
    // as far back as the history's memory budget keeps steps
    for (int i = 0; i < 3 && w.editor()->canUndo(); ++i) {
        const QByteArray name = ("undo \"" + w.editor()->undoText() + "\"").toUtf8();
        command(name.constData(), lint, [&] { w.toolbarClick(QStringLiteral("undo")); });
    }
    std::printf("%s\n", g_allMet ? "every command kept the window answering (freezes under 0.1 s)"
                                 : "some command held the window 0.1 s or more");
    return g_allMet ? 0 : 1;
}
