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
        [this](const QString& stepName, const DOMNode& target, const std::function<void()>& change) {
            // The written branch shows last among its siblings, wherever the element stands.
            m_editor->perform(stepName, change, target);
        });
    if (adding)
        oXMLCreatorForm->AddLayers(xmlNode);
    else
        oXMLCreatorForm->EditLayer(xmlNode);
    oXMLCreatorForm->show();
    bAddLayers = adding;
}

// The tree already shows what the builder wrote: the edit layer reported the step, and
// the written branch (the ApLayers element when adding, the ApLayer when editing) went
// last among its parent item's rows while the element keeps its place in the document.
void frmMain::oXMLCreatorForm_OperationCompleted(bool /*bCompleted*/, const DOMNode& /*written*/) {}

} // namespace treelark
