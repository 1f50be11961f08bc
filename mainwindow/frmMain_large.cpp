// Large document form: a file too large to hold in memory as a tree of nodes is opened
// read-only from an index of its elements. The tree shows the index's rows through the
// same model as a document's; the pane, the status line, name search with Next,
// ShowText and SaveToFile read them through the same row interface. Commands that would
// change the document are disabled and say why.
#include "frmMain.h"

#include "AppState.h"
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

    m_large = index;
    m_rowMatches.clear();
    m_rowMatchIndex = -1;
    m_model->setSource(std::make_shared<IndexRowSource>(index));
    for (const TreeRow& top : m_model->source().topRows())
        AddTreeNode(top);
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
    m_model->setSource(std::make_shared<DomRowSource>(oDoc));
    m_large.reset();
    m_rowMatches.clear();
    for (QAction* entry : mnuCommands) {
        entry->setEnabled(true);
        entry->setToolTip(QString());
    }
    allowEditing(true);
}

bool frmMain::isReadOnly() const
{
    return !m_model->source().readOnlyReason().isEmpty();
}

QString frmMain::readOnlyTip() const
{
    return QStringLiteral("Not available: ") + m_model->source().readOnlyReason() + QLatin1Char('.');
}

void frmMain::allowEditing(bool allowed)
{
    for (const char* key : {"save", "merge", "undo", "redo"}) {
        QAction* a = toolbarButton(QLatin1String(key));
        if (!a)
            continue;
        if (!allowed) {
            a->setProperty("editingTip", a->toolTip());
            a->setToolTip(readOnlyTip());
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

TreeRow frmMain::selectedRow() const
{
    const TreeItem* item = selectedItem();
    return item ? item->sourceRow() : TreeRow();
}

QString frmMain::describeRow(const TreeRow& row, const QString& sep, RowDetails* details) const
{
    const RowSource& source = m_model->source();
    RowDetails d;
    if (!source.read(row, &d)) {
        prompts().message(source.lastError(), MsgButtons::OK);
        return QString();
    }
    QString info = d.name + QStringLiteral("=NodeType:TypeName=") + QString::number(d.type) + QLatin1Char(':')
        + d.typeName + QStringLiteral(", Text=:") + d.text + (d.textTruncated ? QStringLiteral("...") : QString());
    for (qsizetype i = 0; i < d.attributes.size(); ++i)
        info += QLatin1Char('\n') + sep + QString::number(i) + QLatin1Char(':') + d.attributes[i].name
            + QLatin1Char('=') + d.attributes[i].value;
    if (details)
        *details = std::move(d);
    return info;
}

void frmMain::readOnlyTreeClick()
{
    const TreeItem* item = selectedItem();
    if (!item)
        return;
    const RowSource& source = m_model->source();
    const QString path = source.path(item->sourceRow());
    RowDetails d;
    QString info = describeRow(item->sourceRow(), QStringLiteral(" "), &d) + QStringLiteral("\n\n") + path;
    if (d.type == NODE_ELEMENT)
        info += QStringLiteral("\nnChildElements=") + QString::number(d.childElements);
    txtInfo->setPlainText(info);
    SetMsg(QStringLiteral("Node ") + item->text + QStringLiteral(" Total=") + QString::number(source.elementCount())
           + QStringLiteral(" Path=") + path);
}

void frmMain::readOnlySearch(Qt::KeyboardModifiers keys)
{
    const QString name = txtNodeName->text().trimmed();
    if (name.isEmpty())
        return;
    if (keys == (Qt::ControlModifier | Qt::ShiftModifier)) {
        prompts().message(readOnlyTip(), MsgButtons::OK);
        return;
    }
    if (isXPathQuery(name)) {
        prompts().message(QStringLiteral("An XPath expression needs the document in memory; in large document form "
                                         "the name box finds elements by name."),
                          MsgButtons::OK);
        return;
    }
    m_rowMatches = m_model->source().findByName(name);
    m_rowMatchIndex = -1;
    QString info;
    if (m_rowMatches.empty()) {
        info = name + QStringLiteral(" is not found.");
    } else {
        const bool all = keys == Qt::ShiftModifier;
        for (size_t i = 0; i < m_rowMatches.size(); ++i) {
            if (info.size() > kMaxPaneChars) {
                info += QStringLiteral("[%1 more matches are not described here]\n").arg(m_rowMatches.size() - i);
                break;
            }
            info += QStringLiteral("Node: ") + QString::number(i + 1) + QLatin1Char(' ')
                + describeRow(m_rowMatches[i], QStringLiteral("     ")) + QLatin1Char('\n');
            if (!all)
                break;
        }
        readOnlyNext();
    }
    txtInfo->setPlainText(info);
    SetMsg(QStringLiteral("nNodes=") + QString::number(m_rowMatches.size()));
}

void frmMain::readOnlyNext()
{
    if (m_rowMatches.empty())
        return;
    m_rowMatchIndex = (m_rowMatchIndex + 1) % qint64(m_rowMatches.size());
    revealRow(m_rowMatches[size_t(m_rowMatchIndex)]);
}

void frmMain::readOnlyMouseDown(Qt::MouseButton button, const QPoint& pos)
{
    const QModelIndex at = TreeView1->indexAt(pos);
    TreeView1->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect);
    if (button != Qt::RightButton || !at.isValid())
        return;
    for (QAction* entry : mnuCommands) {
        const bool reads = entry->text() == QLatin1String("ShowText") || entry->text() == QLatin1String("SaveToFile");
        entry->setEnabled(entry->isSeparator() || reads);
        entry->setToolTip(reads || entry->isSeparator() ? QString() : readOnlyTip());
    }
    mnuPopUp->setToolTipsVisible(true);
    mnuPopUp->popup(TreeView1->viewport()->mapToGlobal(pos));
}

void frmMain::readOnlyMenuCommand(const QString& caption)
{
    const TreeRow row = selectedRow();
    if (row.isNull())
        return;
    if (caption == QLatin1String("ShowText")) {
        QByteArray text;
        if (!m_model->source().extract(row, &text)) {
            prompts().message(m_model->source().lastError(), MsgButtons::OK);
            return;
        }
        showInMessageWindow(std::move(text));
    } else if (caption == QLatin1String("SaveToFile")) {
        saveRowToFile(row);
    }
}

} // namespace treelark
