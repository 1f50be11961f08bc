#include "frmMain.h"

#include "AppState.h"
#include "DocumentEditor.h"
#include "Twips.h"
#include "modUtils.h"
#include "treelark/Busy.h"
#include "treelark/Prompts.h"

#include <algorithm>

#include <QAction>
#include <QResizeEvent>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTextEdit>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

namespace treelark {

namespace {

const QString kXmlFilter = QStringLiteral("*.xml|*.xml|*.*|*.*");

struct ButtonSpec {
    const char* caption;
    const char* key;
    const char* tip;
    const char* themeIcon;
    QStyle::StandardPixmap fallback;
};

const ButtonSpec kButtons[] = {
    {"Browse", "browse", "Open file", "document-open", QStyle::SP_DialogOpenButton},
    {"Load", "load", "Load", "view-refresh", QStyle::SP_BrowserReload},
    {"Save", "save", "Save", "document-save", QStyle::SP_DialogSaveButton},
    {"Merge", "merge", "Merge", "document-import", QStyle::SP_FileDialogDetailedView},
    {"Next", "next", "Next", "go-next", QStyle::SP_ArrowForward},
    {"Print", "print", "PrintScreen", "document-print", QStyle::SP_FileDialogContentsView},
};

const char* const kPopupCaptions[] = {"Edit", "Add", "Delete", "Copy", "Paste", "-", "EditAttributes",
                                      "EditText", "InsertNode", "-", "ShowText", "-", "SaveToFile"};

} // namespace

void splitAtLastSeparator(const QString& address, QString& folder, QString& file)
{
    // A file:/// address names a file like a path does; dialogs want the path.
    QString name = address;
    if (address.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(address);
        if (url.isLocalFile())
            name = url.toLocalFile();
    }
    // Names may come from this system ("/") or be typed the other way ("\").
    const qsizetype p = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    if (p < 0) {
        folder = QString(QLatin1String(""));
        file = name;
    } else {
        folder = name.left(p + 1);
        file = name.mid(p + 1);
    }
}

frmMain::frmMain(const QString& commandLine, QWidget* parent, StartLoad when)
    : QMainWindow(parent), m_loadWhenShown(when == StartLoad::WhenShown)
{
    setObjectName(QStringLiteral("frmMain"));
    registerForm(this);
    setWindowTitle(QStringLiteral("Treelark"));
    setWindowIcon(QIcon(QStringLiteral(":/treelark.svg")));
    m_editor = new DocumentEditor(this);
    buildControls();
    installComforts();
    windowLoad(commandLine);
}

frmMain::~frmMain() { setBusyHandler(nullptr); }

void frmMain::buildControls()
{
    buildToolbar();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(3, 0, 3, 3);

    Frame1 = new QFrame(central);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame1->setFrameShape(QFrame::StyledPanel);
    auto* frameLayout = new QVBoxLayout(Frame1);
    auto* nameRow = new QHBoxLayout();
    txtNodeName = new QLineEdit(Frame1);
    txtNodeName->setObjectName(QStringLiteral("txtNodeName"));
    cmdGetNode = new QPushButton(QStringLiteral("GetNode"), Frame1);
    cmdGetNode->setObjectName(QStringLiteral("cmdGetNode"));
    cmdGetNode->setToolTip(QStringLiteral("Shift+Click to get all the matching nodes."));
    cmdGetNode->setMinimumWidth(twipsToPixelsX(825, this));
    nameRow->addWidget(txtNodeName, 1);
    nameRow->addWidget(cmdGetNode);
    frameLayout->addLayout(nameRow);
    txtInfo = new QTextEdit(Frame1);
    txtInfo->setObjectName(QStringLiteral("txtInfo"));
    txtInfo->setAcceptRichText(false);
    txtInfo->setMinimumHeight(twipsToPixelsY(400, this));
    frameLayout->addWidget(txtInfo);
    // The pane and the tree share the height as the user last split it.
    m_split = new QSplitter(Qt::Vertical, central);
    m_split->setObjectName(QStringLiteral("PaneTreeSplit"));
    m_split->setChildrenCollapsible(false);
    m_split->addWidget(Frame1);
    layout->addWidget(m_split, 1);

    m_model = new DocumentTreeModel(this);
    connect(m_editor, &DocumentEditor::changed, m_model, &DocumentTreeModel::follow);
    connect(m_editor, &DocumentEditor::stepReplayed, this, &frmMain::SetMsg);
    TreeView1 = new QTreeView(central);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setModel(m_model);
    TreeView1->setHeaderHidden(true);
    // rows are one line each: lets the view skip laying out rows it does not show
    TreeView1->setUniformRowHeights(true);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    // The column grows with the rows on screen (only those are measured, so a branch of
    // a million rows costs nothing), and deeply nested rows stay reachable by scrolling.
    TreeView1->header()->setStretchLastSection(false);
    TreeView1->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    TreeView1->header()->setResizeContentsPrecision(0);
    TreeView1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_split->addWidget(TreeView1);
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    setCentralWidget(central);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    m_status = new QLabel(StatusBar1);
    m_status->setObjectName(QStringLiteral("StatusText"));
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Node texts can look like markup: they are shown as they are. One line, cut to the
    // width; the whole text is the line's tool tip.
    m_status->setTextFormat(Qt::PlainText);
    m_status->setMinimumWidth(1);
    m_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusBar1->addWidget(m_status, 1);
    setStatusBar(StatusBar1);
    buildLoadControls();

    installEventHooks();
    setMinimumSize(twipsToPixelsX(1000, this), twipsToPixelsY(5000, this));
    resize(twipsToPixelsX(9885, this), twipsToPixelsY(10830, this));
    // Where the user left the window last time, if it was ever closed.
    const QString geometry = prompts().setting(QStringLiteral("Window"), QStringLiteral("Geometry"), QString());
    if (!geometry.isEmpty())
        restoreGeometry(QByteArray::fromBase64(geometry.toLatin1()));
    restoreSplit();
}

void frmMain::restoreSplit()
{
    const QString split = prompts().setting(QStringLiteral("Window"), QStringLiteral("Split"), QString());
    if (!split.isEmpty() && m_split->restoreState(QByteArray::fromBase64(split.toLatin1())))
        return;
    // First run: the pane as tall as it always was, the tree the rest.
    const int pane = Frame1->sizeHint().height() - txtInfo->sizeHint().height() + twipsToPixelsY(1770, this);
    m_split->setSizes({pane, qMax(1, height() - pane)});
}

void frmMain::buildToolbar()
{
    Toolbar1 = new QToolBar(QStringLiteral("Toolbar1"), this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    for (const ButtonSpec& b : kButtons) {
        QAction* a = Toolbar1->addAction(QIcon::fromTheme(QLatin1String(b.themeIcon), style()->standardIcon(b.fallback)),
                                         QLatin1String(b.caption));
        a->setObjectName(QLatin1String(b.key));
        a->setData(QLatin1String(b.key));
        a->setToolTip(QLatin1String(b.tip));
        const QString key = QLatin1String(b.key);
        connect(a, &QAction::triggered, this, [this, key] { toolbarClick(key); });
        m_buttons.append(a);
    }
    buildHistoryButtons();
    // the validation switch sits at the toolbar's right end
    auto* spacer = new QWidget(Toolbar1);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    Toolbar1->addWidget(spacer);
    Frame2 = new QGroupBox(QStringLiteral("Validation"), Toolbar1);
    Frame2->setObjectName(QStringLiteral("Frame2"));
    auto* row = new QHBoxLayout(Frame2);
    row->setContentsMargins(6, 2, 6, 2);
    optOn = new QRadioButton(QStringLiteral("On"), Frame2);
    optOn->setObjectName(QStringLiteral("optOn"));
    optOff = new QRadioButton(QStringLiteral("Off"), Frame2);
    optOff->setObjectName(QStringLiteral("optOff"));
    row->addWidget(optOn);
    row->addWidget(optOff);
    Toolbar1->addWidget(Frame2);
    connect(optOn, &QRadioButton::clicked, this, [this] { SetValidation(); });
    connect(optOff, &QRadioButton::clicked, this, [this] { SetValidation(); });
    addToolBar(Qt::TopToolBarArea, Toolbar1);
}

void frmMain::buildPopupMenu()
{
    mnuPopUp = new QMenu(QStringLiteral("Popup"), this);
    mnuPopUp->setObjectName(QStringLiteral("mnuPopUp"));
    mnuPopUp->hide(); // only ever shown as a popup
    for (const char* caption : kPopupCaptions) {
        auto* entry = new QAction(QLatin1String(caption), mnuPopUp);
        entry->setObjectName(QStringLiteral("mnuCommands"));
        if (entry->text() == QLatin1String("-"))
            entry->setSeparator(true);
        mnuPopUp->addAction(entry);
        mnuCommands.append(entry);
    }
    connect(mnuPopUp, &QMenu::triggered, this, &frmMain::menuCommand);
}

void frmMain::windowLoad(const QString& commandLine)
{
    buildPopupMenu();
    pNodeCopied = DOMNode();
    oXMLMgr = new ApXmlMgr(this);
    connect(oXMLMgr, &ApXmlMgr::DOMReady, this, &frmMain::oXMLMgr_DOMReady);
    connect(oXMLMgr, &ApXmlMgr::LoadProgress, this, &frmMain::onLoadProgress);

    sURL = commandLine;
    sURL.remove(QLatin1Char('"'));
    if (!sURL.trimmed().isEmpty()) {
        txtInfo->clear();
        txtNodeName->setText(sURL);
        if (m_loadWhenShown)
            return; // showEvent starts the load
        loadAtStart();
        return;
    }
    txtInfo->clear();
    optOn->setChecked(true);
    SetValidation();
    sURL = prompts().setting(QStringLiteral("LastURL"), QStringLiteral("LastURL"), QString());
    txtNodeName->setText(sURL);
    showStarterIfEmpty();
}

void frmMain::loadAtStart()
{
    // The first load always validates, whatever the switch will say.
    loadDocument(oXMLMgr, sURL, true);
    txtNodeName->setText(sURL);
    showStarterIfEmpty();
}

void frmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_loadWhenShown)
        return;
    m_loadWhenShown = false;
    startLoadOnceExposed(0);
}

