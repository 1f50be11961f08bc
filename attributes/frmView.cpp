#include "frmView.h"

#include "AttributeWalks.h"
#include "DocumentEdits.h"
#include "DocumentEditor.h"
#include "SortListByColumn.h"
#include "Twips.h"
#include "clsWin32API.h"
#include "frmEdit.h"
#include "modUtils.h"
#include "treelark/Prompts.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>

namespace treelark {

namespace {

DOMNode rowTag(const QTreeWidgetItem* row) { return row ? row->data(0, Qt::UserRole).value<DOMNode>() : DOMNode(); }

// A list row that sorts as people read names and values: letter case aside.
class ListRow : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        const int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        const int byCase = text(column).compare(other.text(column), Qt::CaseInsensitive);
        return byCase != 0 ? byCase < 0 : text(column) < other.text(column);
    }
};

} // namespace

frmView::frmView(QWidget* owner, DocumentEditor* editor) : QWidget(owner, Qt::Tool)
{
    setEditor(editor);
    setObjectName(QStringLiteral("frmView"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Attribute Editor"));
    registerForm(this);

    lvwInfo = new QTreeWidget(this);
    lvwInfo->setObjectName(QStringLiteral("lvwInfo"));
    lvwInfo->setRootIsDecorated(false);
    lvwInfo->setUniformRowHeights(true);
    lvwInfo->setSelectionMode(QAbstractItemView::SingleSelection);
    lvwInfo->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvwInfo->setGeometry(twipsToPixelsX(90, this), twipsToPixelsY(135, this), twipsToPixelsX(5010, this),
                         twipsToPixelsY(2850, this));
    lvwInfo->header()->setSectionsClickable(true);
    lvwInfo->header()->setStretchLastSection(false);
    lvwInfo->viewport()->installEventFilter(this);
    lvwInfo->installEventFilter(this);
    connect(lvwInfo->header(), &QHeaderView::sectionClicked, this,
            [this](int section) { SortListByColumn(lvwInfo, section); });

    txtEditor = new QLineEdit(this);
    txtEditor->setObjectName(QStringLiteral("txtEditor"));
    txtEditor->installEventFilter(this);
    connect(txtEditor, &QLineEdit::returnPressed, this, &frmView::txtEditor_Commit);

    Frame1 = new QFrame(this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::StyledPanel);
    Frame1->setGeometry(twipsToPixelsX(900, this), twipsToPixelsY(3105, this), twipsToPixelsX(2955, this),
                        twipsToPixelsY(690, this));
    cmdClose = new QPushButton(QStringLiteral("OK"), Frame1);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    cmdClose->setGeometry(twipsToPixelsX(225, this), twipsToPixelsY(225, this), twipsToPixelsX(1230, this),
                          twipsToPixelsY(375, this));
    cmdCancel = new QPushButton(QStringLiteral("CANCEL"), Frame1);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    cmdCancel->setGeometry(twipsToPixelsX(1485, this), twipsToPixelsY(225, this), twipsToPixelsX(1230, this),
                           twipsToPixelsY(375, this));
    for (QPushButton* b : {cmdClose, cmdCancel})
        b->setAutoDefault(false);
    connect(cmdClose, &QPushButton::clicked, this, &frmView::cmdClose_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmView::cmdCancel_Click);

    // A popup of its own, never part of a menu bar.
    mnuPopUp = new QMenu(this);
    mnuPopUp->setObjectName(QStringLiteral("mnuPopUp"));
    for (const char* caption : {"Edit", "Add", "Delete", "-", "CopyNameValue", "-", "ToUpper", "ToLower"}) {
        QAction* entry = mnuPopUp->addAction(QLatin1String(caption));
        entry->setSeparator(QLatin1String(caption) == QLatin1String("-"));
        mnuCommands.append(entry);
    }
    connect(mnuPopUp, &QMenu::triggered, this, [this](QAction* entry) { mnuCommands_Click(entry->text()); });

    resize(twipsToPixelsX(5220, this), twipsToPixelsY(3930, this));
    clsWin32API().SetTopMost(this, -1);
    txtEditor->hide();
    ResetlvwInfo();
}

frmView::~frmView() = default;

void frmView::setEditor(DocumentEditor* editor)
{
    if (m_editor)
        disconnect(m_editor, nullptr, this, nullptr);
    m_editor = editor;
    if (editor)
        connect(editor, &DocumentEditor::changed, this, &frmView::followChange);
}

void frmView::followChange(const DocumentChange& change)
{
    if (attributeWindowEditing() || bAddingNode || pNodeCurrent.isNull())
        return;
    if (!isInDocument(m_editor, pNodeCurrent)) {
        const QString name = pNodeCurrent.nodeName();
        pNodeCurrent = DOMNode();
        closeEditDialog();
        close();
        prompts().message(QStringLiteral("The element ") + name
                              + QStringLiteral(" is no longer in the document; its attribute editor was closed."),
                          MsgButtons::OK);
        return;
    }
    if (std::find(change.nodes.begin(), change.nodes.end(), pNodeCurrent) != change.nodes.end()) {
        closeEditDialog(); // its row is about to go
        FilllvwInfo(pNodeCurrent);
    }
}

QTreeWidgetItem* frmView::selectedRow() const { return rowAlive(oItemSelected) ? oItemSelected : nullptr; }

bool frmView::rowAlive(QTreeWidgetItem* row) const { return row && lvwInfo->indexOfTopLevelItem(row) >= 0; }

void frmView::ResetlvwInfo()
{
    clsWin32API().SetListViewExtendedAttrib(lvwInfo, 97);
    // The rows go: whatever pointed at them is let go first.
    if (txtEditor->isVisible()) {
        oItemEditing = nullptr;
        txtEditor->hide();
    }
    oItemSelected = nullptr;
    oItemEditing = nullptr;
    lvwInfo->clear();
    lvwInfo->setColumnCount(2);
    lvwInfo->setHeaderLabels({QStringLiteral("FIELD"), QStringLiteral("VALUE")});
    const int width = pixelsToTwipsX(lvwInfo->width(), this);
    lvwInfo->setColumnWidth(0, twipsToPixelsX(width / 3, this));
    lvwInfo->setColumnWidth(1, twipsToPixelsX(int(width * 1.9 / 3), this));
}

void frmView::FilllvwInfo(const DOMNode& pNode)
{
    ResetlvwInfo();
    if (pNode.isNull())
        return;
    pNodeCurrent = pNode;
    try {
        const DOMNamedNodeMap attrs = pNode.attributes();
        if (attrs.isNull())
            return;
        const qint64 n = attrs.length();
        QList<QTreeWidgetItem*> rows;
        rows.reserve(n);
        for (qint64 i = 0; i < n; ++i) {
            const DOMNode a = attrs.item(i);
            auto* row = new ListRow(QStringList{a.baseName(), a.value()});
            row->setData(0, Qt::UserRole, QVariant::fromValue(a));
            rows.append(row);
        }
        lvwInfo->addTopLevelItems(rows);
    } catch (const DOMException& e) {
        prompts().message(refusalText(QStringLiteral("Reading the attributes of ") + pNode.nodeName(), e),
                          MsgButtons::OK);
    }
    ResortList(lvwInfo); // a list the user sorted stays sorted when refilled
}

void frmView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmView::Form_Resize()
{
    if (isMinimized() || isMaximized())
        return;
    // W and H are the outer size, frame included where the window system has one.
    const QSize frame = frameGeometry().size() - size();
    int W = pixelsToTwipsX(frameGeometry().width(), this);
    int H = pixelsToTwipsY(frameGeometry().height(), this);
    if (W < 500 || H < 1600) {
        W = 500;
        H = 1600;
        resize(twipsToPixelsX(W, this) - frame.width(), twipsToPixelsY(H, this) - frame.height());
    }
    const int listWidth = W - 400;
    const int listHeight = H - 1300;
    lvwInfo->resize(twipsToPixelsX(listWidth, this), twipsToPixelsY(listHeight, this));
    const int frameWidth = pixelsToTwipsX(Frame1->width(), this);
    Frame1->move(twipsToPixelsX((W - frameWidth) / 2, this), twipsToPixelsY(listHeight + 100, this));
    if (lvwInfo->columnCount() >= 1) {
        lvwInfo->setColumnWidth(0, twipsToPixelsX(listWidth / 3, this));
        lvwInfo->setColumnWidth(1, twipsToPixelsX(int(listWidth * 1.9 / 3), this));
    }
}

void frmView::lvwInfo_MouseDown(Qt::MouseButton button, const QPoint& listPos, const QPoint& globalPos)
{
    QTreeWidgetItem* hit = lvwInfo->itemAt(lvwInfo->viewport()->mapFrom(lvwInfo, listPos));
    lvwInfo->setCurrentItem(hit);
    if (!hit)
        lvwInfo->clearSelection();
    if (txtEditor->isVisible())
        txtEditor_Commit();
    if (hit)
        oItemSelected = hit;
    if (button != Qt::RightButton)
        return;
    // Below the rows, and in an empty list above all, the popup still opens: Add is how
    // an element gets its first attribute. What needs a row stays disabled there.
    if (!hit)
        oItemSelected = nullptr;
    xPopup = pixelsToTwipsX(listPos.x(), this);
    yPopup = pixelsToTwipsY(listPos.y(), this);
    const bool named = hit && !hit->text(0).isEmpty();
    pAttributeSelected = named ? rowTag(hit) : DOMNode();
    for (const char* caption : {"Delete", "Edit"})
        if (QAction* entry = FindMenuByCaption(mnuCommands, QLatin1String(caption)))
            entry->setEnabled(named);
    for (const char* caption : {"ToUpper", "ToLower"})
        if (QAction* entry = FindMenuByCaption(mnuCommands, QLatin1String(caption)))
            entry->setEnabled(hit != nullptr);
    mnuPopUp->popup(globalPos);
}

void frmView::lvwInfo_DblClick()
{
    QTreeWidgetItem* row = lvwInfo->currentItem();
    if (!row || !row->isSelected())
        return;
    if (txtEditor->isVisible()) {
        txtEditor_Commit();
        return;
    }
    oItemEditing = row;
    txtEditor->setText(row->text(1));
    // Over the row's VALUE cell.
    const QRect cell = lvwInfo->visualItemRect(row);
    const QPoint topLeft = lvwInfo->viewport()->mapTo(this, QPoint(lvwInfo->columnViewportPosition(1), cell.top()));
    txtEditor->setGeometry(topLeft.x() + twipsToPixelsX(40, this), topLeft.y(), lvwInfo->columnWidth(1),
                           cell.height());
    txtEditor->show();
    txtEditor->raise();
    txtEditor->setFocus();
}

void frmView::txtEditor_Commit()
{
    if (m_committing)
        return;
    m_committing = true;
    QTreeWidgetItem* row = rowAlive(oItemEditing) ? oItemEditing : nullptr;
    oItemEditing = nullptr;
    const QString value = txtEditor->text();
    txtEditor->hide();
    if (row) {
        const QString name = row->text(0);
        try {
            if (!name.isEmpty() && !pNodeCurrent.isNull())
                applyEdit(m_editor, QStringLiteral("Set attribute ") + name, pNodeCurrent, [&] {
                    DOMNode element = pNodeCurrent;
                    element.setAttribute(name, value);
                });
            row->setText(1, value);
        } catch (const DOMException& e) {
            // The row keeps the value the element still has.
            prompts().message(refusalText(QStringLiteral("Setting the attribute \"") + name + QStringLiteral("\" = \"")
                                              + value + QLatin1Char('"'),
                                          e),
                              MsgButtons::OK);
        }
    }
    m_committing = false;
}

void frmView::mnuCommands_Click(const QString& caption)
{
    if (caption == QLatin1String("Edit")) {
        openEditDialog(pAttributeSelected, false);
    } else if (caption == QLatin1String("Add")) {
        auto* row = new ListRow(lvwInfo);
        oItemSelected = row;
        openEditDialog(DOMNode(), true);
    } else if (caption == QLatin1String("Delete")) {
        deleteSelected();
    } else if (caption == QLatin1String("CopyNameValue")) {
        WalkRefusals skipped;
        try {
            applyEdit(m_editor, QStringLiteral("Copy Name to aliases"), pNodeCurrent,
                      [&] { CopyNameToAliases(pNodeCurrent, &skipped); });
        } catch (const DOMException& e) {
            prompts().message(refusalText(QStringLiteral("Copying the Name into the aliases"), e), MsgButtons::OK);
        }
        tellSkipped(skipped);
        FilllvwInfo(pNodeCurrent);
    } else if (caption == QLatin1String("ToUpper")) {
        changeCase(true);
    } else if (caption == QLatin1String("ToLower")) {
        changeCase(false);
    }
}

void frmView::openEditDialog(const DOMNode& attribute, bool adding)
{
    frmEdit* dialog = frmEdit::instance(this, m_editor);
    dialog->SetAttribute(pNodeCurrent, attribute, selectedRow(), adding);
    // Placed at the last right-click, measured from this window's outer corner.
    const QPoint corner = frameGeometry().topLeft();
    const int left = pixelsToTwipsX(corner.x(), this) + xPopup;
    const int top = pixelsToTwipsY(corner.y(), this) + yPopup;
    dialog->move(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
    dialog->show();
    dialog->raise();
    dialog->activateWindow(); // the keys go where the user now works, also without a window manager giving focus
}

void frmView::deleteSelected()
{
    QTreeWidgetItem* row = selectedRow();
    if (!row || row->text(0).isEmpty())
        return;
    const QString name = row->text(0);
    const QString text = QStringLiteral("Apply the delete attribute operation recursively to its child-nodes?\r\n"
                                        "Yes - apply the delete operation to child-nodes.\r\n"
                                        "No - apply the delete operation to current node only.\r\n"
                                        "Cancel - do not delete.");
    const MsgResult answer = prompts().message(
        text, MsgButtons::YesNoCancel,
        QStringLiteral("Deleting attribute ") + name + QStringLiteral("(=") + row->text(1) + QLatin1Char(')'));
    if (answer != MsgResult::Yes && answer != MsgResult::No)
        return;
    delete row;
    oItemSelected = nullptr;
    const bool recursive = answer == MsgResult::Yes;
    WalkRefusals skipped;
    try {
        applyEdit(m_editor, QStringLiteral("Delete attribute ") + name, pNodeCurrent,
                  [&] { DeleteAttribute(pNodeCurrent, name, recursive, &skipped); });
    } catch (const DOMException& e) {
        prompts().message(refusalText(QStringLiteral("Deleting the attribute \"") + name + QLatin1Char('"'), e),
                          MsgButtons::OK);
        FilllvwInfo(pNodeCurrent); // the row shows the attribute the element kept
        return;
    }
    tellSkipped(skipped);
}

void frmView::tellSkipped(const WalkRefusals& skipped)
{
    if (skipped.count > 0)
        prompts().message(skipped.text(), MsgButtons::OK);
}

void frmView::changeCase(bool upper)
{
    const MsgResult answer = prompts().message(QStringLiteral("Apply the operation recursively to its child-nodes?"),
                                               MsgButtons::YesNoCancel, QStringLiteral("Attribute Editing"));
    if (answer != MsgResult::Yes && answer != MsgResult::No)
        return;
    QTreeWidgetItem* row = selectedRow();
    if (!row)
        return;
    const QString name = row->text(0);
    const bool recursive = answer == MsgResult::Yes;
    WalkRefusals skipped;
    try {
        applyEdit(m_editor, (upper ? QStringLiteral("Upper case ") : QStringLiteral("Lower case ")) + name,
                  pNodeCurrent, [&] { ChangeAttributeCase(pNodeCurrent, name, upper, recursive, &skipped); });
    } catch (const DOMException& e) {
        prompts().message(refusalText(QStringLiteral("Changing the case of \"") + name + QLatin1Char('"'), e),
                          MsgButtons::OK);
        return;
    }
    tellSkipped(skipped);
    row->setText(1, upper ? row->text(1).toUpper() : row->text(1).toLower());
}

void frmView::cmdClose_Click()
{
    if (txtEditor->isVisible())
        txtEditor_Commit();
    if (bAddingNode)
        emit NodeAdded(true, pNodeCurrent);
    closeEditDialog();
    close();
}

void frmView::cmdCancel_Click()
{
    if (bAddingNode)
        emit NodeAdded(false, pNodeCurrent);
    closeEditDialog();
    close();
}

// Only a dialog opened on one of this list's rows goes with it; one the main window
// opened on a node's text is not this window's to close.
void frmView::closeEditDialog()
{
    frmEdit* dialog = frmEdit::openInstance();
    if (dialog && !dialog->nodeTextMode()
        && (!dialog->targetRow() || dialog->targetRow()->treeWidget() == lvwInfo))
        dialog->close();
}

void frmView::closeEvent(QCloseEvent* event)
{
    // The edit dialog may hold one of this list's rows; it does not outlive the list.
    closeEditDialog();
    QWidget::closeEvent(event);
}

} // namespace treelark
