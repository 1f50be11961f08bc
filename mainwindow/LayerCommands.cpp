#include "LayerCommands.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "frmXmlCreator.h"

namespace treelark {

LayerCommands::LayerCommands(DocumentSession& session, QWidget* window)
    : QObject(window), m_session(session), m_window(window)
{
    // The builder's node belongs to what was open.
    connect(&session, &DocumentSession::replaced, this, [this] {
        if (oXMLCreatorForm)
            oXMLCreatorForm->close();
    });
}

void LayerCommands::add(const DOMNode& layers) { open(layers, true); }

void LayerCommands::edit(const DOMNode& layer) { open(layer, false); }

void LayerCommands::layerText()
{
    freshBuilder();
    oXMLCreatorForm->show();
    oXMLCreatorForm->activateWindow();
}

// One builder at a time: the open one goes.
void LayerCommands::freshBuilder()
{
    if (oXMLCreatorForm)
        oXMLCreatorForm->close();
    oXMLCreatorForm = new frmXmlCreator(m_window);
}

void LayerCommands::open(const DOMNode& node, bool adding)
{
    // Without a node the builder would fall back to writing the clipboard, which is not
    // what either command asked for.
    if (node.isNull())
        return;
    freshBuilder();
    oXMLCreatorForm->setApplyEdit(
        [this](const QString& stepName, const DOMNode& target, const std::function<void()>& change) {
            // The written branch shows last among its siblings, wherever the element stands.
            m_session.editor()->perform(stepName, change, target);
        });
    if (adding)
        oXMLCreatorForm->AddLayers(node);
    else
        oXMLCreatorForm->EditLayer(node);
    oXMLCreatorForm->show();
    oXMLCreatorForm->activateWindow();
}

} // namespace treelark
