#include "LoadController.h"

#include "DocumentSession.h"
#include "DroppedFiles.h"
#include "InfoPane.h"
#include "LoadPreview.h"
#include "LoadProgress.h"
#include "SaveCommands.h"
#include "StatusLine.h"
#include "treelark/Busy.h"
#include "treelark/IndexCache.h"
#include "treelark/Prompts.h"

#include <QApplication>
#include <QCompleter>
#include <QDateTime>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QStringListModel>
#include <QUrl>

namespace treelark {

namespace {

constexpr int kRecentDocuments = 10;
// Kept next to "LastURL", one address a line.
const QString kRecentSection = QStringLiteral("RecentDocuments");
const QString kRecentKey = QStringLiteral("Documents");
// A document tree costs about this many bytes of memory per byte of its file.
constexpr qint64 kTreeBytesPerFileByte = 12;

// Memory the system could give without swapping; 0 when it cannot be told.
qint64 availableMemory()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return 0;
    for (QByteArray line = meminfo.readLine(); !line.isEmpty(); line = meminfo.readLine())
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
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

QString localPath(const QString& name)
{
    if (name.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return QUrl(name).toLocalFile();
    if (name.contains(QLatin1String("://")))
        return QString();
    return name;
}

LoadController::LoadController(DocumentSession& session, QWidget* window, QLineEdit* nameBox, InfoPane& pane,
                               StatusLine& status, LoadProgress& progress, SaveCommands& save, TreeNavigator& tree)
    : QObject(window), m_session(session), m_window(window), m_nameBox(nameBox), m_pane(pane), m_status(status),
      m_progress(progress), m_save(save), m_preview(new LoadPreview(session, tree, progress, this))
{
    connect(&session, &DocumentSession::documentReady, this, &LoadController::oXMLMgr_DOMReady);
    connect(session.manager(), &ApXmlMgr::LoadProgress, &progress, &LoadProgress::progress);
    auto* completer = new QCompleter(new QStringListModel(recentDocuments(), this), this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    nameBox->setCompleter(completer);
}

qint32 LoadController::load(ApXmlMgr* manager, QString& name, bool validate)
{
    const bool replacing = manager == m_session.manager();
    if (replacing && !m_save.mayReplace())
        return qint32(DOMError::Cancelled);
    if (replacing && wantsLargeForm(name))
        if (const std::optional<qint32> opened = openLargeDocument(name))
            return *opened;
    // The rows come on screen ahead of the document when it is a file big enough to wait for.
    const bool preview = replacing && m_preview->begin(localPath(name));
    const qint32 result = m_progress.run([&] { return manager->LoadXml(name, validate); });
    if (preview)
        m_preview->end();
    if (result == qint32(DOMError::Cancelled))
        m_status.set(QStringLiteral("Loading ") + name
                     + QStringLiteral(" was cancelled; the document shown is unchanged."));
    return result;
}

void LoadController::loadClicked(bool validate)
{
    if (m_nameBox->text().isEmpty())
        return;
    const QString shown = m_session.url();
    m_session.setUrl(m_nameBox->text());
    // A cancelled load leaves the window on the document it showed.
    if (load(m_session.manager(), m_session.urlForLoad(), validate) == qint32(DOMError::Cancelled)) {
        m_session.setUrl(shown);
        return;
    }
    setTitle();
}

void LoadController::browse()
{
    m_session.setDocumentFile(lastUrl());
    FileDialogRequest request = SaveCommands::xmlFileRequest(QStringLiteral("Open an XML file."));
    splitAtLastSeparator(m_session.documentFile(), request.initialFolder, request.fileName);
    if (request.initialFolder.isEmpty())
        request.fileName.clear();
    if (std::optional<QString> chosen = prompts().openFile(request))
        m_nameBox->setText(*chosen);
}

void LoadController::loadAtStart()
{
    // The first load always validates, whatever the switch will say.
    load(m_session.manager(), m_session.urlForLoad(), true);
    m_nameBox->setText(m_session.url());
    showStarterIfEmpty();
}

void LoadController::startEmpty()
{
    m_session.setUrl(lastUrl());
    m_nameBox->setText(m_session.url());
    showStarterIfEmpty();
}

void LoadController::showStarterIfEmpty()
{
    if (!m_session.largeDocument() && m_session.document()->documentElement().isNull())
        m_session.openStarter();
}

void LoadController::oXMLMgr_DOMReady(DOMDocumentPtr doc)
{
    m_progress.end();
    qint64 nChars = 0;
    try {
        nChars = doc->xmlLength();
    } catch (const DOMException& e) {
        m_status.set(QStringLiteral("The document's length could not be counted: ") + e.description());
    }
    m_status.set(QStringLiteral("TotalNodes=") + QString::number(m_session.manager()->TotalNodes())
                 + QStringLiteral(", nChars=") + QString::number(nChars));
    m_pane.showLoaded(m_session.url(), nChars, doc->parseError());
    rememberLastUrl(m_session.url());
    if (doc->parseError().errorCode == 0)
        rememberRecent(m_session.url());
    setTitle();
}

bool LoadController::wantsLargeForm(const QString& name) const
{
    const QFileInfo info(localPath(name));
    return info.isFile() && (m_alwaysLarge || tooLargeForTree(info.size()));
}

std::optional<qint32> LoadController::openLargeDocument(QString& name)
{
    const QString path = QFileInfo(localPath(name)).absoluteFilePath();
    auto index = std::make_shared<DocumentIndex>();
    IndexCache cache(m_cacheFolder);
    IndexCache::Source from = IndexCache::Source::Built;
    clearCancel();
    // The index kept from an earlier run when it is of the file as it is now (read back
    // in a second or two, under the same progress and Cancel as a build); else a build,
    // kept for the next time. Not being able to keep it never fails the open.
    m_progress.run([&] {
        std::atomic<bool> stop{false};
        cache.open(path, index.get(), [this, &stop](qint64 done, qint64 total) {
            if (cancelRequested())
                stop = true;
            m_progress.progress(done, total);
        }, &stop, &from);
        return 0;
    });
    if (index->error().cancelled) {
        m_status.set(QStringLiteral("Loading ") + name
                     + QStringLiteral(" was cancelled; the document shown is unchanged."));
        return qint32(DOMError::Cancelled);
    }
    // A file the index cannot take at all (UTF-16, say) is read whole when it fits.
    if (index->rowCount() == 0 && !tooLargeForTree(QFileInfo(path).size()))
        return std::nullopt;
    m_session.openIndex(index, name);
    showLargeDocument(name);
    if (from == IndexCache::Source::Cache)
        m_status.set(m_status.text() + QStringLiteral(", index kept from an earlier opening"));
    else if (index->error().isNull() && !cache.lastError().isEmpty())
        m_status.set(m_status.text() + QStringLiteral("; ") + cache.lastError());
    return 0;
}

void LoadController::showLargeDocument(const QString& name)
{
    const DocumentIndex& index = *m_session.largeDocument();
    const qint64 mb = index.fileSize() >> 20;
    QString info = name + QStringLiteral(" is open read-only in large document form: at %1 MB it would need about "
                                         "%2 MB of memory as a document tree. Browsing, searching by name, ShowText "
                                         "and SaveToFile work; editing does not.")
                              .arg(mb)
                              .arg(mb * kTreeBytesPerFileByte);
    const DocumentIndexError& err = index.error();
    if (!err.isNull())
        info += QStringLiteral("\n\nThe document is not whole: %1\nLine %2, column %3. The %4 elements read before it "
                               "are shown.")
                    .arg(err.reason)
                    .arg(err.line)
                    .arg(err.column)
                    .arg(index.rowCount());
    m_pane.setText(info);
    m_status.set(QStringLiteral("TotalElements=") + QString::number(index.rowCount())
                 + QStringLiteral(", read-only large document"));
    rememberLastUrl(name);
    rememberRecent(name);
}

void LoadController::setTitle()
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    m_window->setWindowTitle(QStringLiteral("Treelark [win] ") + m_session.url() + QStringLiteral(" [")
                             + locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ')
                             + locale.toString(now.time(), QLocale::ShortFormat) + QLatin1Char(']'));
}

QStringList LoadController::recentDocuments() const
{
    return prompts().setting(kRecentSection, kRecentKey, QString()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void LoadController::rememberRecent(const QString& url)
{
    if (url.trimmed().isEmpty())
        return;
    QStringList recent = recentDocuments();
    recent.removeAll(url);
    recent.prepend(url);
    while (recent.size() > kRecentDocuments)
        recent.removeLast();
    prompts().setSetting(kRecentSection, kRecentKey, recent.join(QLatin1Char('\n')));
    if (QCompleter* c = m_nameBox->completer())
        if (auto* model = qobject_cast<QStringListModel*>(c->model()))
            model->setStringList(recent);
}

void LoadController::setNameBoxGreen(bool green)
{
    QPalette p = m_nameBox->palette();
    p.setColor(QPalette::Base, green ? QColor(0, 255, 0) : QApplication::palette(m_nameBox).color(QPalette::Base));
    m_nameBox->setPalette(p);
}

bool LoadController::nameBoxDragEvent(QEvent* event, bool validate)
{
    // A leave event is no drop event: the cast is made only for the kinds that are.
    auto* e = event->type() == QEvent::DragLeave ? nullptr : static_cast<QDropEvent*>(event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
        // Only file lists are taken; other drags (text) are refused, so the box neither
        // turns green for them nor inserts what they carry.
        if (localFiles(e->mimeData()).isEmpty()) {
            e->ignore();
            return true;
        }
        e->acceptProposedAction();
        setNameBoxGreen(true);
        return true;
    case QEvent::DragLeave:
        setNameBoxGreen(false);
        return true;
    case QEvent::Drop: {
        setNameBoxGreen(false);
        const QStringList paths = localFiles(e->mimeData());
        if (paths.isEmpty()) {
            e->ignore();
            return true;
        }
        e->acceptProposedAction();
        nameBoxDrop(paths, validate);
        return true;
    }
    default:
        return false;
    }
}

void LoadController::nameBoxDrop(const QStringList& paths, bool validate)
{
    if (paths.isEmpty())
        return;
    const QString path = paths.first();
    // ".INI" is left to the information pane, which shows it as text.
    static const QStringList endings{".XML", ".TXT", ".XSL", "HTML", ".HTM", ".ASC"};
    if (!hasAcceptedEnding(path, endings))
        return;
    m_nameBox->setText(path);
    loadClicked(validate);
}

} // namespace treelark
