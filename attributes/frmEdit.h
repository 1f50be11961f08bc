// The small always-on-top dialog that changes one thing: the text of a node (opened by
// the main window's "EditText"), or one attribute of an element, edited or added, also
// down the element's subtree (opened by the attribute editor's "Edit" and "Add"). OK
// writes and closes; Cancel only closes. The dialog goes on OK and Cancel.
#pragma once

#include "treelark/dom.h"

#include <QPointer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace treelark {

class DocumentEditor;

class frmEdit : public QWidget {
    Q_OBJECT
public:
    // The one dialog: the open one, or a new one owned by `owner`. Its changes go through
    // `editor` (which may be nullptr: changes are then made directly).
    static frmEdit* instance(QWidget* owner, DocumentEditor* editor);
    // The dialog while it is open, else nullptr.
    static frmEdit* openInstance();

    explicit frmEdit(QWidget* owner = nullptr, DocumentEditor* editor = nullptr);
    ~frmEdit() override;

    // Changes go through `editor`; the dialog follows what others change there.
    void setEditor(DocumentEditor* editor);

    // Node-text mode. An empty pNode leaves the dialog as it is.
    void SetNodeText(const DOMNode& pNode);
    // Attribute modes: edit pAttribute of pNode, or (bAddIn) add one; oItemIn is the
    // attribute editor's row that shows it, written back on OK.
    void SetAttribute(const DOMNode& pNode, const DOMNode& pAttribute, QTreeWidgetItem* oItemIn, bool bAddIn);

    void cmdOK_Click();
    void cmdCancel_Click();

    bool addMode() const { return bAdd; }
    bool nodeTextMode() const;
    DOMNode targetNode() const { return pNodeTarget; }
    QTreeWidgetItem* targetRow() const;

    // Controls, named as everywhere else in the program.
    QLabel* Label1 = nullptr;
    QLineEdit* txtName = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtValue = nullptr;
    QCheckBox* chkChildNodes = nullptr;
    QCheckBox* chkAdd = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    // Said before OK when the node's text replaces child elements.
    QLabel* lblReplaces = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void focusFirstBox();
    void showReplaces(qint64 elements);
    bool okNodeText();
    bool okAdd(const QString& name, const QString& value);
    bool okEdit(const QString& name, const QString& value);
    void writeRow(const QString& name, const QString& value);
    void refused(const QString& what, const DOMException& e);
    // Another change to the document (an undo, the main window's): once what the dialog
    // edits is gone, it closes, saying why. What the user typed is never overwritten.
    void followChange();
    void closeBecause(const QString& what);

    DocumentEditor* m_editor = nullptr;
    DOMNode pNodeTarget;
    DOMNode pAttributeTarget;
    // The row lives in the attribute editor's list, which may refill or go while this
    // dialog is open: it is used only while the list still holds it.
    QPointer<QTreeWidget> m_list;
    QTreeWidgetItem* oItemTarget = nullptr;
    bool bAdd = false;
    bool m_targetInDocument = false;
    QString m_attributeName; // the attribute being edited, by the name it had
};

} // namespace treelark
