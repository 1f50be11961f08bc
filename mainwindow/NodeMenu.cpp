#include "NodeMenu.h"

#include "AttributeCommands.h"
#include "DocumentSession.h"
#include "LayerCommands.h"
#include "NodeCommands.h"
#include "TreeNavigator.h"
#include "Twips.h"
#include "treelark/Prompts.h"

#include <QAction>
#include <QMenu>
#include <QTreeView>

namespace treelark {

namespace {

const char* const kCaptions[] = {"Edit", "Add", "Delete", "Copy", "Paste", "-", "EditAttributes",
                                 "EditText", "InsertNode", "-", "ShowText", "-", "SaveToFile"};

// What the commands only read; every other one changes the document.
bool onlyReads(const QString& caption)
{
    return caption == QLatin1String("ShowText") || caption == QLatin1String("SaveToFile");
}

} // namespace

DOMNode ClickedNode::live(const DocumentSession& session) const
{
    const DOMNode node = row.node;
    try {
        const DOMDocumentPtr open = session.document();
        if (node.isNull() || !open || node.ownerDocument() != open)
            return DOMNode();
        DOMNode n = node;
        while (!n.isNull() && n.nodeType() != NODE_DOCUMENT)
            n = n.parentNode();
        return n.isNull() ? DOMNode() : node;
    } catch (const DOMException&) {
        return DOMNode(); // a node the DOM cannot walk up from hangs nowhere
    }
}

TreeRow ClickedNode::liveRow(const DocumentSession& session) const
{
    // An index's rows are numbers, good for as long as the index is open.
    return row.node.isNull() ? row : TreeRow(live(session));
}

NodeMenu::NodeMenu(DocumentSession& session, TreeNavigator& tree, ClickedNode& clicked, NodeCommands& nodes,
                   AttributeCommands& attributes, LayerCommands& layers, QWidget* window)
    : QObject(window), m_session(session), m_tree(tree), m_nodes(nodes), m_attributes(attributes), m_layers(layers),
      m_menu(new QMenu(QStringLiteral("Popup"), window)), m_clicked(clicked)
{
    m_menu->setObjectName(QStringLiteral("mnuPopUp"));
    m_menu->hide(); // only ever shown as a popup
    m_menu->setToolTipsVisible(true);
    for (const char* caption : kCaptions) {
        auto* entry = new QAction(QLatin1String(caption), m_menu);
        entry->setObjectName(QStringLiteral("mnuCommands"));
        entry->setSeparator(entry->text() == QLatin1String("-"));
        m_menu->addAction(entry);
        m_entries.append(entry);
    }
    // Entries are told apart by their captions, not their positions.
    connect(m_menu, &QMenu::triggered, this, [this](QAction* entry) { run(entry->text()); });
    connect(&session, &DocumentSession::replaced, this, [this] { m_clicked = ClickedNode(); });
    installKeys();
}

void NodeMenu::installKeys()
{
    // The keys act as a right-click on the selected row followed by the command, so they
    // reach exactly what the menu reaches.
    struct Key {
        QList<QKeySequence> keys;
        const char* caption;
    };
    const Key keys[] = {
        {QKeySequence::keyBindings(QKeySequence::Delete), "Delete"},
        {QKeySequence::keyBindings(QKeySequence::Copy), "Copy"},
        {QKeySequence::keyBindings(QKeySequence::Paste), "Paste"},
        {{QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)}, nullptr},
    };
    QTreeView* view = m_tree.view();
    for (const Key& k : keys) {
        auto* action = new QAction(view);
        action->setShortcuts(k.keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        const QString caption = k.caption ? QLatin1String(k.caption) : QString();
        connect(action, &QAction::triggered, this, [this, caption] { runKey(caption); });
        view->addAction(action);
    }
}

void NodeMenu::mouseDown(Qt::MouseButton button, const QPoint& pos)
{
    const QModelIndex idx = m_tree.view()->indexAt(pos);
    m_tree.selectItem(idx.isValid() ? m_tree.model()->itemFromIndex(idx) : nullptr);
    if (button == Qt::RightButton && storeClick(pos))
        m_menu->popup(m_tree.view()->viewport()->mapToGlobal(pos));
}

// Steps shared by a right-click and the keyboard: store the row, the layers container
// and the click's place, and set the entries. Returns whether the row gets a menu.
bool NodeMenu::storeClick(const QPoint& pos)
{
    QTreeView* view = m_tree.view();
    m_clicked.xPopup = pixelsToTwipsX(pos.x(), view);
    m_clicked.yPopup = pixelsToTwipsY(pos.y(), view);
    TreeItem* item = m_tree.selectedItem();
    m_clicked.oItemClicked = m_tree.model()->indexOf(item);
    m_clicked.row = item ? item->sourceRow() : TreeRow();
    if (m_clicked.row.isNull())
        return false;

    bool bEdit = false, bAdd = false;
    const DOMNode node = m_clicked.row.node;
    const QString name = node.isNull() ? QString() : node.nodeName().trimmed();
    if (name == QLatin1String("ApLayer")) {
        bEdit = bAdd = true;
        m_clicked.pNodeLayers = node.parentNode();
    } else if (name == QLatin1String("ApLayers")) {
        bAdd = true;
        m_clicked.pNodeLayers = node;
    }
    EnableLayerCommands(bEdit, bAdd);
    RowDetails details;
    return m_session.source().read(m_clicked.row, &details, 0) && details.type != NODE_TEXT;
}

void NodeMenu::EnableLayerCommands(bool bEdit, bool bAdd)
{
    const bool readOnly = m_session.isReadOnly();
    for (QAction* entry : m_entries) {
        if (entry->isSeparator())
            continue;
        const QString caption = entry->text();
        const bool refused = readOnly && !onlyReads(caption);
        bool enabled = !refused;
        if (caption == QLatin1String("Edit"))
            enabled = enabled && bEdit;
        else if (caption == QLatin1String("Add"))
            enabled = enabled && bAdd;
        entry->setEnabled(enabled);
        entry->setToolTip(refused ? m_session.readOnlyTip() : QString());
    }
}

// An empty caption is the context-menu key: the menu itself, beside the selected row.
void NodeMenu::runKey(const QString& caption)
{
    TreeItem* item = m_tree.selectedItem();
    const QPoint pos = item ? m_tree.view()->visualRect(m_tree.model()->indexOf(item)).center() : QPoint();
    const bool menu = storeClick(pos);
    if (caption.isEmpty()) {
        if (menu)
            m_menu->popup(m_tree.view()->viewport()->mapToGlobal(pos));
    } else if (menu || caption == QLatin1String("Paste")) {
        // Paste still runs without a menu, to say why nothing was pasted.
        run(caption);
    }
}

void NodeMenu::run(const QString& caption)
{
    if (m_session.isReadOnly() && !onlyReads(caption)) {
        prompts().message(m_session.readOnlyTip(), MsgButtons::OK);
        return;
    }
    if (caption == QLatin1String("Edit"))
        m_layers.edit(m_clicked.live(m_session));
    else if (caption == QLatin1String("Add"))
        m_layers.add(m_clicked.pNodeLayers);
    else if (caption == QLatin1String("ShowText"))
        m_nodes.showText(m_clicked.liveRow(m_session));
    else if (caption == QLatin1String("EditAttributes"))
        m_attributes.editAttributes();
    else if (caption == QLatin1String("InsertNode"))
        m_attributes.insertNode();
    else if (caption == QLatin1String("EditText"))
        m_attributes.editText();
    else if (caption == QLatin1String("Delete"))
        m_nodes.deleteNode(m_clicked.live(m_session));
    else if (caption == QLatin1String("Copy"))
        m_nodes.copy(m_clicked.live(m_session));
    else if (caption == QLatin1String("Paste"))
        m_nodes.paste(m_tree.selectedItem() != nullptr, m_clicked.live(m_session));
    else if (caption == QLatin1String("SaveToFile"))
        m_nodes.saveToFile(m_clicked.liveRow(m_session));
}

} // namespace treelark
