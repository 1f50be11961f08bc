// The node command menu: the right-click (or the menu key) on a tree row, the entries
// each enabled for what the open document allows (a read-only one says why as the entry's
// tool tip), the Delete, Copy and Paste keys, and handing each command to its part.
#pragma once

#include "ClickedNode.h"

#include <QObject>

#include <functional>

class QAction;
class QMenu;
class QTreeView;

namespace treelark {

class AttributeCommands;
class DocumentSession;
class LayerCommands;
class NodeCommands;
class TreeNavigator;

class NodeMenu : public QObject {
    Q_OBJECT
public:
    NodeMenu(DocumentSession& session, TreeNavigator& tree, ClickedNode& clicked, NodeCommands& nodes,
             AttributeCommands& attributes, LayerCommands& layers, QWidget* window);

    QMenu* menu() const { return m_menu; }
    QList<QAction*> entries() const { return m_entries; }

    // A press in the tree: the row under the pointer is selected (a press outside any
    // clears the selection); the right button opens the menu on it.
    void mouseDown(Qt::MouseButton button, const QPoint& pos);
    // Runs a command by its caption on the clicked row.
    void run(const QString& caption);

private:
    bool storeClick(const QPoint& pos);
    void EnableLayerCommands(bool bEdit, bool bAdd);
    void runKey(const QString& caption);
    void installKeys();

    DocumentSession& m_session;
    TreeNavigator& m_tree;
    NodeCommands& m_nodes;
    AttributeCommands& m_attributes;
    LayerCommands& m_layers;
    QMenu* m_menu;
    QList<QAction*> m_entries;
    ClickedNode& m_clicked;
};

} // namespace treelark
