#include "frmMain.h"

#include "AttributeCommands.h"
#include "ClickedNode.h"
#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "FindReplaceWindow.h"
#include "InfoPane.h"
#include "LayerCommands.h"
#include "LoadController.h"
#include "LoadProgress.h"
#include "MainToolbar.h"
#include "MergeController.h"
#include "NodeCommands.h"
#include "NodeMenu.h"
#include "PrintController.h"
#include "SaveCommands.h"
#include "SearchController.h"
#include "StatusLine.h"
#include "ProblemsPanel.h"
#include "ValidationController.h"
#include "TextPane.h"
#include "TreeDragDrop.h"
#include "TreeNavigator.h"
#include "Twips.h"
#include "modUtils.h"
#include "treelark/Prompts.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWindow>

namespace treelark {

frmMain::frmMain(const QString& commandLine, QWidget* parent, StartLoad when)
    : QMainWindow(parent), m_loadWhenShown(when == StartLoad::WhenShown)
{
    setObjectName(QStringLiteral("frmMain"));
    registerForm(this);
    setWindowTitle(QStringLiteral("Treelark"));
    setWindowIcon(QIcon(QStringLiteral(":/treelark.svg")));
    m_session = new DocumentSession(this);
    buildControls();
    buildParts();
    installKeys();
    windowLoad(commandLine);
}

frmMain::~frmMain()
{
    // The parts hold references into each other and the session: they go first, in the
    // reverse of their making, while the widgets they point at still stand.
    delete m_merge;
    delete m_drag;
    delete m_menu;
    delete m_layers;
    delete m_attributes;
    delete m_search;
    delete m_loader;
    delete m_progress;
}

void frmMain::buildControls()
{
    m_toolbar = new MainToolbar(this, [this](const QString& key) { toolbarClick(key); });
    Toolbar1 = m_toolbar->bar();
    Frame2 = m_toolbar->validationFrame();
    optOn = m_toolbar->on();
    optOff = m_toolbar->off();
    connect(optOn, &QRadioButton::clicked, this, [this] { SetValidation(); });
    connect(optOff, &QRadioButton::clicked, this, [this] { SetValidation(); });
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
    txtNodeName->setAcceptDrops(true);
    cmdGetNode = new QPushButton(QStringLiteral("GetNode"), Frame1);
    cmdGetNode->setObjectName(QStringLiteral("cmdGetNode"));
    cmdGetNode->setToolTip(QStringLiteral("Shift+Click to get all the matching nodes."));
    cmdGetNode->setMinimumWidth(twipsToPixelsX(825, this));
    nameRow->addWidget(txtNodeName, 1);
    nameRow->addWidget(cmdGetNode);
    frameLayout->addLayout(nameRow);
    txtInfo = new TextPane(Frame1);
    txtInfo->setObjectName(QStringLiteral("txtInfo"));
    txtInfo->setMinimumHeight(twipsToPixelsY(400, this));
    txtInfo->setAcceptDrops(true);
    txtInfo->viewport()->setAcceptDrops(true);
    frameLayout->addWidget(txtInfo);
    // The pane and the tree share the height as the user last split it.
    m_split = new QSplitter(Qt::Vertical, central);
    m_split->setObjectName(QStringLiteral("PaneTreeSplit"));
    m_split->setChildrenCollapsible(false);
    m_split->addWidget(Frame1);
    layout->addWidget(m_split, 1);

    m_model = new DocumentTreeModel(this);
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
    TreeView1->setAcceptDrops(true);
    TreeView1->viewport()->setAcceptDrops(true);
    m_split->addWidget(TreeView1);
    m_split->setStretchFactor(0, 0);
    m_split->setStretchFactor(1, 1);
    setCentralWidget(central);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    m_status = std::make_unique<StatusLine>(StatusBar1);
    setStatusBar(StatusBar1);

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

void frmMain::buildParts()
{
    m_tree = std::make_unique<TreeNavigator>(TreeView1, m_model);
    m_pane = std::make_unique<InfoPane>(*m_session, txtInfo, *m_tree, *m_status);
    m_save = std::make_unique<SaveCommands>(*m_session);
    m_nodes = std::make_unique<NodeCommands>(*m_session, *m_status, this);
    m_print = std::make_unique<PrintController>(this);
    m_progress = new LoadProgress(StatusBar1);
    m_loader = new LoadController(*m_session, this, txtNodeName, *m_pane, *m_status, *m_progress, *m_save, *m_tree);
    m_progress->letSearch({txtNodeName, cmdGetNode}); // with the name box's completions, set just above
    m_search = new SearchController(*m_session, txtNodeName, *m_pane, *m_status, *m_tree);
    m_layers = new LayerCommands(*m_session, this);
    // The menu sets the clicked row; the attribute windows open beside it.
    m_clicked = std::make_unique<ClickedNode>();
    m_attributes = new AttributeCommands(*m_session, *m_tree, *m_status, *m_clicked, this);
    m_menu = new NodeMenu(*m_session, *m_tree, *m_clicked, *m_nodes, *m_attributes, *m_layers, this);
    mnuPopUp = m_menu->menu();
    m_drag = new TreeDragDrop(*m_session, *m_tree, *m_status);
    m_merge = new MergeController(*m_session, *m_loader, *m_pane, *m_status);
    m_problems = new ProblemsPanel(this);
    m_validation = new ValidationController(*m_session, *m_problems, *m_tree, *m_pane, *m_status, *m_progress, this);

    // The tree follows the document: whatever is open, and every change to it.
    const auto showRows = [this] {
        m_tree->show(m_session->sharedSource());
        m_toolbar->follow(*m_session);
    };
    connect(m_session, &DocumentSession::replaced, this, showRows);
    connect(m_session, &DocumentSession::rowsShown, this, showRows);
    connect(m_session, &DocumentSession::starterOpened, this, [this] {
        m_tree->show(m_session->sharedSource(), true);
        m_toolbar->follow(*m_session);
    });
    DocumentEditor* editor = m_session->editor();
    connect(editor, &DocumentEditor::changed, m_model, &DocumentTreeModel::follow);
    connect(editor, &DocumentEditor::stepReplayed, this, &frmMain::SetMsg);
    connect(editor, &DocumentEditor::historyChanged, this, [this] { m_toolbar->follow(*m_session); });
    m_toolbar->follow(*m_session);

    cmdGetNode->installEventFilter(this);
    txtNodeName->installEventFilter(this);
    txtInfo->viewport()->installEventFilter(this);
    TreeView1->viewport()->installEventFilter(this);
    TreeView1->installEventFilter(this);
    // Enter in the name box runs a first-match search.
    connect(txtNodeName, &QLineEdit::returnPressed, this, [this] { m_search->getNode(Qt::NoModifier); });
}

void frmMain::installKeys()
{
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(find, &QAction::triggered, this, [this] {
        txtNodeName->setFocus(Qt::ShortcutFocusReason);
        txtNodeName->selectAll();
    });
    addAction(find);
    auto* findReplace = new QAction(this);
    findReplace->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    connect(findReplace, &QAction::triggered, this, &frmMain::openFindReplace);
    addAction(findReplace);
    // Closing goes through the close prompt like the window's frame.
    auto* quit = new QAction(this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    addAction(quit);
}

void frmMain::windowLoad(const QString& commandLine)
{
    QString name = commandLine;
    name.remove(QLatin1Char('"'));
    txtInfo->clear();
    if (name.trimmed().isEmpty()) {
        // Nothing named: the starter document, the last address offered in the name box,
        // nothing loaded, whenever the window shows.
        m_loadWhenShown = false;
        optOn->setChecked(true);
        SetValidation();
        m_loader->startEmpty();
        return;
    }
    m_session->setUrl(name);
    txtNodeName->setText(name);
    if (!m_loadWhenShown)
        m_loader->loadAtStart();
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
        m_loader->loadAtStart();
    });
}

void frmMain::SetValidation() { bValidation = optOn->isChecked(); }

void frmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    m_status->refit();
}