// The load starts once the window is on screen and painted (the load keeps it painted
// from then on); a window system that never says so gets the load after a second.
void frmMain::startLoadOnceExposed(int tries)
{
    QTimer::singleShot(tries == 0 ? 0 : 20, this, [this, tries] {
        const bool exposed = windowHandle() && windowHandle()->isExposed();
        if (!exposed && tries < 50) {
            startLoadOnceExposed(tries + 1);
            return;
        }
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        loadAtStart();
    });
}

void frmMain::showStarterIfEmpty()
{
    if (!m_large && oXMLMgr->DOMDoc()->documentElement().isNull()) {
        // A starter configuration document, shown without a ready event: caption,
        // status line and remembered name stay as they are.
        oDoc = DOMDocument::create();
        DOMNode root = oDoc->createNode(NODE_ELEMENT, QStringLiteral("FrameworkConfig"), QString());
        for (const char* attr : {"TagName", "Name", "Alias"})
            root.setAttribute(QLatin1String(attr), QStringLiteral("FrameworkConfig"));
        oDoc->setDocumentElement(root);
        m_editor->setDocument(oDoc);
        AddTreeNode(oDoc->documentElement(), nullptr);
        oXMLMgr->setDOMDoc(oDoc);
    }
}

// "Undo" and "Redo" follow the six buttons. A text box keeps Ctrl+Z for its own typing
// while it has the focus; everywhere else the keys go to the document's history.
void frmMain::buildHistoryButtons()
{
    struct History {
        const char* caption;
        const char* key;
        const char* themeIcon;
        QStyle::StandardPixmap fallback;
        QList<QKeySequence> keys;
    };
    const History buttons[] = {
        {"Undo", "undo", "edit-undo", QStyle::SP_ArrowBack, {QKeySequence(Qt::CTRL | Qt::Key_Z)}},
        {"Redo", "redo", "edit-redo", QStyle::SP_ArrowForward,
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)}},
    };
    for (const History& b : buttons) {
        QAction* a = Toolbar1->addAction(QIcon::fromTheme(QLatin1String(b.themeIcon), style()->standardIcon(b.fallback)),
                                         QLatin1String(b.caption));
        a->setObjectName(QLatin1String(b.key));
        a->setData(QLatin1String(b.key));
        a->setShortcuts(b.keys);
        a->setShortcutContext(Qt::WindowShortcut);
        const QString key = QLatin1String(b.key);
        connect(a, &QAction::triggered, this, [this, key] { toolbarClick(key); });
        m_buttons.append(a);
    }
    connect(m_editor, &DocumentEditor::historyChanged, this, &frmMain::updateHistoryButtons);
    updateHistoryButtons();
}

