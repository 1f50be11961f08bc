// The main window: toolbar, validation switch, name box, information pane, the
// document tree and the status line. It owns the document managers and the open
// document, and lives for the whole run.
#pragma once

#include "DocumentTreeModel.h"
#include "treelark/ApXmlMgr.h"
#include "treelark/DocumentIndex.h"
#include "treelark/Prompts.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSplitter;
class QStatusBar;
class QTextEdit;
class QToolBar;
class QTreeView;

namespace treelark {

class frmMessage;
class frmView;
class frmXmlCreator;

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

    // The only writer of the status line.
    void SetMsg(const QString& strMsg);
    QString statusText() const;

    // Builds the tree from xmlNode (the document element) down, its top item expanded.
    // The tree is only ever built this way; edits reach it through the edit layer.
    TreeItem* AddTreeNode(const TreeRow& xmlNode, TreeItem* tvParent = nullptr);

    // Toolbar actions by key: "browse", "load", "save", "merge", "next", "print".
    void toolbarClick(const QString& key);
    QAction* toolbarButton(const QString& key) const;
    bool SaveDocument();

    // Search bar: the button acts on mouse-down, the keys held deciding the mode
    // (Shift: every match; Ctrl+Shift: path insertion; otherwise the first match).
    void cmdGetNode_MouseDown(Qt::KeyboardModifiers shift);
    // Selects and reveals the next match of the last search, wrapping at the end.
    void selectNextMatch();
    // Information pane and status line reports.
    QString GetNodeInfo(const DOMNode& node, const QString& sSep) const;
    void treeClick();
    void txtNodeName_Click();
    void txtInfo_DropFiles(const QStringList& paths);
    void DispAttributes(const DOMNode& pNode, const QString& sTitle);

    // Node command menu, drag and drop, merge.
    void treeMouseDown(Qt::MouseButton button, const QPoint& pos);
    void runMenuCommand(const QString& caption);
    bool MergeDocument();
    void txtNodeName_DropFiles(const QStringList& paths);
    void treeDrop(TreeItem* dropItem);
    TreeItem* selectedItem() const;
    void selectItem(TreeItem* item);

    // State the other windows and the tests look at.
    ApXmlMgr* xmlMgr() const { return oXMLMgr; }
    DOMDocumentPtr document() const { return oDoc; }
    DocumentTreeModel* treeModel() const { return m_model; }
    DocumentEditor* editor() const { return m_editor; }
    QString currentUrl() const { return sURL; }
    QString loadedFile() const { return sLoadedFile; }
    bool validation() const { return bValidation; }
    QList<QAction*> popupEntries() const { return mnuCommands; }

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

