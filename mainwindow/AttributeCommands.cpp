#include "AttributeCommands.h"

#include "ClickedNode.h"
#include "DocumentEdits.h"
#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "StatusLine.h"
#include "TreeNavigator.h"
#include "Twips.h"
#include "frmEdit.h"
#include "frmView.h"
#include "treelark/Prompts.h"

#include <QTreeView>

namespace treelark {

AttributeCommands::AttributeCommands(DocumentSession& session, TreeNavigator& tree, StatusLine& status,
                                     const ClickedNode& clicked, QWidget* window)
    : QObject(window), m_session(session), m_tree(tree), m_status(status), m_clicked(clicked), m_window(window)
{
    connect(&session, &DocumentSession::replaced, this, [this] {
        if (oViewForm)
            oViewForm->close();
        if (frmEdit* dialog = frmEdit::openInstance())
            dialog->close();
    });
}

// The click's place, counted from the window's outer corner, moved by extra twips.
QPoint AttributeCommands::besideClick(int extraX, int extraY) const
{
    const QPoint corner = m_window->frameGeometry().topLeft();
    return {twipsToPixelsX(pixelsToTwipsX(corner.x(), m_window) + m_clicked.xPopup + extraX, m_window),
            twipsToPixelsY(pixelsToTwipsY(corner.y(), m_window) + m_clicked.yPopup + extraY, m_window)};
}

frmView* AttributeCommands::attributeEditor() const { return oViewForm.data(); }

frmView* AttributeCommands::openView()
{
    // A window the user closed is on its way out (it goes when the event loop next runs):
    // it is not used again, a fresh one is made.
    if (oViewForm && !oViewForm->isVisible()) {
        disconnect(oViewForm, nullptr, this, nullptr);
        oViewForm = nullptr;
    }
    if (!oViewForm) {
        oViewForm = new frmView(m_window, m_session.editor());
        connect(oViewForm, &frmView::NodeAdded, this, &AttributeCommands::nodeAdded);
    }
    return oViewForm;
}

void AttributeCommands::editAttributes()
{
    const DOMNode node = m_clicked.live(m_session);
    if (node.isNull())
        return;
    // An element without attributes opens with an empty list, where Add gives it its
    // first; only what is no element has none to show.
    if (node.attributes().isNull()) {
        prompts().message(QStringLiteral("Node ") + node.nodeName() + QStringLiteral(" has no attributes."),
                          MsgButtons::OK);
        return;
    }
    frmView* view = openView();
    view->bAddingNode = false;
    view->FilllvwInfo(node);
    view->move(besideClick(0, 0));
    view->show();
    view->raise();
    view->activateWindow();
}

void AttributeCommands::insertNode()
{
    const DOMNode node = m_clicked.live(m_session);
    if (node.isNull())
        return;
    QString proposed = QStringLiteral("NewNode");
    const DOMNodeList children = node.childNodes();
    if (!children.isNull() && children.length() > 0)
        proposed = children.item(0).nodeName();
    const std::optional<QString> answer = prompts().input(QStringLiteral("Enter the NodeName:"), QString(), proposed);
    if (!answer || answer->isEmpty())
        return;
    // Made outside the document and filled in there; it goes in only on OK.
    DOMNode element;
    try {
        element = m_session.document()->createNode(NODE_ELEMENT, *answer, QString());
        element.setAttribute(QStringLiteral("Name"), QString());
        element.setAttribute(QStringLiteral("TagName"), QString());
    } catch (const DOMException& e) {
        prompts().message(refusalText(QStringLiteral("Creating the element \"") + *answer + QLatin1Char('"'), e),
                          MsgButtons::OK);
        return;
    }
    frmView* view = openView();
    view->bAddingNode = true;
    view->FilllvwInfo(element);
    view->show();
    view->raise();
    view->activateWindow();
}

void AttributeCommands::nodeAdded(bool ok, const DOMNode& added)
{
    if (!ok || added.isNull())
        return;
    const DOMNode parent = m_clicked.live(m_session);
    if (parent.isNull() || parent.nodeType() == NODE_TEXT) {
        m_status.set(QStringLiteral("The element ") + added.nodeName()
                     + QStringLiteral(" was not inserted: the node it was meant for is no longer in the document."));
        return;
    }
    try {
        // The tree shows the new branch as soon as the step is made.
        m_session.editor()->performWhole(QStringLiteral("Insert ") + added.nodeName(), [&] {
            DOMNode p = parent;
            p.appendChild(added);
        });
    } catch (const DOMException& e) {
        prompts().message(refusalText(QStringLiteral("Inserting the element \"") + added.nodeName()
                                          + QStringLiteral("\" under ") + parent.nodeName(),
                                      e),
                          MsgButtons::OK);
    }
}

void AttributeCommands::editText()
{
    const DOMNode node = m_clicked.live(m_session);
    if (node.isNull())
        return;
    frmEdit* dialog = frmEdit::instance(m_window, m_session.editor());
    dialog->SetNodeText(node);
    dialog->show();
    // Just below the clicked row: the click's place in the tree, lowered by the dialog's
    // own height.
    const QPoint tree = m_tree.view()->mapTo(m_window, QPoint(0, 0));
    dialog->move(besideClick(pixelsToTwipsX(tree.x(), m_window),
                             pixelsToTwipsY(tree.y(), m_window)
                                 + pixelsToTwipsY(dialog->frameGeometry().height(), m_window)));
    dialog->raise();
    dialog->activateWindow();
}

} // namespace treelark