void frmMain::updateHistoryButtons()
{
    auto show = [](QAction* a, bool enabled, const QString& verb, const QString& step, const QString& keys) {
        if (!a)
            return;
        a->setEnabled(enabled);
        a->setToolTip(enabled ? verb + QLatin1Char(' ') + step + QStringLiteral(" (") + keys + QLatin1Char(')')
                              : verb + QStringLiteral(" (") + keys + QLatin1Char(')'));
    };
    show(toolbarButton(QStringLiteral("undo")), m_editor->canUndo(), QStringLiteral("Undo"), m_editor->undoText(),
         QStringLiteral("Ctrl+Z"));
    show(toolbarButton(QStringLiteral("redo")), m_editor->canRedo(), QStringLiteral("Redo"), m_editor->redoText(),
         QStringLiteral("Ctrl+Shift+Z"));
}

void frmMain::SetMsg(const QString& strMsg)
{
    m_statusText = strMsg;
    m_status->setToolTip(strMsg.size() > 4000 ? strMsg.left(4000) + QChar(0x2026) : strMsg);
    showStatusLine();
}

void frmMain::showStatusLine()
{
    QString line = m_statusText.left(2000);
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    const int width = std::max(40, StatusBar1->width() - 24);
    m_status->setText(m_status->fontMetrics().elidedText(line, Qt::ElideRight, width));
}

void frmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    showStatusLine();
}

QString frmMain::statusText() const { return m_statusText; }

void frmMain::SetValidation() { bValidation = optOn->isChecked(); }

TreeItem* frmMain::AddTreeNode(const TreeRow& xmlNode, TreeItem* /*tvParent*/)
{
    TreeItem* item = m_model->addTopLevel(xmlNode);
    if (item)
        TreeView1->setExpanded(m_model->indexOf(item), true);
    return item;
}

void frmMain::setWindowTitleForLoad()
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    setWindowTitle(QStringLiteral("Treelark [win] ") + sURL + QStringLiteral(" [")
                   + locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ')
                   + locale.toString(now.time(), QLocale::ShortFormat) + QLatin1Char(']'));
}

void frmMain::oXMLMgr_DOMReady(DOMDocumentPtr oXmlDoc)
{
    // Each step goes on whatever the one before did.
    endLoadDisplay();
    leaveLargeForm();
    // Nothing of the old document is held any more (the copied node lives on its own
    // and may be pasted into the new one).
    pNodeClicked = DOMNode();
    pNodeLayers = DOMNode();
    oItemClicked = oItemLayers = nullptr;
    m_matches = DOMNodeList();
    m_matchIndex = -1;
    oDoc = oXmlDoc;
    m_editor->setDocument(oDoc);
    m_model->setSource(std::make_shared<DomRowSource>(oDoc));
    try {
        AddTreeNode(oDoc->documentElement(), nullptr);
    } catch (const DOMException&) {
    }
    qint64 nChars = 0;
    try {
        nChars = oDoc->xmlLength();
    } catch (const DOMException&) {
    }
    SetMsg(QStringLiteral("TotalNodes=") + QString::number(oXMLMgr->TotalNodes()) + QStringLiteral(", nChars=")
           + QString::number(nChars));
    txtInfo->setPlainText(sURL + QStringLiteral(" loaded. Length=") + QString::number(nChars));
    if (oDoc->parseError().errorCode != 0)
        showLoadFailure(oDoc->parseError());
    sDocumentFile = sURL;
    sLoadedFile = sURL;
    prompts().setSetting(QStringLiteral("LastURL"), QStringLiteral("LastURL"), sURL);
    if (oDoc->parseError().errorCode == 0)
        rememberRecent(sURL);
    setWindowTitleForLoad();
}

