// Loading a document with the window kept alive: a progress bar and a Cancel button
// once the load has taken half a second, Esc to stop it, and a failed load explained
// in the information pane with the line at fault and a caret under the column.
#include "frmMain.h"

#include "LoadInputGate.h"
#include "treelark/Busy.h"

#include <QApplication>
#include <QFontDatabase>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTextCursor>
#include <QTextEdit>

namespace treelark {

namespace {

constexpr qint64 kShowProgressAfterMs = 500;
// Lines longer than this are shown as the stretch around the fault.
constexpr qsizetype kShownLine = 120;

} // namespace

void frmMain::buildLoadControls()
{
    m_progress = new QProgressBar(StatusBar1);
    m_progress->setObjectName(QStringLiteral("LoadProgress"));
    // Wide enough for its own text at any size a file can have.
    const int fits = m_progress->fontMetrics().horizontalAdvance(QStringLiteral("Reading 99999 of 99999 MB")) + 24;
    m_progress->setMinimumWidth(fits);
    m_progress->setMaximumWidth(qMax(240, fits));
    m_progress->setRange(0, 1000);
    m_progress->hide();
    StatusBar1->addPermanentWidget(m_progress);
    m_cancelLoad = new QPushButton(QStringLiteral("Cancel"), StatusBar1);
    m_cancelLoad->setObjectName(QStringLiteral("CancelLoad"));
    m_cancelLoad->setToolTip(QStringLiteral("Stop loading (Esc)"));
    m_cancelLoad->hide();
    connect(m_cancelLoad, &QPushButton::clicked, this, [] { requestCancel(); });
    StatusBar1->addPermanentWidget(m_cancelLoad);
    m_loadGate = new LoadInputGate(m_cancelLoad, [] { requestCancel(); }, this);

    // Loading, counting and serializing a large document run on this thread; keep the
    // window painted meanwhile. Input waits until the work is done, except during a load,
    // where the gate lets through what cancels it.
    setBusyHandler([this] {
        m_busy = true;
        if (m_loading && m_loadClock.isValid() && m_loadClock.elapsed() >= kShowProgressAfterMs
            && m_cancelLoad->isHidden()) {
            if (m_progress->isHidden()) {
                m_progress->setRange(0, 0); // nothing known yet (an address still answering)
                m_progress->show();
            }
            m_cancelLoad->show();
        }
        QApplication::processEvents(m_loading ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        m_busy = false;
    });
}

qint32 frmMain::loadDocument(ApXmlMgr* manager, QString& name)
{
    return loadDocument(manager, name, bValidation);
}

qint32 frmMain::loadDocument(ApXmlMgr* manager, QString& name, bool validate)
{
    if (manager == oXMLMgr && wantsLargeForm(name))
        if (const std::optional<qint32> opened = openLargeDocument(name))
            return *opened;
    m_loading = true;
    m_loadClock.start();
    qApp->installEventFilter(m_loadGate);
    const qint32 result = manager->LoadXml(name, validate);
    qApp->removeEventFilter(m_loadGate);
    m_loading = false;
    endLoadDisplay();
    if (result == qint32(DOMError::Cancelled))
        SetMsg(QStringLiteral("Loading ") + name + QStringLiteral(" was cancelled; the document shown is unchanged."));
    return result;
}

void frmMain::endLoadDisplay()
{
    m_progress->hide();
    m_progress->setRange(0, 1000);
    m_cancelLoad->hide();
    m_loadClock.invalidate();
}

void frmMain::onLoadProgress(qint64 done, qint64 total)
{
    if (!m_loadClock.isValid())
        m_loadClock.start();
    if (total <= 0 || done >= total || m_loadClock.elapsed() < kShowProgressAfterMs)
        return;
    m_progress->setRange(0, 1000);
    m_progress->setValue(int(done * 1000 / total));
    m_progress->setFormat(QStringLiteral("Reading %1 of %2 MB").arg(done >> 20).arg(total >> 20));
    m_progress->setTextVisible(true);
    m_progress->show();
}

// What a person needs to mend the file: why, where, and the line itself with a caret
// under the column. The line and caret are set in a fixed-pitch font so they line up.
void frmMain::showLoadFailure(const DOMParseError& err)
{
    QTextCursor cursor(txtInfo->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("The document could not be loaded: ") + err.reason);
    if (err.line <= 0)
        return;
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("Line %1, column %2").arg(err.line).arg(err.linepos));
    if (err.srcText.isEmpty())
        return;
    cursor.insertText(QStringLiteral(":"));
    const QString shown = faultExcerpt(err.srcText, err.linepos);
    QTextCharFormat fixed;
    fixed.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const qsizetype nl = shown.indexOf(QLatin1Char('\n'));
    cursor.insertBlock();
    cursor.insertText(shown.left(nl), fixed);
    cursor.insertBlock();
    cursor.insertText(shown.mid(nl + 1), fixed);
}

// Two lines: the source line (or the stretch of it around the fault, marked with "...")
// and a caret under the column. Tabs before the column are kept in the caret line so
// the caret stays under the same character however wide a tab is drawn.
QString frmMain::faultExcerpt(const QString& line, qint64 column)
{
    const qsizetype at = qBound<qsizetype>(0, qsizetype(column) - 1, line.size());
    qsizetype from = 0;
    QString text = line;
    QString lead;
    if (line.size() > kShownLine) {
        from = qMax<qsizetype>(0, at - kShownLine / 2);
        text = line.mid(from, kShownLine);
        if (from > 0)
            lead = QStringLiteral("...");
        if (from + kShownLine < line.size())
            text += QStringLiteral("...");
    }
    QString caret(lead.size(), QLatin1Char(' '));
    for (qsizetype i = from; i < at; ++i)
        caret += line.at(i) == QLatin1Char('\t') ? QLatin1Char('\t') : QLatin1Char(' ');
    return lead + text + QLatin1Char('\n') + caret + QLatin1Char('^');
}

} // namespace treelark
