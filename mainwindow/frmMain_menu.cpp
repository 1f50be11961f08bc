// The node command menu: right-click, layer command switches, Delete, Copy, Paste and
// SaveToFile.
#include "frmMain.h"

#include "AppState.h"
#include "Twips.h"
#include "treelark/Prompts.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QTreeView>

namespace treelark {

namespace {

const QString kXmlFilter = QStringLiteral("*.xml|*.xml|*.*|*.*");

} // namespace

// Steps shared by a right-click and the keyboard: store the item, its node and the
// layers container, and set the layer commands. Returns whether the node gets a menu.
bool frmMain::storeRightClick(const QPoint& pos)
{
    xPopup = pixelsToTwipsX(pos.x(), TreeView1);
    yPopup = pixelsToTwipsY(pos.y(), TreeView1);
    oItemClicked = selectedItem();
    m_clickedIndex = m_model->indexOf(oItemClicked);
    if (!oItemClicked)
        return false;
    pNodeClicked = oItemClicked->tag;
    if (pNodeClicked.isNull())
        return false;

    bool bEdit = false, bAdd = false;
    const QString name = pNodeClicked.nodeName().trimmed();
    if (name == QLatin1String("ApLayer")) {
        bEdit = bAdd = true;
        pNodeLayers = pNodeClicked.parentNode();
        oItemLayers = oItemClicked->parent;
        m_layersIndex = m_model->indexOf(oItemLayers);
    } else if (name == QLatin1String("ApLayers")) {
        bAdd = true;
        oItemLayers = oItemClicked;
        pNodeLayers = pNodeClicked;
        m_layersIndex = m_clickedIndex;
    }
    EnableLayerCommands(bEdit, bAdd);
    return pNodeClicked.nodeType() != NODE_TEXT;
}

void frmMain::treeRightClick(const QPoint& pos)
{
    if (storeRightClick(pos))
        mnuPopUp->popup(TreeView1->viewport()->mapToGlobal(pos));
}

void frmMain::installMenuShortcuts()
{
    // The keys act as a right-click on the selected item followed by the command, so
    // they reach exactly what the menu reaches.
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
    for (const Key& k : keys) {
        auto* action = new QAction(TreeView1);
        action->setShortcuts(k.keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        const QString caption = k.caption ? QLatin1String(k.caption) : QString();
        connect(action, &QAction::triggered, this, [this, caption] { runShortcut(caption); });
        TreeView1->addAction(action);
    }

    // Item objects go with every rebuild and removal; the stored ones must not outlive them.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { refreshStoredItems(); });
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, [this] { refreshStoredItems(); });
    connect(m_model, &QAbstractItemModel::rowsMoved, this, [this] { refreshStoredItems(); });
}

// An empty caption is the context-menu key: the menu itself, beside the selected item.
void frmMain::runShortcut(const QString& caption)
{
    if (isReadOnly()) { // only the menu key means something here: Delete, Copy and Paste edit
        if (caption.isEmpty())
            readOnlyMouseDown(Qt::RightButton, TreeView1->visualRect(TreeView1->currentIndex()).center());
        return;
    }
    TreeItem* item = selectedItem();
    const QPoint pos = item ? TreeView1->visualRect(m_model->indexOf(item)).center() : QPoint();
    const bool menu = storeRightClick(pos);
    if (caption.isEmpty()) {
        if (menu)
            mnuPopUp->popup(TreeView1->viewport()->mapToGlobal(pos));
    } else if (menu || caption == QLatin1String("Paste")) {
        // Paste still runs without a menu, to say why nothing was pasted.
        runMenuCommand(caption);
    }
}

void frmMain::refreshStoredItems()
{
    oItemClicked = m_model->itemFromIndex(m_clickedIndex);
    oItemLayers = m_model->itemFromIndex(m_layersIndex);
}

// The right-clicked node while it is still part of the open document. After another
// document was loaded, or once the node was deleted, the stored node counts as absent.
DOMNode frmMain::liveClickedNode() const
{
    try {
        const DOMDocumentPtr open = oXMLMgr->DOMDoc();
        if (pNodeClicked.isNull() || !open || pNodeClicked.ownerDocument() != open)
            return DOMNode();
        DOMNode n = pNodeClicked;
        while (!n.isNull() && n.nodeType() != NODE_DOCUMENT)
            n = n.parentNode();
        return n.isNull() ? DOMNode() : pNodeClicked;
    } catch (const DOMException&) {
        return DOMNode();
    }
}

// The item that shows node, found down the node's ancestors; nullptr when none does.
TreeItem* frmMain::itemShowing(const DOMNode& node)
{
    QList<DOMNode> chain;
    for (DOMNode n = node; !n.isNull() && n.nodeType() != NODE_DOCUMENT; n = n.parentNode())
        chain.prepend(n);
    TreeItem* item = nullptr;
    for (const DOMNode& n : chain) {
        const qsizetype row = m_model->findChildRow(item, n);
        if (row < 0)
            return nullptr;
        item = m_model->child(item, row);
    }
    return item;
}

// The item of the right-clicked node: the stored one while it lives, otherwise (after a
// rebuild) whichever item now shows the node.
TreeItem* frmMain::clickedItem()
{
    refreshStoredItems();
    if (oItemClicked && oItemClicked->tag == pNodeClicked)
        return oItemClicked;
    return pNodeClicked.isNull() ? nullptr : itemShowing(pNodeClicked);
}

void frmMain::runMenuCommand(const QString& caption)
{
    if (isReadOnly()) {
        readOnlyMenuCommand(caption);
        return;
    }
    try {
        if (caption == QLatin1String("Edit")) {
            ShowEditLayer(liveClickedNode());
        } else if (caption == QLatin1String("Add")) {
            ShowAddLayers(pNodeLayers);
        } else if (caption == QLatin1String("ShowText")) {
            ShowText();
        } else if (caption == QLatin1String("EditAttributes")) {
            EditAttributes();
        } else if (caption == QLatin1String("InsertNode")) {
            InsertNode();
        } else if (caption == QLatin1String("EditText")) {
            EditText();
        } else if (caption == QLatin1String("Delete")) {
            const DOMNode node = liveClickedNode();
            if (node.isNull())
                return;
            if (prompts().message(QStringLiteral("Confirm to delete node: ") + node.nodeName(),
                                  MsgButtons::YesNoCancel)
                == MsgResult::Yes) {
                DeleteNode(node);
                m_editor->setModified(true);
            }
        } else if (caption == QLatin1String("Copy")) {
            const DOMNode node = liveClickedNode();
            if (!node.isNull())
                pNodeCopied = node.cloneNode(true);
        } else if (caption == QLatin1String("Paste")) {
            if (!selectedItem()) {
                prompts().message(QStringLiteral("Please select an element node to paste the node in memory."),
                                  MsgButtons::OK);
                return;
            }
            DOMNode node = liveClickedNode();
            if (node.isNull() || node.nodeType() == NODE_TEXT)
                return;
            if (pNodeCopied.isNull()) {
                prompts().message(QStringLiteral("Nothing to copy."), MsgButtons::OK);
                return;
            }
            // The node in memory lives in a document of its own, so appending it puts a
            // fresh copy in and leaves it there to be pasted again. A node that takes no
            // children refuses it, and nothing changes.
            m_editor->appendCopy(node, pNodeCopied);
            m_editor->setModified(true);
        } else if (caption == QLatin1String("SaveToFile")) {
            const DOMNode node = liveClickedNode();
            if (node.isNull())
                prompts().message(QStringLiteral("Nothing to save."), MsgButtons::OK);
            else
                saveRowToFile(node);
        }
    } catch (const DOMException&) {
        // A refused step ends the command; the document keeps what was done before it.
    }
}

void frmMain::EnableLayerCommands(bool bEdit, bool bAdd)
{
    for (qsizetype i = 0; i <= 6 && i < mnuCommands.size(); ++i) {
        QAction* entry = mnuCommands.at(i);
        if (entry->text() == QLatin1String("Edit"))
            entry->setEnabled(bEdit);
        else if (entry->text() == QLatin1String("Add"))
            entry->setEnabled(bAdd);
    }
}

void frmMain::DeleteNode(const DOMNode& xmlNode)
{
    try {
        if (xmlNode.parentNode().isNull())
            return;
        m_editor->removeNode(xmlNode);
    } catch (const DOMException&) {
        // refused: nothing changed
    }
}

FileDialogRequest frmMain::nodeFileRequest()
{
    return {QStringLiteral("Save to an XML file."), kXmlFilter, QString(), QString()};
}

// The file to save to: the dialog again after a refused overwrite or a read-only file;
// nullopt when the user gives up.
std::optional<QString> frmMain::askSaveTarget(const FileDialogRequest& request)
{
    for (;;) {
        const std::optional<QString> chosen = prompts().saveFile(request);
        if (!chosen || chosen->isEmpty())
            return std::nullopt;
        const QString name = *chosen;
        if (!prompts().fileExists(name))
            return name;
        if (!prompts().fileIsReadOnly(name)) {
            if (prompts().message(name + QStringLiteral(" already exist.") + QLatin1Char('\n')
                                      + QStringLiteral("Overwrite ? "),
                                  MsgButtons::YesNoCancel)
                == MsgResult::Yes)
                return name;
        } else {
            prompts().message(name + QStringLiteral(" is ReadOnly.") + QLatin1Char('\n')
                                  + QStringLiteral("Access denied !!!  "),
                              MsgButtons::OK);
        }
    }
}

void frmMain::saveRowToFile(const TreeRow& row)
{
    if (row.isNull())
        return;
    const std::optional<QString> target = askSaveTarget(nodeFileRequest());
    if (!target)
        return;
    const RowSource& source = m_model->source();
    // Nothing is written unless all of it is, and any old file stays whole.
    if (!source.saveSubtree(row, *target)) {
        prompts().message(source.lastError(), MsgButtons::OK);
        return;
    }
    RowDetails d;
    source.read(row, &d, 0);
    prompts().message(QStringLiteral("XMLNode: ") + d.name.section(QLatin1Char(':'), -1) + QStringLiteral(" is saved to ")
                          + *target,
                      MsgButtons::OK);
}

} // namespace treelark