QAction* frmMain::toolbarButton(const QString& key) const
{
    for (QAction* a : m_buttons)
        if (a->data().toString() == key)
            return a;
    return nullptr;
}

void frmMain::toolbarClick(const QString& key)
{
    // A cancelled dialog ends the action silently; nothing changes.
    if (key == QLatin1String("load")) {
        if (txtNodeName->text().isEmpty())
            return;
        const QString shown = sURL;
        sURL = txtNodeName->text();
        // A cancelled load leaves the window on the document it showed.
        if (loadDocument(oXMLMgr, sURL) == qint32(DOMError::Cancelled))
            sURL = shown;
        else
            setWindowTitleForLoad();
    } else if (key == QLatin1String("browse")) {
        sDocumentFile = prompts().setting(QStringLiteral("LastURL"), QStringLiteral("LastURL"), QString());
        FileDialogRequest request{QStringLiteral("Open an XML file."), kXmlFilter, QString(), QString()};
        splitAtLastSeparator(sDocumentFile, request.initialFolder, request.fileName);
        if (request.initialFolder.isEmpty())
            request.fileName.clear();
        if (std::optional<QString> chosen = prompts().openFile(request))
            txtNodeName->setText(*chosen);
    } else if (key == QLatin1String("save")) {
        SaveDocument();
    } else if (key == QLatin1String("merge")) {
        MergeDocument();
    } else if (key == QLatin1String("next")) {
        selectNextMatch();
    } else if (key == QLatin1String("undo")) {
        m_editor->undo();
    } else if (key == QLatin1String("redo")) {
        m_editor->redo();
    } else if (key == QLatin1String("print")) {
        printClicked();
    }
}

bool frmMain::SaveDocument()
{
    if (isReadOnly())
        return true; // nothing in it can change
    if (!oDoc || oDoc->parseError().errorCode != 0)
        return !m_editor->isModified();
    FileDialogRequest request{QStringLiteral("Save to an XML file."), kXmlFilter, QString(), QString()};
    sDocumentFile = sLoadedFile;
    if (sDocumentFile.isEmpty())
        sDocumentFile = prompts().setting(QStringLiteral("LastURL"), QStringLiteral("LastURL"), QString());
    splitAtLastSeparator(sDocumentFile, request.initialFolder, request.fileName);
    if (request.initialFolder.isEmpty())
        request.fileName.clear();

    const std::optional<QString> chosen = askSaveTarget(request);
    if (!chosen)
        return !m_editor->isModified();
    const QString name = *chosen;
    // Someone else's changes to the file read are not overwritten unasked.
    if (oDoc->changedOnDisk(name)
        && prompts().message(QStringLiteral("The file ") + name
                                 + QStringLiteral(" has changed on disk since it was loaded. Overwrite it?"),
                             MsgButtons::YesNo)
            != MsgResult::Yes)
        return !m_editor->isModified();
    oXMLMgr->Save(name);
    if (!oXMLMgr->lastError().isEmpty()) {
        // Nothing was written and the old file is whole: say so, and keep the
        // document marked changed so closing still asks.
        prompts().message(oXMLMgr->lastError(), MsgButtons::OK);
        return !m_editor->isModified();
    }
    m_editor->markSaved();
    return !m_editor->isModified();
}

