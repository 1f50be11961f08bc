// A load with the window kept alive: painted, a progress bar and a Cancel button once it
// has taken half a second, Esc to stop it. Long work that is not a load (counting,
// serializing) keeps the window painted too, with input held until it is done.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>

#include <functional>

class QProgressBar;
class QPushButton;
class QStatusBar;
class QWidget;

namespace treelark {

class LoadProgress : public QObject {
    Q_OBJECT
public:
    explicit LoadProgress(QStatusBar* bar, QObject* parent = nullptr);
    ~LoadProgress() override;

    // Runs `load`, the gate open for what cancels it.
    qint32 run(const std::function<qint32()>& load);
    void progress(qint64 done, qint64 total);
    // The progress display put away.
    void end();
    // While a load runs, lets a person browse `view` (read only): scroll, click and move
    // through its rows, open and close branches. nullptr: nothing but Cancel again.
    void letThrough(QWidget* view);
    // What takes any input while a view is let through: the search by name.
    void letSearch(const QList<QWidget*>& widgets);
    // Inside a load or other long work (the window refuses to close meanwhile).
    bool busy() const { return m_busy; }

private:
    QProgressBar* m_progress;
    QPushButton* m_cancel;
    class LoadInputGate* m_gate;
    QElapsedTimer m_clock;
    bool m_busy = false;
    bool m_loading = false;
};

} // namespace treelark
