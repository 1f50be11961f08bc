// The layer builder's commands: "Edit" on an ApLayer, "Add" on an ApLayers (or on an
// ApLayer, meaning its container). What the builder writes is one step of the edit layer.
#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace treelark {

class DOMNode;
class DocumentSession;
class frmXmlCreator;

class LayerCommands : public QObject {
    Q_OBJECT
public:
    LayerCommands(DocumentSession& session, QWidget* window);

    void add(const DOMNode& layers);
    void edit(const DOMNode& layer);
    // The builder with no element to write into: its Ok puts the layers' configuration
    // text on the clipboard, and the document stays as it is.
    void layerText();


private:
    void open(const DOMNode& node, bool adding);
    void freshBuilder();

    DocumentSession& m_session;
    QWidget* m_window;
    QPointer<frmXmlCreator> oXMLCreatorForm;
};

} // namespace treelark
