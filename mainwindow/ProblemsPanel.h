// The "Problems" panel: a dock under the tree listing what the last validation found
// (severity, line:column, message, path). Hidden until there is something to show. A row
// opened (double-click, Enter) or walked to (F8, Shift+F8) asks for its node to be shown;
// after an edit the list stays, greyed, until the next validation.
#pragma once

#include "treelark/RowSource.h"

#include <QObject>
#include <QString>

#include <vector>

class QDockWidget;
class QMainWindow;
class QTreeWidget;
class QTreeWidgetItem;

namespace treelark {

struct ProblemRow {
    bool warning = false;
    qint64 line = 0;
    qint64 column = 0;
    QString message;
    QString path;
    TreeRow row; // the node it concerns; no row when the problem is the file's or the schema's
};

class ProblemsPanel : public QObject {
    Q_OBJECT
public:
    explicit ProblemsPanel(QMainWindow* window);

    // A new list, as one validation found it; `title` says what was checked against.
    void show(std::vector<ProblemRow> problems, const QString& title);
    void clear();
    // The document changed since: the rows are greyed, their places may have moved.
    void setStale(bool stale);
    bool isStale() const { return m_stale; }

    int count() const { return int(m_problems.size()); }
    int current() const;
    // F8 / Shift+F8: the next (previous) problem, round the end; false when there is none.
    bool step(bool backwards);

    QDockWidget* dock() const { return m_dock; }
    QTreeWidget* list() const { return m_list; }

signals:
    void problemOpened(const treelark::ProblemRow& problem);

private:
    void open(QTreeWidgetItem* item);

    QDockWidget* m_dock;
    QTreeWidget* m_list;
    std::vector<ProblemRow> m_problems;
    bool m_stale = false;
};

} // namespace treelark
