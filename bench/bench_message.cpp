// "ShowText" on a large document, on the real main window (offscreen), each figure next
// to its target:
//   first screen of the message window shown   vs  saving the document to a file
//   the longest the window stops answering while it opens, indexes and is scrolled
//   to the end and through the text (a 5 ms heartbeat timer measures the gaps)
//   memory the window adds, held and at its peak   vs  the text's size in bytes
//
//   bench_message FILE [--runs N] [--smoke]
// --smoke only checks that everything runs; it does not judge the figures.
#include "bench_common.h"
#include "LargeTextView.h"
#include "frmMain.h"
#include "process_memory.h"
#include "frmMessage.h"
#include "ScriptedPrompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace treelark;

namespace {

qint64 settledRssKb()
{
    malloc_trim(0);
    return procStatusKb("VmRSS:");
}


// The longest time between two ticks of a fast timer: how long the GUI thread was busy.
class Heartbeat : public QObject {
public:
    Heartbeat()
    {
        m_timer.setInterval(5);
        m_timer.setTimerType(Qt::PreciseTimer);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_longest = 0;
        m_timer.start();
    }
    // includes the time since the last tick: a stall still going on counts
    double stop()
    {
        m_timer.stop();
        return std::max(m_longest, m_clock.nsecsElapsed() - m_last) / 1e9;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Notes the first paint of the message window's text that has lines to show.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(LargeTextView* view) : m_view(view) { view->viewport()->installEventFilter(this); }
    bool seen = false;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && m_view->lineCount() > 0)
            seen = true;
        return false;
    }

private:
    LargeTextView* m_view;
};

struct ShowRun {
    double call = 0; // ShowText itself, before the window paints
    double firstScreen = 0;
    double indexed = 0;
    double longestStall = 0;
    double longestScrollPaint = 0;
    qint64 textBytes = 0;
    qint64 heldKb = 0;
    qint64 peakKb = 0;
};

ShowRun showText(frmMain& w)
{
    ShowRun run;
    Heartbeat beat;
    const qint64 before = settledRssKb();
    resetPeak();
    beat.start();
    QApplication::processEvents(); // a tick or two, so the heartbeat is running

    QElapsedTimer clock;
    clock.start();
    w.runMenuCommand(QStringLiteral("ShowText"));
    run.call = clock.nsecsElapsed() / 1e9;
    auto* form = w.findChild<frmMessage*>();
    if (!form)
        return run;
    LargeTextView* view = form->txtMessage;
    FirstPaint painted(view);
    view->viewport()->update();
    while (!painted.seen)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    run.firstScreen = clock.nsecsElapsed() / 1e9;
    while (!view->indexComplete())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    run.indexed = clock.nsecsElapsed() / 1e9;

    // to the end, as a reader would: Ctrl+End, then the scroll bar dragged back
    // through the text, every position painted
    view->setFocus();
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
    QApplication::sendEvent(view, &end);
    QApplication::processEvents();
    QScrollBar* bar = view->verticalScrollBar();
    for (int step = 100; step >= 0; --step) {
        bar->setValue(int(qint64(bar->maximum()) * step / 100));
        QElapsedTimer paint;
        paint.start();
        view->viewport()->repaint();
        run.longestScrollPaint = std::max(run.longestScrollPaint, paint.nsecsElapsed() / 1e9);
        QApplication::processEvents();
    }
    run.longestStall = beat.stop();
    run.textBytes = view->bytes().size();
    run.peakKb = procStatusKb("VmHWM:") - before;
    run.heldKb = settledRssKb() - before;

    QPointer<frmMessage> closing = form;
    form->close();
    while (closing) {
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int runs = 3;
    bool smoke = false;
    QString file;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = std::max(1, args[++i].toInt());
        else if (args[i] == QLatin1String("--smoke"))
            smoke = true;
        else
            file = args[i];
    }
    if (file.isEmpty()) {
        std::fprintf(stderr, "usage: bench_message FILE [--runs N] [--smoke]\n");
        return 2;
    }
    auto script = std::make_shared<ScriptedPrompts>();
    setPrompts(script);

    frmMain w(file);
    w.resize(1000, 800);
    w.show();
    QApplication::processEvents();
    if (!w.document() || w.document()->parseError().errorCode != 0) {
        std::fprintf(stderr, "%s did not load\n", qPrintable(file));
        return 2;
    }

    QTemporaryDir dir;
    std::vector<double> saves;
    std::vector<ShowRun> shows;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        w.document()->save(dir.filePath(QStringLiteral("saved.xml")));
        saves.push_back(t.nsecsElapsed() / 1e9);
        QFile::remove(dir.filePath(QStringLiteral("saved.xml")));
        shows.push_back(showText(w));
    }
    const double save = median(saves);
    std::vector<double> call, first, stall, scroll, indexed;
    qint64 held = 0, peak = 0;
    for (const ShowRun& s : shows) {
        call.push_back(s.call);
        first.push_back(s.firstScreen);
        stall.push_back(s.longestStall);
        scroll.push_back(s.longestScrollPaint);
        indexed.push_back(s.indexed);
        held = std::max(held, s.heldKb);
        peak = std::max(peak, s.peakKb);
    }
    const double text = shows.front().textBytes / 1024.0; // KiB, like the memory figures
    const double firstRatio = save > 0 ? median(first) / save : 0;
    const double worstStall = *std::max_element(stall.begin(), stall.end());
    const double heldRatio = held / text, peakRatio = peak / text;

    std::printf("text shown:                 %.1f MB\n", shows.front().textBytes / 1e6);
    std::printf("save to a file (reference): %.3f s (median of %d)\n", save, runs);
    std::printf("first screen shown:         %.3f s  = %.2f x save   (target <= 1.5)  %s\n", median(first), firstRatio,
                firstRatio <= 1.5 ? "met" : "MISSED");
    std::printf("  of which ShowText itself: %.3f s\n", median(call));
    std::printf("whole text indexed:         %.3f s\n", median(indexed));
    std::printf("longest GUI stall:          %.3f s                (target <= 1 s)  %s\n", worstStall,
                worstStall <= 1.0 ? "met" : "MISSED");
    std::printf("longest repaint scrolling:  %.4f s\n", *std::max_element(scroll.begin(), scroll.end()));
    std::printf("memory added, held:         %.1f MB = %.2f x text (target <= 2.5)  %s\n", held / 1024.0, heldRatio,
                heldRatio <= 2.5 ? "met" : "MISSED");
    std::printf("memory added, peak:         %.1f MB = %.2f x text (target <= 2.5)  %s\n", peak / 1024.0, peakRatio,
                peakRatio <= 2.5 ? "met" : "MISSED");
    if (smoke)
        return 0;
    return firstRatio <= 1.5 && worstStall <= 1.0 && peakRatio <= 2.5 ? 0 : 1;
}