QAction* frmMain::toolbarButton(const QString& key) const { return m_toolbar->button(key); }

void frmMain::toolbarClick(const QString& key)
{
    // A cancelled dialog ends the action silently; nothing changes.
    if (key == QLatin1String("load"))
        m_loader->loadClicked(bValidation);
    else if (key == QLatin1String("browse"))
        m_loader->browse();
    else if (key == QLatin1String("save"))
        SaveDocument();
    else if (key == QLatin1String("merge"))
        MergeDocument();
    else if (key == QLatin1String("next"))
        m_search->next();
    else if (key == QLatin1String("undo"))
        m_session->editor()->undo();
    else if (key == QLatin1String("redo"))
        m_session->editor()->redo();
    else if (key == QLatin1String("print"))
        m_print->clicked();
    else if (key == QLatin1String("layertext"))
        m_layers->layerText();
    else if (key == QLatin1String("validate"))
        m_validation->validate();
    else if (key == QLatin1String("validateagainst"))
        m_validation->validateAgainst();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (m_progress->busy() || !m_save->mayClose()) {
        event->ignore();
        return;
    }
    UnloadAllForms(this);
    prompts().setSetting(QStringLiteral("Window"), QStringLiteral("Geometry"),
                         QString::fromLatin1(saveGeometry().toBase64()));
    prompts().setSetting(QStringLiteral("Window"), QStringLiteral("Split"),
                         QString::fromLatin1(m_split->saveState().toBase64()));
    event->accept();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    const bool isDrag = type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::DragLeave
        || type == QEvent::Drop;
    if (watched == cmdGetNode && type == QEvent::MouseButtonPress) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton)
            m_search->getNode(me->modifiers());
    } else if (watched == txtNodeName) {
        if (type == QEvent::MouseButtonPress)
            m_pane->nameBoxHint();
        else if (isDrag)
            return m_loader->nameBoxDragEvent(event, bValidation);
    } else if (watched == TreeView1 && type == QEvent::KeyPress) {
        // The view moves the current row first; a row reached with the keys is shown as
        // a click shows it. The key is the view's alone, as it would have been.
        const QPersistentModelIndex before = TreeView1->currentIndex();
        static_cast<QObject*>(TreeView1)->event(event);
        if (TreeView1->currentIndex() != before)
            m_pane->treeClick();
        return true;
    } else if (watched == txtInfo->viewport() && isDrag) {
        return m_pane->dragEvent(event);
    } else if (watched == TreeView1->viewport()) {
        if (type == QEvent::MouseButtonPress) {
            auto* me = static_cast<QMouseEvent*>(event);
            m_menu->mouseDown(me->button(), me->position().toPoint());
        } else if (type == QEvent::MouseButtonRelease
                   && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_pane->treeClick();
        } else if (isDrag || type == QEvent::MouseMove) {
            // a document that cannot be edited has nothing to drag
            return m_session->isReadOnly() ? isDrag : m_drag->mouseEvent(event);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// --- what the parts do, as the window's gestures and the tests reach it ---

DocumentEditor* frmMain::editor() const { return m_session->editor(); }
ApXmlMgr* frmMain::xmlMgr() const { return m_session->manager(); }
DOMDocumentPtr frmMain::document() const { return m_session->document(); }
QString frmMain::currentUrl() const { return m_session->url(); }
QString frmMain::loadedFile() const { return m_session->loadedFile(); }
QString frmMain::documentFile() const { return m_session->documentFile(); }
bool frmMain::isLargeForm() const { return m_session->largeDocument() != nullptr; }
const DocumentIndex* frmMain::largeDocument() const { return m_session->largeDocument(); }
void frmMain::setAlwaysLargeForm(bool always) { m_loader->setAlwaysLargeForm(always); }
void frmMain::setIndexCacheFolder(const QString& folder) { m_loader->setIndexCacheFolder(folder); }
QStringList frmMain::recentDocuments() const { return m_loader->recentDocuments(); }
frmView* frmMain::attributeEditor() const { return m_attributes->attributeEditor(); }
QList<QAction*> frmMain::popupEntries() const { return m_menu->entries(); }
void frmMain::SetMsg(const QString& strMsg) { m_status->set(strMsg); }
QString frmMain::statusText() const { return m_status->text(); }
bool frmMain::SaveDocument() { return m_save->SaveDocument(); }
bool frmMain::MergeDocument() { return m_merge->MergeDocument(); }
void frmMain::cmdGetNode_MouseDown(Qt::KeyboardModifiers shift) { m_search->getNode(shift); }
void frmMain::selectNextMatch() { m_search->next(); }
QString frmMain::GetNodeInfo(const DOMNode& node, const QString& sSep) const { return m_pane->describe(node, sSep); }
void frmMain::treeClick() { m_pane->treeClick(); }
void frmMain::txtNodeName_Click() { m_pane->nameBoxHint(); }
void frmMain::txtInfo_DropFiles(const QStringList& paths) { m_pane->dropFiles(paths); }
void frmMain::txtNodeName_DropFiles(const QStringList& paths) { m_loader->nameBoxDrop(paths, bValidation); }
void frmMain::treeMouseDown(Qt::MouseButton button, const QPoint& pos) { m_menu->mouseDown(button, pos); }
void frmMain::runMenuCommand(const QString& caption) { m_menu->run(caption); }
void frmMain::treeDrop(TreeItem* dropItem) { m_drag->drop(dropItem); }
TreeItem* frmMain::selectedItem() const { return m_tree->selectedItem(); }
void frmMain::selectItem(TreeItem* item) { m_tree->selectItem(item); }
QString frmMain::faultExcerpt(const QString& line, qint64 column) { return InfoPane::faultExcerpt(line, column); }

void frmMain::DispAttributes(const DOMNode& pNode, const QString& sTitle)
{
    QString text;
    const DOMNamedNodeMap attrs = pNode.attributes();
    for (qint64 i = 0; !attrs.isNull() && i < attrs.length(); ++i)
        text += attrs.item(i).name() + QLatin1Char('=') + attrs.item(i).value() + QLatin1Char('\n');
    prompts().message(text, MsgButtons::OK, sTitle);
}

} // namespace treelark
