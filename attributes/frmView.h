// The attribute editor: an always-on-top tool window listing the attributes of one
// element as a FIELD/VALUE table. Values are edited in place (double-click, then Enter
// or leave the box); a popup adds, edits and deletes attributes (also down the subtree),
// copies the Name into the alias attributes and changes the case of a value. It opens
// for an element of the document, or for a new element "InsertNode" is filling in, which
// reaches the document only when the window closes with OK (NodeAdded).
#pragma once

#include "treelark/dom.h"

#include <QWidget>

class QAction;
class QFrame;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace treelark {

class DocumentEditor;
struct DocumentChange;
struct WalkRefusals;

class frmView : public QWidget {
    Q_OBJECT
public:
    // Changes go through `editor` (nullptr: made directly).
    explicit frmView(QWidget* owner = nullptr, DocumentEditor* editor = nullptr);
    ~frmView() override;

    // Changes go through `editor`, and the list follows what others change there.
    void setEditor(DocumentEditor* editor);

    // True while the listed element is a new one, not yet in the document.
    bool bAddingNode = false;

    // Lists pNode's attributes.
    void FilllvwInfo(const DOMNode& pNode);
    void ResetlvwInfo();

    // The popup's commands, by caption.
    void mnuCommands_Click(const QString& caption);
    void cmdClose_Click();
    void cmdCancel_Click();
    // Writes the in-place editor's text into its row and the element.
    void txtEditor_Commit();

    // State the tests look at.
    DOMNode currentNode() const { return pNodeCurrent; }
    QTreeWidgetItem* selectedRow() const;
    DOMNode selectedAttribute() const { return pAttributeSelected; }
    QPoint popupPosition() const { return QPoint(xPopup, yPopup); } // twips, in the list

    // Controls, named as everywhere else in the program.
    QTreeWidget* lvwInfo = nullptr;
    QLineEdit* txtEditor = nullptr;
    QFrame* Frame1 = nullptr;
    QPushButton* cmdClose = nullptr;
    QPushButton* cmdCancel = nullptr;
    QMenu* mnuPopUp = nullptr;
    QList<QAction*> mnuCommands;

signals:
    // On closing when bAddingNode: bOK true for OK, false for CANCEL.
    void NodeAdded(bool bOK, const treelark::DOMNode& pNodeNew);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // By keyboard alone: Enter is OK (CANCEL when it has the focus), Escape is CANCEL.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The list's keys: F2 edits the value in place, Delete deletes, the menu key (or
    // Shift+F10) opens the popup at the current row as a right-click there would.
    bool listKeyPressed(QKeyEvent* event);
    void popupAtCurrentRow();
    void Form_Resize();
    void lvwInfo_MouseDown(Qt::MouseButton button, const QPoint& listPos, const QPoint& globalPos);
    void lvwInfo_DblClick();
    void openEditDialog(const DOMNode& attribute, bool adding);
    void deleteSelected();
    void changeCase(bool upper);
    bool rowAlive(QTreeWidgetItem* row) const;
    void closeEditDialog();
    // Elements a subtree-wide change left as they were, said once at the end.
    void tellSkipped(const WalkRefusals& skipped);
    // Another change to the document (an undo, the main window's): the list shows the
    // element as it is now, or the window closes, saying why, once the element is gone.
    void followChange(const DocumentChange& change);

    DocumentEditor* m_editor = nullptr;
    DOMNode pNodeCurrent;
    QTreeWidgetItem* oItemSelected = nullptr;
    DOMNode pAttributeSelected;
    int xPopup = 0;
    int yPopup = 0;
    QTreeWidgetItem* oItemEditing = nullptr;
    bool m_committing = false;
};

} // namespace treelark
