// The main window: the shell that holds the widgets (toolbar, validation switch, name
// box, information pane, document tree, status line), lays them out, remembers where the
// user left them, and wires each part of the window to the document session:
//   MainToolbar      the buttons, their keys and the validation switch
//   LoadController   opening documents, the unsaved-work question before replacing one
//   SaveCommands     saving, and the close prompt
//   SearchController name and XPath search, path insertion, Next
//   NodeMenu         the node command menu, handing commands to NodeCommands,
//                    AttributeCommands and LayerCommands
//   TreeDragDrop     moving a node by dragging it in the tree
//   MergeController  merging a second document
//   PrintController  printing a snapshot of the window
//   InfoPane         describing rows in the pane and on the status line
//   ValidationController  Validate (F7) and the Problems panel it fills
// What is open (the manager, the document, its history, the tree's rows, the names) is
// the session's; no part keeps a copy of it.
//
// Errors in the windows: nothing is thrown at the user. A change the document refuses is
// said (status line, or a message where the command is a dialog's) and the document stays
// as it was; a cancelled dialog ends its command silently.
#pragma once

#include "DocumentTreeModel.h"
#include "treelark/ApXmlMgr.h"
#include "treelark/DocumentIndex.h"

#include <QMainWindow>

#include <memory>

class QAction;
class QFrame;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSplitter;
class QStatusBar;
class QTextEdit;
class QToolBar;
class QTreeView;

namespace treelark {

class AttributeCommands;
struct ClickedNode;
class DocumentSession;
class InfoPane;
class LayerCommands;
class LoadController;
class LoadProgress;
class MainToolbar;
class MergeController;
class NodeCommands;
class NodeMenu;
class PrintController;
class ProblemsPanel;
class SaveCommands;
class SearchController;
class StatusLine;
class TreeDragDrop;
class TreeNavigator;
class ValidationController;
class frmView;
class FindReplaceWindow;

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    // `commandLine` is the text the program was started with (file name or address).
    // When the document named on the command line is read: before the constructor returns
    // (what tests want), or once the window is on screen (what a person starting the
    // program wants: the window first, then the progress bar, then the tree).
    enum class StartLoad { Now, WhenShown };
    explicit frmMain(const QString& commandLine = QString(), QWidget* parent = nullptr,
                     StartLoad when = StartLoad::Now);
    ~frmMain() override;

    DocumentSession& session() const { return *m_session; }

    // The only writer of the status line.
    void SetMsg(const QString& strMsg);
    QString statusText() const;

    // Toolbar actions by key: "browse", "load", "save", "merge", "next", "print", "undo",
    // "redo", "layertext".
    void toolbarClick(const QString& key);
    QAction* toolbarButton(const QString& key) const;
    bool SaveDocument();
    bool MergeDocument();

    // The parts' gestures, as the widgets' events reach them.
    void cmdGetNode_MouseDown(Qt::KeyboardModifiers shift);
    void selectNextMatch();
    QString GetNodeInfo(const DOMNode& node, const QString& sSep) const;
    void treeClick();
    void txtNodeName_Click();
    void txtInfo_DropFiles(const QStringList& paths);
    void txtNodeName_DropFiles(const QStringList& paths);
    void DispAttributes(const DOMNode& pNode, const QString& sTitle);
    void treeMouseDown(Qt::MouseButton button, const QPoint& pos);
    void runMenuCommand(const QString& caption);
    void treeDrop(TreeItem* dropItem);
    TreeItem* selectedItem() const;
    void selectItem(TreeItem* item);

    // State the other windows and the tests look at.
    ApXmlMgr* xmlMgr() const;
    DOMDocumentPtr document() const;
    DocumentEditor* editor() const;
    // The Find and Replace window, opened as Ctrl+H opens it.
    FindReplaceWindow* findReplace();
    DocumentTreeModel* treeModel() const { return m_model; }
    QString currentUrl() const;
    QString loadedFile() const;
    QString documentFile() const;
    bool validation() const { return bValidation; }
    QList<QAction*> popupEntries() const;
    QStringList recentDocuments() const;
    frmView* attributeEditor() const;
    bool isLargeForm() const;
    const DocumentIndex* largeDocument() const;
    /// Open every file in large document form, whatever its size (the --large option).
    void setAlwaysLargeForm(bool always);
    /// Where large document indexes are kept between runs ("": the user's cache folder).
    void setIndexCacheFolder(const QString& folder);
    /// The line at fault and a caret under `column` (1-based), as the pane shows them.
    static QString faultExcerpt(const QString& line, qint64 column);

    // Controls, named as everywhere else in the program.
    QToolBar* Toolbar1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QRadioButton* optOn = nullptr;
    QRadioButton* optOff = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QFrame* Frame1 = nullptr;
    QLineEdit* txtNodeName = nullptr;
    QPushButton* cmdGetNode = nullptr;
    QTextEdit* txtInfo = nullptr;
    QTreeView* TreeView1 = nullptr;
    QMenu* mnuPopUp = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildParts();
    void installKeys();
    void restoreSplit();
    void windowLoad(const QString& commandLine);
    void startLoadOnceExposed(int tries);
    void SetValidation();
    // Ctrl+H: the Find and Replace window, made on first use with its hooks into this one.
    void openFindReplace();

    DocumentSession* m_session = nullptr;
    DocumentTreeModel* m_model = nullptr;
    std::unique_ptr<StatusLine> m_status;
    std::unique_ptr<TreeNavigator> m_tree;
    std::unique_ptr<InfoPane> m_pane;
    std::unique_ptr<SaveCommands> m_save;
    std::unique_ptr<NodeCommands> m_nodes;
    std::unique_ptr<PrintController> m_print;
    std::unique_ptr<ClickedNode> m_clicked;
    MainToolbar* m_toolbar = nullptr;
    LoadProgress* m_progress = nullptr;
    LoadController* m_loader = nullptr;
    SearchController* m_search = nullptr;
    ProblemsPanel* m_problems = nullptr;
    ValidationController* m_validation = nullptr;
    AttributeCommands* m_attributes = nullptr;
    LayerCommands* m_layers = nullptr;
    NodeMenu* m_menu = nullptr;
    TreeDragDrop* m_drag = nullptr;
    MergeController* m_merge = nullptr;
    FindReplaceWindow* m_findReplace = nullptr; // made when first asked for

    bool bValidation = false;
    bool m_loadWhenShown = false;
    QSplitter* m_split = nullptr;
};

} // namespace treelark
