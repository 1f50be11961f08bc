// Large document form: a file too large to hold in memory as a tree of nodes is opened
// read-only from an index of its elements. The tree, the pane, the status line, name
// search with Next, ShowText and SaveToFile work as they do on a document; commands
// that would change it are disabled and say why.
#include "frmMain.h"

#include "AppState.h"
#include "LargeDocumentModel.h"
#include "frmMessage.h"
#include "treelark/Busy.h"
#include "treelark/Prompts.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QTextEdit>
#include <QTreeView>
#include <QUrl>

namespace treelark {

namespace {

// A document tree costs about this many bytes of memory per byte of its file.
constexpr qint64 kTreeBytesPerFileByte = 12;
constexpr qsizetype kMaxPaneChars = 200000;
const QString kReadOnlyTip =
    QStringLiteral("Not available: the document is open read-only in large document form.");

// Memory the system could give without swapping; 0 when it cannot be told.
qint64 availableMemory()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line = meminfo.readLine(); !line.isEmpty(); line = meminfo.readLine()) {
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

QString localPath(const QString& name)
{
    if (name.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return QUrl(name).toLocalFile();
    if (name.contains(QLatin1String("://")))
        return QString();
    return name;
}

// A file whose tree would take more than half the memory free now is opened from an
// index instead: the tree would push the system into swap (or fail) long before the
// user saw it. Addresses are always read whole.
bool tooLargeForTree(qint64 fileSize)
{
    const qint64 free = availableMemory();
    return free > 0 && fileSize * kTreeBytesPerFileByte > free / 2;
}

} // namespace

bool frmMain::wantsLargeForm(const QString& name) const
{
    const QFileInfo info(localPath(name));
    return info.isFile() && (m_alwaysLarge || tooLargeForTree(info.size()));
}

std::optional<qint32> frmMain::openLargeDocument(QString& name)
{
    const QString path = QFileInfo(localPath(name)).absoluteFilePath();
    auto index = std::make_shared<DocumentIndex>();
    std::atomic<bool> stop{false};
    m_loading = true;
    m_loadClock.start();
    clearCancel();
    qApp->installEventFilter(m_loadGate);
    index->build(path, [this, &stop](qint64 done, qint64 total) {
        if (cancelRequested())
            stop = true;
        onLoadProgress(done, total);
    }, &stop);
    qApp->removeEventFilter(m_loadGate);
    m_loading = false;
    endLoadDisplay();
    if (index->error().cancelled) {
        SetMsg(QStringLiteral("Loading ") + name + QStringLiteral(" was cancelled; the document shown is unchanged."));
        return qint32(DOMError::Cancelled);
    }
    // A file the index cannot take at all (not UTF-8, say) is read whole when it fits.
    if (index->rowCount() == 0 && !tooLargeForTree(QFileInfo(path).size()))
        return std::nullopt;
    enterLargeForm(std::move(index), name);
    return 0;
}

void frmMain::enterLargeForm(std::shared_ptr<DocumentIndex> index, const QString& name)
{
    // The document shown before goes, with its history: nothing of it is reachable now.
    pNodeClicked = pNodeLayers = DOMNode();
    oItemClicked = oItemLayers = nullptr;
    m_matches = DOMNodeList();
    m_matchIndex = -1;
    oDoc = DOMDocument::create();
    m_editor->setDocument(oDoc);
    m_model->clear();

    m_large = index;
    m_largeMatches.clear();
    m_largeMatchIndex = -1;
    if (!m_largeModel)
        m_largeModel = new LargeDocumentModel(this);
    m_largeModel->setIndex(index);
    TreeView1->setModel(m_largeModel);
    TreeView1->expand(m_largeModel->index(0, 0));
    allowEditing(false);

    const qint64 mb = index->fileSize() >> 20;
    QString info = name + QStringLiteral(" is open read-only in large document form: at %1 MB it would need about "
                                         "%2 MB of memory as a document tree. Browsing, searching by name, ShowText "
                                         "and SaveToFile work; editing does not.")
                              .arg(mb)
                              .arg(mb * kTreeBytesPerFileByte);
    const DocumentIndexError& err = index->error();
    if (!err.isNull()) {
        info += QStringLiteral("\n\nThe document is not whole: %1\nLine %2, column %3. The %4 elements read before it "
                               "are shown.")
                    .arg(err.reason)
                    .arg(err.line)
                    .arg(err.column)
                    .arg(index->rowCount());
    }
    txtInfo->setPlainText(info);
    SetMsg(QStringLiteral("TotalElements=") + QString::number(index->rowCount())
           + QStringLiteral(", read-only large document"));
    sDocumentFile = name;
    sLoadedFile = name;
    prompts().setSetting(QStringLiteral("LastURL"), QStringLiteral("LastURL"), name);
    rememberRecent(name);
}

void frmMain::leaveLargeForm()
{
    if (!m_large)
        return;
    TreeView1->setModel(m_model);
    m_largeModel->setIndex(nullptr);
    m_large.reset();
    m_largeMatches.clear();
    for (QAction* entry : mnuCommands) {
        entry->setEnabled(true);
        entry->setToolTip(QString());
    }
    allowEditing(true);
}

void frmMain::allowEditing(bool allowed)
{
    for (const char* key : {"save", "merge", "undo", "redo"}) {
        QAction* a = toolbarButton(QLatin1String(key));
        if (!a)
            continue;
        if (!allowed) {
            a->setProperty("editingTip", a->toolTip());
            a->setToolTip(kReadOnlyTip);
            a->setEnabled(false);
        } else if (a->property("editingTip").isValid()) {
            a->setToolTip(a->property("editingTip").toString());
            a->setProperty("editingTip", QVariant());
            a->setEnabled(true);
        }
    }
    if (allowed)
        updateHistoryButtons();
}

DocumentIndex::Row frmMain::selectedLargeRow() const
{
    return m_largeModel->rowOf(TreeView1->currentIndex());
}

QString frmMain::describeLargeRow(DocumentIndex::Row row, const QString& sep) const
{
    IndexedElement element;
    if (!m_large->read(row, &element)) {
        prompts().message(m_large->lastError(), MsgButtons::OK);
        return QString();
    }
    QString info = element.name + QStringLiteral("=NodeType:TypeName=1:element, Text=:") + element.text;
    if (element.textTruncated)
        info += QStringLiteral("...");
    for (qsizetype i = 0; i < element.attributes.size(); ++i)
        info += QLatin1Char('\n') + sep + QString::number(i) + QLatin1Char(':') + element.attributes[i].name
            + QLatin1Char('=') + element.attributes[i].value;
    return info;
}

void frmMain::largeTreeClick()
{
    const DocumentIndex::Row row = selectedLargeRow();
    if (row == DocumentIndex::NoRow)
        return;
    const QString path = m_large->path(row);
    if (LargeDocumentModel::isTextRow(TreeView1->currentIndex())) {
        IndexedElement element;
        m_large->read(row, &element);
        txtInfo->setPlainText(QStringLiteral("#text=NodeType:TypeName=3:text, Text=:") + element.text
                              + (element.textTruncated ? QStringLiteral("...") : QString()) + QStringLiteral("\n\n")
                              + path);
        SetMsg(QStringLiteral("Total=") + QString::number(m_large->rowCount()) + QStringLiteral(" Path=") + path);
        return;
    }
    txtInfo->setPlainText(describeLargeRow(row, QStringLiteral(" ")) + QStringLiteral("\n\n") + path
                          + QStringLiteral("\nnChildElements=") + QString::number(m_large->childCount(row)));
    SetMsg(QStringLiteral("Node ") + m_largeModel->label(row) + QStringLiteral(" Total=")
           + QString::number(m_large->rowCount()) + QStringLiteral(" Path=") + path);
}

void frmMain::largeSearch(Qt::KeyboardModifiers keys)
{
    const QString name = txtNodeName->text().trimmed();
    if (name.isEmpty())
        return;
    if (keys == (Qt::ControlModifier | Qt::ShiftModifier)) {
        prompts().message(kReadOnlyTip, MsgButtons::OK);
        return;
    }
    if (isXPathQuery(name)) {
        prompts().message(QStringLiteral("An XPath expression needs the document in memory; in large document form "
                                         "the name box finds elements by name."),
                          MsgButtons::OK);
        return;
    }
    m_largeMatches = m_large->findAll(name);
    m_largeMatchIndex = -1;
    QString info;
    if (m_largeMatches.empty()) {
        info = name + QStringLiteral(" is not found.");
    } else {
        const bool all = keys == Qt::ShiftModifier;
        for (size_t i = 0; i < m_largeMatches.size(); ++i) {
            if (info.size() > kMaxPaneChars) {
                info += QStringLiteral("[%1 more matches are not described here]\n").arg(m_largeMatches.size() - i);
                break;
            }
            info += QStringLiteral("Node: ") + QString::number(i + 1) + QLatin1Char(' ')
                + describeLargeRow(m_largeMatches[i], QStringLiteral("     ")) + QLatin1Char('\n');
            if (!all)
                break;
        }
        largeNext();
    }
    txtInfo->setPlainText(info);
    SetMsg(QStringLiteral("nNodes=") + QString::number(m_largeMatches.size()));
}

void frmMain::largeNext()
{
    if (m_largeMatches.empty())
        return;
    m_largeMatchIndex = (m_largeMatchIndex + 1) % qint64(m_largeMatches.size());
    const DocumentIndex::Row row = m_largeMatches[size_t(m_largeMatchIndex)];
    std::vector<DocumentIndex::Row> chain;
    for (DocumentIndex::Row r = m_large->parent(row); r != DocumentIndex::NoRow; r = m_large->parent(r))
        chain.push_back(r);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        TreeView1->expand(m_largeModel->indexOf(*it));
    const QModelIndex at = m_largeModel->indexOf(row);
    TreeView1->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
    TreeView1->scrollTo(at);
}

void frmMain::largeTreeMouseDown(Qt::MouseButton button, const QPoint& pos)
{
    const QModelIndex at = TreeView1->indexAt(pos);
    TreeView1->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
    if (button != Qt::RightButton || !at.isValid())
        return;
    for (QAction* entry : mnuCommands) {
        const bool reads = entry->text() == QLatin1String("ShowText") || entry->text() == QLatin1String("SaveToFile");
        entry->setEnabled(entry->isSeparator() || reads);
        entry->setToolTip(reads || entry->isSeparator() ? QString() : kReadOnlyTip);
    }
    mnuPopUp->setToolTipsVisible(true);
    mnuPopUp->popup(TreeView1->viewport()->mapToGlobal(pos));
}

void frmMain::largeMenuCommand(const QString& caption)
{
    const DocumentIndex::Row row = selectedLargeRow();
    if (row == DocumentIndex::NoRow)
        return;
    if (caption == QLatin1String("ShowText")) {
        QByteArray text;
        if (!m_large->extract(row, &text)) {
            prompts().message(m_large->lastError(), MsgButtons::OK);
            return;
        }
        if (!m_frmMessage) {
            m_frmMessage = new frmMessage(this);
            m_frmMessage->setAttribute(Qt::WA_DeleteOnClose);
        }
        m_frmMessage->ShowMessageUtf8(std::move(text), QStringLiteral("XML Contents"));
        m_frmMessage->show();
        m_frmMessage->raise();
    } else if (caption == QLatin1String("SaveToFile")) {
        const std::optional<QString> name = askSaveTarget(nodeFileRequest());
        if (!name)
            return;
        if (!m_large->saveSubtree(row, *name)) {
            prompts().message(m_large->lastError(), MsgButtons::OK);
            return;
        }
        prompts().message(QStringLiteral("XMLNode: ") + m_large->name(row) + QStringLiteral(" is saved to ") + *name,
                          MsgButtons::OK);
    }
}

} // namespace treelark
