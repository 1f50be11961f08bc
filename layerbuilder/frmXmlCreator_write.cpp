// The two ways out of the form: Ok writes the layers (clipboard, or the document
// through the edit hook) and Cancel writes nothing. Both tell the main window.
#include "frmXmlCreator.h"

#include "ConfigurationText.h"
#include "LayerFailure.h"
#include "QtClipboard.h"
#include "WriteLayerNode.h"
#include "treelark/Prompts.h"

#include <QPointer>

namespace treelark {

void frmXmlCreator::cmdWrite_Click()
{
    if (m_unreadable)
        return;
    bool completed = false;
    try {
        SaveCurrentLayer();
        if (TargetNode.isNull())
            writeToClipboard();
        else
            writeToDocument();
        completed = true;
    } catch (const LayerFailure& e) {
        reportFailure(e.number(), e.description());
    } catch (const DOMException& e) {
        // What was written before the refusal stays in the document.
        reportFailure(e.number(), e.description());
    }
    // A receiver may close this form (a builder opened anew); then there is nothing to unload.
    const QPointer<frmXmlCreator> self(this);
    emit OperationCompleted(completed);
    if (self)
        unload();
}

void frmXmlCreator::writeToClipboard()
{
    const std::size_t count = std::size_t(qBound(0, int(LayerCount), kMaxLayers));
    const QString text = ConfigurationText(std::span<const LayerRecord>(Layers.data(), count));
    Clipboard& clipboard = layerClipboard();
    clipboard.clear();
    clipboard.setText(text);
    prompts().message(QStringLiteral("XML has been written to clipboard.\r\nYou may now paste the text into your XML file."),
                      MsgButtons::OK, QStringLiteral("Clipboard Set"));
}

void frmXmlCreator::writeToDocument()
{
    const DOMNode target = TargetNode;
    const DOMDocumentPtr document = target.ownerDocument();
    QString step;
    std::function<void()> change;
    if (!EditMode) {
        // Copies: the change may run after this form is gone (an undo stack redoing it).
        std::vector<LayerRecord> layers(Layers.begin(), Layers.begin() + qBound(0, int(LayerCount), kMaxLayers));
        step = QStringLiteral("Add layers");
        change = [layers, target, document] {
            for (const LayerRecord& layer : layers) {
                DOMNode parent = target;
                // A layer that could not be made was reported; appending nothing ends the step.
                parent.appendChild(WriteLayerNode(layer, DOMNode(), document));
            }
        };
    } else {
        const LayerRecord layer = layerAt(qBound(1, CurrentLayer, kMaxLayers));
        const LayerRecord asRead = m_asRead;
        step = QStringLiteral("Edit layer");
        // Only what the user changed is written; an untouched layer keeps every byte. A
        // failure inside was reported there; the edit still counts as done.
        change = [layer, asRead, target] { WriteLayerEdits(layer, asRead, target); };
    }
    if (m_applyEdit)
        m_applyEdit(step, target, change);
    else
        change();
}

void frmXmlCreator::cmdCancel_Click()
{
    const QPointer<frmXmlCreator> self(this);
    emit OperationCompleted(false);
    if (self)
        unload();
}

} // namespace treelark
