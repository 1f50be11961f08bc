// The layer builder's commands: "Edit" on an ApLayer, "Add" on an ApLayers (or on an
// ApLayer, meaning its container), and the tree branch rebuilt once the builder wrote.
#include "frmMain.h"

#include "frmXmlCreator.h"

namespace treelark {

void frmMain::ShowAddLayers(const DOMNode& xmlNode) { openLayerBuilder(xmlNode, true); }

void frmMain::ShowEditLayer(const DOMNode& xmlNode) { openLayerBuilder(xmlNode, false); }

void frmMain::openLayerBuilder(const DOMNode& xmlNode, bool adding)
{
    // Without a node the builder would fall back to writing the clipboard, which is not
    // what either command asked for.
    if (xmlNode.isNull())
        return;
    // One builder at a time: the open one goes without reporting anything here.
    if (oXMLCreatorForm) {
        disconnect(oXMLCreatorForm, nullptr, this, nullptr);
        oXMLCreatorForm->close();
    }
    oXMLCreatorForm = new frmXmlCreator(this);
    // The node is kept with the connection rather than read back from the right-click
    // state, which a right-click elsewhere changes while the builder stays open.
    connect(oXMLCreatorForm, &frmXmlCreator::OperationCompleted, this,
            [this, xmlNode](bool bCompleted) { oXMLCreatorForm_OperationCompleted(bCompleted, xmlNode); });
    oXMLCreatorForm->setApplyEdit(
        [this](const QString& /*stepName*/, const DOMNode& target, const std::function<void()>& change) {
            // The branch under the target is taken from the document as it was.
            m_model->prepareForEdit(itemShowing(target));
            change();
        });
    if (adding)
        oXMLCreatorForm->AddLayers(xmlNode);
    else
        oXMLCreatorForm->EditLayer(xmlNode);
    oXMLCreatorForm->show();
    bAddLayers = adding;
}

// The written node's branch (the ApLayers element when adding, the ApLayer when editing)
// is built again from the document and becomes the last child of its parent item; the
// element itself keeps its place in the document.
void frmMain::oXMLCreatorForm_OperationCompleted(bool bCompleted, const DOMNode& written)
{
    if (!bCompleted)
        return;
    TreeItem* item = itemShowing(written);
    if (!item)
        return; // the node left the document (or another was loaded) meanwhile
    TreeItem* parent = item->parent;
    m_model->removeItem(item);
    AddTreeNode(written, parent);
}

} // namespace treelark
