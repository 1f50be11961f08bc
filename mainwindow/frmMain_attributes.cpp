// The node commands that open the attribute windows: "EditAttributes" and "InsertNode"
// (the attribute editor) and "EditText" (the edit dialog), and the attribute editor's
// report that a new element is complete.
#include "frmMain.h"

#include "DocumentEdits.h"
#include "Twips.h"
#include "frmEdit.h"
#include "frmView.h"
#include "treelark/Prompts.h"

#include <QTreeView>

namespace treelark {

frmView* frmMain::attributeEditor() const { return oViewForm.data(); }

// The one attribute editor, made on first use. Another document being loaded closes it:
// its rows and its element belong to the old one.
frmView* frmMain::openViewForm()
{
    if (!oViewForm) {
        oViewForm = new frmView(this, m_editor);
        connect(oViewForm, &frmView::NodeAdded, this, &frmMain::oViewForm_NodeAdded);
        connect(oXMLMgr, &ApXmlMgr::DOMReady, oViewForm, &QWidget::close);
    }
    return oViewForm;
}

void frmMain::EditAttributes()
{
    const DOMNode node = liveClickedNode();
    if (node.isNull())
        return;
    const DOMNamedNodeMap attrs = node.attributes();
    if (attrs.isNull() || attrs.length() == 0) {
        prompts().message(QStringLiteral("Node ") + node.nodeName() + QStringLiteral(" has no attributes."),
                          MsgButtons::OK);
        return;
    }
    frmView* view = openViewForm();
    view->bAddingNode = false;
    view->FilllvwInfo(node, QPersistentModelIndex(m_model->indexOf(clickedItem())));
    // Beside the pointer: the click's place in the tree, counted from this window's corner.
    const QPoint corner = frameGeometry().topLeft();
    view->move(twipsToPixelsX(pixelsToTwipsX(corner.x(), this) + xPopup, this),
               twipsToPixelsY(pixelsToTwipsY(corner.y(), this) + yPopup, this));
    view->show();
    view->raise();
}

void frmMain::InsertNode()
{
    const DOMNode node = liveClickedNode();
    if (node.isNull() || !oDoc)
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
        element = oDoc->createNode(NODE_ELEMENT, *answer, QString());
        element.setAttribute(QStringLiteral("Name"), QString());
        element.setAttribute(QStringLiteral("TagName"), QString());
    } catch (const DOMException& e) {
        prompts().message(refusalText(QStringLiteral("Creating the element \"") + *answer + QLatin1Char('"'), e),
                          MsgButtons::OK);
        return;
    }
    frmView* view = openViewForm();
    view->bAddingNode = true;
    view->FilllvwInfo(element);
    view->show();
    view->raise();
}

void frmMain::oViewForm_NodeAdded(bool bOK, const DOMNode& pNodeNew)
{
    if (!bOK || pNodeNew.isNull())
        return;
    const DOMNode parent = liveClickedNode();
    try {
        if (parent.isNull() || parent.nodeType() == NODE_TEXT)
            return;
        // The tree shows the new branch as soon as the step is made.
        m_editor->performWhole(QStringLiteral("Insert ") + pNodeNew.nodeName(), [&] {
            DOMNode p = parent;
            p.appendChild(pNodeNew);
        });
    } catch (const DOMException& e) {
        prompts().message(refusalText(QStringLiteral("Inserting the element \"") + pNodeNew.nodeName()
                                          + QStringLiteral("\" under ") + parent.nodeName(),
                                      e),
                          MsgButtons::OK);
    }
}

void frmMain::EditText()
{
    const DOMNode node = liveClickedNode();
    if (node.isNull())
        return;
    frmEdit* dialog = frmEdit::instance(this, m_editor);
    connect(oXMLMgr, &ApXmlMgr::DOMReady, dialog, &QWidget::close, Qt::UniqueConnection);
    dialog->SetNodeText(node);
    dialog->show();
    // Just below the clicked item: the click's place in the tree, counted from this
    // window's corner, lowered by the dialog's own height.
    const QPoint corner = frameGeometry().topLeft();
    const QPoint tree = TreeView1->mapTo(this, QPoint(0, 0));
    const int left = pixelsToTwipsX(corner.x(), this) + pixelsToTwipsX(tree.x(), this) + xPopup;
    const int top = pixelsToTwipsY(corner.y(), this) + pixelsToTwipsY(tree.y(), this) + yPopup
                    + pixelsToTwipsY(dialog->frameGeometry().height(), this);
    dialog->move(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
    dialog->raise();
}

} // namespace treelark
