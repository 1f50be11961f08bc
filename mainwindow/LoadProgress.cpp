#include "LoadProgress.h"

#include "LoadInputGate.h"
#include "treelark/Busy.h"

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace treelark {

namespace {

constexpr qint64 kShowProgressAfterMs = 500;

} // namespace

LoadProgress::LoadProgress(QStatusBar* bar, QObject* parent)
    : QObject(parent), m_progress(new QProgressBar(bar)), m_cancel(new QPushButton(QStringLiteral("Cancel"), bar))
{
    m_progress->setObjectName(QStringLiteral("LoadProgress"));
    // Wide enough for its own text at any size a file can have.
    const int fits = m_progress->fontMetrics().horizontalAdvance(QStringLiteral("Reading 99999 of 99999 MB")) + 24;
    m_progress->setMinimumWidth(fits);
    m_progress->setMaximumWidth(qMax(240, fits));
    m_progress->setRange(0, 1000);
    m_progress->hide();
    bar->addPermanentWidget(m_progress);
    m_cancel->setObjectName(QStringLiteral("CancelLoad"));
    m_cancel->setToolTip(QStringLiteral("Stop what is running: the document stays as it was (Esc)"));
    m_cancel->hide();
    connect(m_cancel, &QPushButton::clicked, this, [] { requestCancel(); });
    bar->addPermanentWidget(m_cancel);
    m_gate = new LoadInputGate(m_cancel, [] { requestCancel(); }, this);

    // Loading, counting and serializing a large document run on this thread; keep the
    // window painted meanwhile. Input waits until the work is done, except during a load,
    // where the gate lets through what cancels it.
#ifdef __GLIBC__
    // A step over a whole document frees millions of small blocks; glibc gathers its
    // "fast" free lists in one sweep the next time a large block is freed, and that sweep
    // held the window for a quarter of a second. Without fast lists there is no sweep;
    // loading measured the same either way.
    mallopt(M_MXFAST, 0);
#endif
    setBusyHandler([this] {
        m_busy = true;
        if (m_loading && m_clock.isValid() && m_clock.elapsed() >= kShowProgressAfterMs && m_cancel->isHidden()) {
            if (m_progress->isHidden()) {
                m_progress->setRange(0, 0); // nothing known yet (an address still answering)
                m_progress->show();
            }
            m_cancel->show();
        }
        QApplication::processEvents(m_loading ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        m_busy = false;
    });
    // Long commands (walks over a subtree, paste, merge, save) run the way a load does.
    setLongCommandRunner([this](const std::function<void()>& work) {
        run([&] {
            work();
            return qint32(0);
        });
    });
}

LoadProgress::~LoadProgress()
{
    setBusyHandler(nullptr);
    setLongCommandRunner(nullptr);
}

qint32 LoadProgress::run(const std::function<qint32()>& load)
{
    if (m_loading)
        return load(); // inside another (a merge inside the load of its file): already shown
    m_loading = true;
    m_clock.start();
    qApp->installEventFilter(m_gate);
    const qint32 result = load();
    qApp->removeEventFilter(m_gate);
    m_loading = false;
    end();
    return result;
}

void LoadProgress::letThrough(QWidget* view) { m_gate->setBrowsable(view); }
void LoadProgress::letSearch(const QList<QWidget*>& widgets) { m_gate->setSearchable(widgets); }

void LoadProgress::end()
{
    m_progress->hide();
    m_progress->setRange(0, 1000);
    m_cancel->hide();
    m_clock.invalidate();
}

void LoadProgress::progress(qint64 done, qint64 total)
{
    if (!m_clock.isValid())
        m_clock.start();
    if (total <= 0 || done >= total || m_clock.elapsed() < kShowProgressAfterMs)
        return;
    m_progress->setRange(0, 1000);
    m_progress->setValue(int(done * 1000 / total));
    m_progress->setFormat(QStringLiteral("Reading %1 of %2 MB").arg(done >> 20).arg(total >> 20));
    m_progress->setTextVisible(true);
    m_progress->show();
}

} // namespace treelark
