// What every window test needs: scripted prompts installed fresh for each test (so no
// dialog ever waits and no real setting is touched), a clean document-changed state,
// a scratch folder for the files the test writes, and the gestures on the tree.
#pragma once

#include "DocumentSession.h"
#include "ScriptedPrompts.h"
#include "frmMain.h"
#include "frmView.h"

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QObject>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>

class WindowTestBase : public QObject {
    Q_OBJECT

protected:
    std::shared_ptr<treelark::ScriptedPrompts> script;
    QTemporaryDir dir;

    static void prepareRun() { QStandardPaths::setTestModeEnabled(true); }

    void resetState()
    {
        script = std::make_shared<treelark::ScriptedPrompts>();
        treelark::setPrompts(script);
    }

    static void dropPrompts() { treelark::setPrompts(nullptr); }

    QString write(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }

    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Layers with and without a child, a text and an empty element: what the node
    // commands tell apart.
    QString sample()
    {
        return write("sample.xml", "<FrameworkConfig TagName=\"FrameworkConfig\">\n"
                                   "  <ApLayers>\n"
                                   "    <ApLayer TagName=\"A\" Name=\"Roads\"><ApFields/></ApLayer>\n"
                                   "    <ApLayer TagName=\"B\"/>\n"
                                   "  </ApLayers>\n"
                                   "  <Note>plain</Note>\n"
                                   "  <Target/>\n"
                                   "</FrameworkConfig>\n");
    }
    static treelark::TreeItem* root(treelark::frmMain& w) { return w.treeModel()->topLevelItem(0); }
    static treelark::TreeItem* row(treelark::frmMain& w, treelark::TreeItem* parent, int i)
    {
        return w.treeModel()->child(parent, i);
    }
    static treelark::TreeItem* layers(treelark::frmMain& w) { return row(w, root(w), 0); }
    static treelark::TreeItem* layerA(treelark::frmMain& w) { return row(w, layers(w), 0); }
    static treelark::TreeItem* layerB(treelark::frmMain& w) { return row(w, layers(w), 1); }
    static treelark::TreeItem* note(treelark::frmMain& w) { return row(w, root(w), 1); }
    static treelark::TreeItem* target(treelark::frmMain& w) { return row(w, root(w), 2); }

    // The texts of the item's rows; of the top rows for no item.
    static QStringList childTexts(treelark::frmMain& w, treelark::TreeItem* item)
    {
        QStringList out;
        for (qsizetype i = 0; i < w.treeModel()->childCount(item); ++i)
            out << w.treeModel()->child(item, i)->text;
        return out;
    }

    // A real change to the open document, through the edit layer as every window makes one.
    static void dirty(treelark::frmMain& w)
    {
        w.editor()->setAttribute(w.document()->documentElement(), "Changed", "1");
        QVERIFY(w.editor()->isModified());
    }

    // A click and a double-click on the attribute editor's row: its in-place editor opens.
    static void doubleClickRow(treelark::frmView* v, int rowIndex)
    {
        QTreeWidgetItem* item = v->lvwInfo->topLevelItem(rowIndex);
        v->lvwInfo->setCurrentItem(item);
        const QPoint at = v->lvwInfo->visualItemRect(item).center();
        QTest::mouseClick(v->lvwInfo->viewport(), Qt::LeftButton, {}, at);
        QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(at), QPointF(v->lvwInfo->viewport()->mapToGlobal(at)),
                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(v->lvwInfo->viewport(), &dbl);
    }

    static QAction* entry(treelark::frmMain& w, const QString& caption)
    {
        for (QAction* a : w.popupEntries())
            if (a->text() == caption)
                return a;
        return nullptr;
    }

    static void showAndWait(treelark::frmMain& w, QSize size = QSize(700, 800))
    {
        w.resize(size);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
    }

    // The item's branch opened and scrolled to; its centre in the tree's viewport.
    static QPoint centre(treelark::frmMain& w, treelark::TreeItem* item)
    {
        const QModelIndex idx = w.treeModel()->indexOf(item);
        for (QModelIndex p = idx.parent(); p.isValid(); p = p.parent())
            w.TreeView1->expand(p);
        w.TreeView1->scrollTo(idx);
        return w.TreeView1->visualRect(idx).center();
    }

    // A right-click through the tree's own events; returns whether the popup opened
    // (it is closed again) and where the click was.
    static bool rightClick(treelark::frmMain& w, treelark::TreeItem* item, QPoint* at = nullptr)
    {
        const QPoint where = centre(w, item);
        if (at)
            *at = where;
        QTest::mouseClick(w.TreeView1->viewport(), Qt::RightButton, {}, where);
        const bool opened = w.mnuPopUp->isVisible();
        w.mnuPopUp->hide();
        return opened;
    }

private slots:
    void initTestCase() { prepareRun(); }
    void init() { resetState(); }
    void cleanup() { dropPrompts(); }
};
