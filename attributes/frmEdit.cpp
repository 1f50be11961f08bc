#include "frmEdit.h"

#include "AttributeWalks.h"
#include "DocumentEdits.h"
#include "DocumentEditor.h"
#include "Twips.h"
#include "clsWin32API.h"
#include "modUtils.h"
#include "treelark/Prompts.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace treelark {

namespace {

QPointer<frmEdit>& openDialog()
{
    static QPointer<frmEdit> dialog;
    return dialog;
}

} // namespace

frmEdit* frmEdit::instance(QWidget* owner, DocumentEditor* editor)
{
    frmEdit* dialog = openDialog();
    if (!dialog)
        dialog = new frmEdit(owner, editor);
    dialog->setEditor(editor);
    return dialog;
}

frmEdit* frmEdit::openInstance() { return openDialog(); }

frmEdit::frmEdit(QWidget* owner, DocumentEditor* editor) : QWidget(owner, Qt::Tool)
{
    setEditor(editor);
    setObjectName(QStringLiteral("frmEdit"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Edit"));
    openDialog() = this;
    registerForm(this);

    auto place = [this](QWidget* w, int left, int top, int width, int height) {
        w->setGeometry(twipsToPixelsX(left, this), twipsToPixelsY(top, this), twipsToPixelsX(width, this),
                       twipsToPixelsY(height, this));
    };
    Label1 = new QLabel(QStringLiteral("NodeName"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    place(Label1, 45, 45, 1680, 240);
    txtName = new QLineEdit(QStringLiteral("txtName"), this);
    txtName->setObjectName(QStringLiteral("txtName"));
    place(txtName, 0, 360, 1725, 330);
    Label2 = new QLabel(QStringLiteral("Value"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    place(Label2, 1845, 45, 2850, 285);
    txtValue = new QLineEdit(QStringLiteral("txtValue"), this);
    txtValue->setObjectName(QStringLiteral("txtValue"));
    place(txtValue, 1800, 360, 3525, 330);
    chkChildNodes = new QCheckBox(QStringLiteral("Apply to child nodes"), this);
    chkChildNodes->setObjectName(QStringLiteral("chkChildNodes"));
    place(chkChildNodes, 45, 855, 1770, 285);
    chkAdd = new QCheckBox(QStringLiteral("Add "), this);
    chkAdd->setObjectName(QStringLiteral("chkAdd"));
    chkAdd->setToolTip(QStringLiteral("Add the attribute if it does not exist"));
    place(chkAdd, 1890, 855, 1320, 330);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    place(cmdOK, 3330, 810, 1005, 330);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    place(cmdCancel, 4365, 810, 960, 330);
    // Enter and Escape belong to the text boxes, not to the buttons.
    for (QPushButton* b : {cmdOK, cmdCancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    // The designed widths assume the designer's font; a caption never gets cut.
    if (chkChildNodes->sizeHint().width() > chkChildNodes->width()) {
        chkChildNodes->resize(chkChildNodes->sizeHint().width(), chkChildNodes->height());
        chkAdd->move(qMax(chkAdd->x(), chkChildNodes->geometry().right() + twipsToPixelsX(60, this)), chkAdd->y());
    }
    lblReplaces = new QLabel(this);
    lblReplaces->setObjectName(QStringLiteral("lblReplaces"));
    place(lblReplaces, 45, 1230, 5300, 330);
    lblReplaces->hide();
    resize(twipsToPixelsX(5430, this), twipsToPixelsY(1245, this));

    clsWin32API().SetTopMost(this, -1);
    chkChildNodes->setChecked(false);
    chkAdd->setChecked(true);
    chkAdd->hide();
    setTabOrder(txtName, txtValue);
    setTabOrder(txtValue, cmdOK);
    setTabOrder(cmdOK, cmdCancel);
    setTabOrder(cmdCancel, chkChildNodes);
    setTabOrder(chkChildNodes, chkAdd);

    connect(chkChildNodes, &QCheckBox::clicked, this, [this](bool checked) { chkAdd->setVisible(checked); });
    connect(cmdOK, &QPushButton::clicked, this, &frmEdit::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmEdit::cmdCancel_Click);
}

frmEdit::~frmEdit() = default;

void frmEdit::setEditor(DocumentEditor* editor)
{
    if (m_editor)
        disconnect(m_editor, nullptr, this, nullptr);
    m_editor = editor;
    if (editor)
        connect(editor, &DocumentEditor::changed, this, [this] { followChange(); });
}

void frmEdit::followChange()
{
    if (attributeWindowEditing() || !m_targetInDocument || !isVisible())
        return;
    if (!isInDocument(m_editor, pNodeTarget)) {
        closeBecause(pNodeTarget.nodeName() + QStringLiteral(" is no longer in the document"));
        return;
    }
    if (!m_attributeName.isEmpty() && GetpAttributeByName(pNodeTarget, m_attributeName).isNull())
        closeBecause(QStringLiteral("the attribute ") + m_attributeName + QStringLiteral(" is no longer on ")
                     + pNodeTarget.nodeName());
}

void frmEdit::closeBecause(const QString& what)
{
    m_targetInDocument = false;
    cmdCancel_Click();
    prompts().message(QStringLiteral("The edit dialog was closed: ") + what + QLatin1Char('.'), MsgButtons::OK);
}

bool frmEdit::nodeTextMode() const { return !txtName->isEnabled(); }

QTreeWidgetItem* frmEdit::targetRow() const
{
    if (!oItemTarget || !m_list || m_list->indexOfTopLevelItem(oItemTarget) < 0)
        return nullptr;
    return oItemTarget;
}

void frmEdit::SetNodeText(const DOMNode& pNode)
{
    if (pNode.isNull())
        return;
    pNodeTarget = pNode;
    pAttributeTarget = DOMNode();
    m_targetInDocument = isInDocument(m_editor, pNode);
    m_attributeName.clear();
    try {
        txtName->setText(pNode.baseName());
        txtValue->setText(pNode.text());
    } catch (const DOMException& e) {
        refused(QStringLiteral("Reading the text of ") + pNode.nodeName(), e);
    }
    txtName->setEnabled(false);
    bAdd = false;
    Label1->setText(QStringLiteral("NodeName:"));
    Label2->setText(QStringLiteral("Value:"));
    // The text takes the place of everything under the node; a user who sees only the
    // text box would not know that child elements go too (OK is still one undoable step).
    qint64 elements = 0;
    for (DOMNode c = pNode.firstChild(); !c.isNull(); c = c.nextSibling())
        elements += c.nodeType() == NODE_ELEMENT;
    showReplaces(elements);
}

void frmEdit::showReplaces(qint64 elements)
{
    lblReplaces->setText(QStringLiteral("OK replaces its %1 child element(s) by the text.").arg(elements));
    lblReplaces->setVisible(elements > 0);
    resize(width(), twipsToPixelsY(elements > 0 ? 1650 : 1245, this));
}

void frmEdit::SetAttribute(const DOMNode& pNode, const DOMNode& pAttribute, QTreeWidgetItem* oItemIn, bool bAddIn)
{
    pNodeTarget = pNode;
    pAttributeTarget = pAttribute;
    m_targetInDocument = isInDocument(m_editor, pNode);
    m_attributeName.clear();
    showReplaces(0);
    txtName->setEnabled(true);
    if (!pAttribute.isNull()) {
        try {
            txtValue->setText(pAttribute.value());
            txtName->setText(pAttribute.nodeName());
            m_attributeName = pAttribute.nodeName();
        } catch (const DOMException& e) {
            refused(QStringLiteral("Reading the attribute"), e);
        }
    }
    oItemTarget = oItemIn;
    m_list = oItemIn ? oItemIn->treeWidget() : nullptr;
    Label1->setText(QStringLiteral("AttributeName:"));
    Label2->setText(QStringLiteral("Value:"));
    bAdd = bAddIn;
    setWindowTitle(bAdd ? QStringLiteral("Add") : QStringLiteral("Edit"));
    focusFirstBox();
}

void frmEdit::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    focusFirstBox();
}

void frmEdit::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    focusFirstBox();
}

void frmEdit::closeEvent(QCloseEvent* event)
{
    // A closed dialog is on its way out: the next caller gets a fresh one.
    if (openDialog() == this)
        openDialog() = nullptr;
    QWidget::closeEvent(event);
}

void frmEdit::focusFirstBox() { (bAdd ? txtName : txtValue)->setFocus(); }

void frmEdit::cmdOK_Click()
{
    const QString name = txtName->text();
    const QString value = txtValue->text();
    bool done = true;
    if (nodeTextMode())
        done = okNodeText();
    else if (pNodeTarget.isNull())
        done = true;
    else if (bAdd)
        done = okAdd(name, value);
    else
        done = okEdit(name, value);
    // A refused change leaves the dialog open to be put right.
    if (!done)
        return;
    close();
}

bool frmEdit::okNodeText()
{
    if (pNodeTarget.isNull())
        return true;
    const QString value = txtValue->text();
    try {
        applyEdit(m_editor, QStringLiteral("Edit text of ") + pNodeTarget.nodeName(), pNodeTarget, [&] {
            DOMNode node = pNodeTarget;
            node.setText(value);
        });
    } catch (const DOMException& e) {
        refused(QStringLiteral("Setting the text of ") + pNodeTarget.nodeName() + QStringLiteral(" to \"") + value
                    + QLatin1Char('"'),
                e);
        return false;
    }
    return true;
}

bool frmEdit::okAdd(const QString& name, const QString& value)
{
    if (name.isEmpty())
        return true; // nothing to add; the attribute editor keeps its empty row
    const bool children = chkChildNodes->isChecked();
    const bool addMissing = chkAdd->isChecked();
    WalkRefusals skipped;
    try {
        applyEdit(m_editor, QStringLiteral("Add attribute ") + name, pNodeTarget, [&] {
            DOMNode element = pNodeTarget;
            element.setAttribute(name, value);
            if (children)
                ApplyToChildNodes(element, name, value, addMissing, &skipped);
        });
    } catch (const DOMException& e) {
        refused(QStringLiteral("Adding the attribute \"") + name + QStringLiteral("\" = \"") + value
                    + QLatin1Char('"'),
                e);
        return false;
    }
    writeRow(name, value);
    if (skipped.count > 0)
        prompts().message(skipped.text(), MsgButtons::OK);
    return true;
}

bool frmEdit::okEdit(const QString& name, const QString& value)
{
    QString oldName, oldValue;
    bool changed = true;
    if (!pAttributeTarget.isNull()) {
        try {
            oldName = pAttributeTarget.nodeName();
            oldValue = pAttributeTarget.value();
            changed = value != oldValue || name != oldName;
        } catch (const DOMException&) {
            changed = true; // an attribute that cannot be read is written afresh
        }
    }
    const bool children = chkChildNodes->isChecked();
    const bool addMissing = chkAdd->isChecked();
    WalkRefusals skipped;
    try {
        applyEdit(m_editor, QStringLiteral("Edit attribute ") + name, pNodeTarget, [&] {
            DOMNode element = pNodeTarget;
            if (changed) {
                // Removed first and set again, so the attribute goes to the end of the
                // element's attributes even when only its value changed.
                if (!oldName.isEmpty())
                    element.removeAttribute(oldName);
                element.setAttribute(name, value);
            }
            // Descendants are matched by the new name only: a rename is not carried down.
            if (children)
                ApplyToChildNodes(element, name, value, addMissing, &skipped);
        });
    } catch (const DOMException& e) {
        refused(QStringLiteral("Setting the attribute \"") + name + QStringLiteral("\" = \"") + value
                    + QLatin1Char('"'),
                e);
        return false;
    }
    if (changed)
        writeRow(name, value);
    if (skipped.count > 0)
        prompts().message(skipped.text(), MsgButtons::OK);
    return true;
}

void frmEdit::writeRow(const QString& name, const QString& value)
{
    QTreeWidgetItem* row = targetRow();
    if (!row)
        return;
    row->setText(0, name);
    row->setText(1, value);
    row->setData(0, Qt::UserRole, QVariant::fromValue(GetpAttributeByName(pNodeTarget, name)));
}

void frmEdit::refused(const QString& what, const DOMException& e)
{
    prompts().message(refusalText(what, e), MsgButtons::OK);
}

void frmEdit::cmdCancel_Click()
{
    // The empty row the attribute editor's "Add" appended goes with the dialog.
    if (bAdd) {
        if (QTreeWidgetItem* row = targetRow(); row && m_list->window()->isVisible())
            delete row;
        oItemTarget = nullptr;
    }
    close();
}

} // namespace treelark
