// What the attribute window tests share: scripted prompts, an editor over a parsed
// document, and the gestures a user makes on the attribute list.
#pragma once

#include "DocumentEditor.h"
#include "ScriptedPrompts.h"
#include "frmEdit.h"
#include "frmView.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

class AttributeTestBase : public QObject {
protected:
    std::shared_ptr<treelark::ScriptedPrompts> script;
    std::unique_ptr<treelark::DocumentEditor> editor;
    treelark::DOMDocumentPtr doc;

    void begin(const char* xml)
    {
        script = std::make_shared<treelark::ScriptedPrompts>();
        treelark::setPrompts(script);
        doc = treelark::DOMDocument::create();
        QVERIFY(doc->loadXML(QByteArray(xml)));
        editor = std::make_unique<treelark::DocumentEditor>();
        editor->setDocument(doc);
    }

    void end()
    {
        // Windows the test left open go before the editor they point at.
        QList<QPointer<QWidget>> windows;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<treelark::frmView*>(w) || qobject_cast<treelark::frmEdit*>(w))
                windows << w;
        for (const QPointer<QWidget>& w : windows)
            delete w.data();
        editor.reset();
        doc.reset();
        treelark::setPrompts(nullptr);
    }

    treelark::DOMNode root() const { return doc->documentElement(); }

    static QStringList column(QTreeWidget* list, int c)
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(c);
        return out;
    }

    static QString attrNames(const treelark::DOMNode& element)
    {
        QStringList out;
        const treelark::DOMNamedNodeMap attrs = element.attributes();
        for (qint64 i = 0; i < attrs.length(); ++i)
            out << attrs.item(i).nodeName() + QLatin1Char('=') + attrs.item(i).value();
        return out.join(QLatin1Char(' '));
    }

    static QPoint rowCentre(QTreeWidget* list, int row)
    {
        return list->visualItemRect(list->topLevelItem(row)).center();
    }

    // A right-click on a row through the list's own events; returns whether the popup
    // opened (it is closed again).
    static bool rightClick(treelark::frmView& v, int row)
    {
        const QPoint at = row < 0 ? QPoint(5, v.lvwInfo->viewport()->height() - 3) : rowCentre(v.lvwInfo, row);
        QTest::mouseClick(v.lvwInfo->viewport(), Qt::RightButton, {}, at);
        const bool opened = v.mnuPopUp->isVisible();
        v.mnuPopUp->hide();
        return opened;
    }

    // A press and one double-click event, as the window system delivers a double-click.
    // (QTest's own double-click may deliver the double-click event twice.)
    static void doubleClick(treelark::frmView& v, int row)
    {
        const QPoint at = row < 0 ? QPoint(5, v.lvwInfo->viewport()->height() - 3) : rowCentre(v.lvwInfo, row);
        QWidget* vp = v.lvwInfo->viewport();
        QTest::mouseClick(vp, Qt::LeftButton, {}, at);
        QMouseEvent e(QEvent::MouseButtonDblClick, QPointF(at), QPointF(vp->mapToGlobal(at)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(vp, &e);
    }

    static QAction* entry(treelark::frmView& v, const QString& caption)
    {
        for (QAction* a : v.mnuCommands)
            if (a->text() == caption)
                return a;
        return nullptr;
    }

    void showView(treelark::frmView& v)
    {
        v.show();
        QVERIFY(QTest::qWaitForWindowExposed(&v));
        // focus moves (and the in-place editor commits on losing it) only in an active window
        v.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&v));
    }

    // The root's attributes in a window on screen; end() takes the window away.
    treelark::frmView& rootView()
    {
        auto* v = new treelark::frmView(nullptr, editor.get());
        v->FilllvwInfo(root());
        showView(*v);
        return *v;
    }
};