    // The documents loaded last, newest first (offered as completions in the name box).
    QStringList recentDocuments() const;
    static bool isXPathQuery(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void oXMLMgr_DOMReady(treelark::DOMDocumentPtr oXmlDoc);
    void pXMLMgr_DOMReady(treelark::DOMDocumentPtr oXmlDoc);
    void menuCommand(QAction* entry);

private:
    void buildControls();
    void buildToolbar();
    void buildPopupMenu();
    void windowLoad(const QString& commandLine);
    void SetValidation();
    void setWindowTitleForLoad();
    bool queryUnload();
    void unloadOtherForms();
    void rebuildTree();
    bool revealRow(const TreeRow& row);
    void installEventHooks();
    void treeRightClick(const QPoint& pos);
    void installMenuShortcuts();
    bool nameBoxDragEvent(QEvent* event);
    bool treeDragEvent(QEvent* event);
    bool infoPaneDragEvent(QEvent* event);
    void EnableLayerCommands(bool bEdit, bool bAdd);
    void DeleteNode(const DOMNode& xmlNode);
    void saveRowToFile(const TreeRow& row);

    ApXmlMgr* oXMLMgr = nullptr;
    ApXmlMgr* pXMLMgr = nullptr;
    DOMDocumentPtr oDoc;
    QString sURL;
    QString sLoadedFile;
    bool bValidation = false;
    bool bDragging = false;
    bool bAddLayers = false;
    TreeItem* oItemClicked = nullptr;
    DOMNode pNodeClicked;
    TreeItem* oItemLayers = nullptr;
    DOMNode pNodeLayers;
    DOMNode pNodeCopied;
    int xPopup = 0;
    int yPopup = 0;

    // the last search's matches, for the Next button
    DOMNodeList m_matches;
    qint64 m_matchIndex = -1;

    DocumentTreeModel* m_model = nullptr;
    DocumentEditor* m_editor = nullptr;
    void buildHistoryButtons();
    // --- comforts: keys, recent documents, loading after the window shows ---
    void installComforts();
    void rememberRecent(const QString& url);
    void loadAtStart();
    void showStarterIfEmpty();
    void startLoadOnceExposed(int tries);
    bool m_loadWhenShown = false;
    void updateHistoryButtons();
    QLabel* m_status = nullptr;
    QString m_statusText; // the whole text; the line shows what fits
    void showStatusLine();
    // --- loading: progress and Cancel once a load has taken half a second ---
    QProgressBar* m_progress = nullptr;
    QPushButton* m_cancelLoad = nullptr;
    QObject* m_loadGate = nullptr;
    QElapsedTimer m_loadClock;
    bool m_busy = false;
    bool m_loading = false;
    void buildLoadControls();
    void onLoadProgress(qint64 done, qint64 total);
    void endLoadDisplay();
    void showLoadFailure(const DOMParseError& err);
    // --- large document form: read-only, from an index of the file ---
    std::shared_ptr<DocumentIndex> m_large;
    bool m_alwaysLarge = false;
    bool wantsLargeForm(const QString& name) const;
    // nullopt: the index could not be made and the file is small enough to read whole.
    std::optional<qint32> openLargeDocument(QString& name);
    void enterLargeForm(std::shared_ptr<DocumentIndex> index, const QString& name);
    void leaveLargeForm();
    void allowEditing(bool allowed);
    // --- a read-only source: what works reads rows through the source's interface ---
    std::vector<TreeRow> m_rowMatches;
    qint64 m_rowMatchIndex = -1;
    bool isReadOnly() const;
    QString readOnlyTip() const;
    TreeRow selectedRow() const;
    QString describeRow(const TreeRow& row, const QString& sep, RowDetails* details = nullptr) const;
    void readOnlyTreeClick();
    void readOnlySearch(Qt::KeyboardModifiers keys);
    void readOnlyNext();
    void readOnlyMouseDown(Qt::MouseButton button, const QPoint& pos);
    void readOnlyMenuCommand(const QString& caption);
    void showInMessageWindow(QByteArray utf8);
    std::optional<QString> askSaveTarget(const FileDialogRequest& request);
    // What a node is saved to: the dialog starts where the last one ended.
    static FileDialogRequest nodeFileRequest();
    // --- the pane/tree split ---
    QSplitter* m_split = nullptr;
    void restoreSplit();

public:
    /// Loads through `manager` with the window alive: painted, Esc and Cancel stop it.
    qint32 loadDocument(ApXmlMgr* manager, QString& name);
    qint32 loadDocument(ApXmlMgr* manager, QString& name, bool validate);
    /// The line at fault and a caret under `column` (1-based), as the pane shows them.
    static QString faultExcerpt(const QString& line, qint64 column);
    /// Open every file in large document form, whatever its size (the --large option).
    void setAlwaysLargeForm(bool always) { m_alwaysLarge = always; }
    bool isLargeForm() const { return bool(m_large); }
    const DocumentIndex* largeDocument() const { return m_large.get(); }

private:
    QList<QAction*> m_buttons;
    QList<QAction*> mnuCommands;

    // --- node menu, drag and drop, merge ---
    // The stored right-click items as indexes the model keeps current: a rebuilt or
    // edited tree invalidates them instead of leaving oItemClicked/oItemLayers dangling.
    QPersistentModelIndex m_clickedIndex;
    QPersistentModelIndex m_layersIndex;
    bool storeRightClick(const QPoint& pos);
    void runShortcut(const QString& caption);
    void refreshStoredItems();
    DOMNode liveClickedNode() const;
    TreeItem* itemShowing(const DOMNode& node);
    TreeItem* clickedItem();

    QPersistentModelIndex m_dropHighlight;
    bool m_treeDragLive = false; // left button held since the Shift-drag started
    QWidget* m_dropBand = nullptr;
    // Owned here, not by a parent, so it is gone before the window's bases are torn down
    // while the tree still delivers events.
    std::unique_ptr<QObject> m_treeDragHook;
    void startTreeDrag(const QPoint& pos);
    void treeDragOver(const QPoint& pos);
    void stopTreeDragTracking();
    void clearDropHighlight();
    void setNameBoxGreen(bool green);

    // --- message window and printing ---
    QPointer<frmMessage> m_frmMessage;
    void ShowText();
    void printClicked(); // Shift held: a preview instead
    void PrintSnapshot();
    void PrintPreview();

    // --- layer builder ---
    QPointer<frmXmlCreator> oXMLCreatorForm;
    void ShowAddLayers(const DOMNode& xmlNode);
    void ShowEditLayer(const DOMNode& xmlNode);
    void openLayerBuilder(const DOMNode& xmlNode, bool adding);
    void oXMLCreatorForm_OperationCompleted(bool bCompleted, const DOMNode& written);

    // --- attribute editor and edit dialog ---
    QPointer<frmView> oViewForm;
    void EditAttributes();
    void InsertNode();
    void EditText();
    frmView* openViewForm();
    void oViewForm_NodeAdded(bool bOK, const DOMNode& pNodeNew);

public:
    frmView* attributeEditor() const;
};

// Splits a file name at its last path separator ("/" or "\"): the folder part keeps
// the separator. Both are "" / the whole name when there is none. A file:/// address
// is split as the path it names.
void splitAtLastSeparator(const QString& address, QString& folder, QString& file);

} // namespace treelark