bool frmMain::queryUnload()
{
    if (!m_editor->isModified())
        return true;
    QString folder, name;
    splitAtLastSeparator(sDocumentFile, folder, name);
    const QString prompt = name.isEmpty()
        ? QStringLiteral("Do you want to save the cahnges you made ?")
        : QStringLiteral("Do you want to save the changes you made to ") + name + QStringLiteral(" ?");
    const QString title = QStringLiteral("XML ") + sDocumentFile + QStringLiteral(" is changed.");
    switch (prompts().message(prompt, MsgButtons::YesNoCancel, title)) {
    case MsgResult::Yes:
        SaveDocument();
        return !m_editor->isModified();
    case MsgResult::No:
        return true;
    default:
        return false;
    }
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (m_busy || !queryUnload()) {
        event->ignore();
        return;
    }
    unloadOtherForms();
    prompts().setSetting(QStringLiteral("Window"), QStringLiteral("Geometry"),
                         QString::fromLatin1(saveGeometry().toBase64()));
    prompts().setSetting(QStringLiteral("Window"), QStringLiteral("Split"),
                         QString::fromLatin1(m_split->saveState().toBase64()));
    event->accept();
}

void frmMain::unloadOtherForms() { UnloadAllForms(this); }

void frmMain::menuCommand(QAction* entry)
{
    // Entries are told apart by their captions, not their positions.
    if (entry)
        runMenuCommand(entry->text());
}

void frmMain::installEventHooks()
{
    cmdGetNode->installEventFilter(this);
    txtNodeName->installEventFilter(this);
    txtNodeName->setAcceptDrops(true);
    txtInfo->viewport()->installEventFilter(this);
    txtInfo->setAcceptDrops(true);
    txtInfo->viewport()->setAcceptDrops(true);
    TreeView1->viewport()->installEventFilter(this);
    TreeView1->setAcceptDrops(true);
    TreeView1->viewport()->setAcceptDrops(true);
    installMenuShortcuts();
    TreeView1->installEventFilter(this);
    // Enter in the name box runs a first-match search.
    connect(txtNodeName, &QLineEdit::returnPressed, this, [this] { cmdGetNode_MouseDown(Qt::NoModifier); });
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool isDrag = type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::DragLeave
        || type == QEvent::Drop;
    if (watched == cmdGetNode && type == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton)
            cmdGetNode_MouseDown(me->modifiers());
    } else if (watched == txtNodeName) {
        if (type == QEvent::MouseButtonPress)
            txtNodeName_Click();
        else if (isDrag)
            return nameBoxDragEvent(event);
    } else if (watched == TreeView1 && type == QEvent::KeyPress) {
        // The view moves the current row first; a row reached with the keys is shown as
        // a click shows it. The key is the view's alone, as it would have been.
        const QPersistentModelIndex before = TreeView1->currentIndex();
        static_cast<QObject*>(TreeView1)->event(event);
        if (TreeView1->currentIndex() != before)
            treeClick();
        return true;
    } else if (watched == txtInfo->viewport() && isDrag) {
        return infoPaneDragEvent(event);
    } else if (watched == TreeView1->viewport()) {
        if (type == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(event);
            treeMouseDown(me->button(), me->position().toPoint());
        } else if (type == QEvent::MouseButtonRelease
                   && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            treeClick();
        } else if (isDrag || type == QEvent::MouseMove) {
            return isReadOnly() ? isDrag : treeDragEvent(event);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

TreeItem* frmMain::selectedItem() const
{
    const QModelIndexList selected = TreeView1->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? nullptr : m_model->itemFromIndex(selected.first());
}

void frmMain::selectItem(TreeItem* item)
{
    if (!item) {
        TreeView1->selectionModel()->clearSelection();
        TreeView1->setCurrentIndex(QModelIndex());
        return;
    }
    const QModelIndex idx = m_model->indexOf(item);
    TreeView1->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect);
}

void frmMain::treeMouseDown(Qt::MouseButton button, const QPoint& pos)
{
    if (isReadOnly()) {
        readOnlyMouseDown(button, pos);
        return;
    }
    // The item under the pointer becomes the selection; a press outside any clears it.
    const QModelIndex idx = TreeView1->indexAt(pos);
    selectItem(idx.isValid() ? m_model->itemFromIndex(idx) : nullptr);
    if (button == Qt::RightButton)
        treeRightClick(pos);
}

void frmMain::rebuildTree() { AddTreeNode(oXMLMgr->DOMDoc()->documentElement(), nullptr); }
} // namespace treelark
