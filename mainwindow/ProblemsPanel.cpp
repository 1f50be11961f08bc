#include "ProblemsPanel.h"

#include <QDockWidget>
#include <QHeaderView>
#include <QMainWindow>
#include <QPalette>
#include <QTreeWidget>

namespace treelark {

ProblemsPanel::ProblemsPanel(QMainWindow* window)
    : QObject(window), m_dock(new QDockWidget(QStringLiteral("Problems"), window)), m_list(new QTreeWidget(m_dock))
{
    m_dock->setObjectName(QStringLiteral("Problems"));
    m_dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    m_list->setObjectName(QStringLiteral("lvwProblems"));
    m_list->setAccessibleName(QStringLiteral("Problems"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setHeaderLabels({QStringLiteral("Severity"), QStringLiteral("Line:Column"), QStringLiteral("Message"),
                             QStringLiteral("Path")});
    // the message takes what is left beside the short columns; the path, often long, last
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(2, QHeaderView::Interactive);
    m_list->header()->setStretchLastSection(true);
    m_dock->setWidget(m_list);
    window->addDockWidget(Qt::BottomDockWidgetArea, m_dock);
    m_dock->hide();
    // Enter on a row and a double-click both come as activation
    connect(m_list, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) { open(item); });
}

void ProblemsPanel::show(std::vector<ProblemRow> problems, const QString& title)
{
    m_problems = std::move(problems);
    m_list->clear();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(qsizetype(m_problems.size()));
    for (const ProblemRow& p : m_problems) {
        const QString place = p.line > 0 ? QString::number(p.line) + QLatin1Char(':') + QString::number(p.column)
                                         : QString();
        auto* item = new QTreeWidgetItem(QStringList{p.warning ? QStringLiteral("warning") : QStringLiteral("error"),
                                                     place, p.message, p.path});
        item->setToolTip(2, p.message);
        rows.append(item);
    }
    m_list->addTopLevelItems(rows);
    m_dock->setWindowTitle(title.isEmpty() ? QStringLiteral("Problems") : QStringLiteral("Problems: ") + title);
    m_stale = true; // so setStale(false) repaints
    setStale(false);
    if (m_problems.empty()) {
        m_dock->hide();
        return;
    }
    m_dock->show();
    m_list->setColumnWidth(2, qMax(200, m_list->viewport()->width() * 3 / 5));
    m_list->setCurrentItem(m_list->topLevelItem(0));
}

void ProblemsPanel::clear()
{
    m_problems.clear();
    m_list->clear();
    m_stale = false;
    m_dock->hide();
}

void ProblemsPanel::setStale(bool stale)
{
    if (stale == m_stale)
        return;
    m_stale = stale;
    const QBrush ink = m_list->palette().brush(stale ? QPalette::Disabled : QPalette::Active, QPalette::Text);
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        for (int c = 0; c < m_list->columnCount(); ++c)
            m_list->topLevelItem(i)->setForeground(c, ink);
}

int ProblemsPanel::current() const
{
    QTreeWidgetItem* item = m_list->currentItem();
    return item ? m_list->indexOfTopLevelItem(item) : -1;
}

bool ProblemsPanel::step(bool backwards)
{
    const int n = count();
    if (n == 0)
        return false;
    const int at = current();
    const int next = at < 0 ? (backwards ? n - 1 : 0) : (at + (backwards ? n - 1 : 1)) % n;
    QTreeWidgetItem* item = m_list->topLevelItem(next);
    m_list->setCurrentItem(item);
    m_list->scrollToItem(item);
    open(item);
    return true;
}

void ProblemsPanel::open(QTreeWidgetItem* item)
{
    const int at = item ? m_list->indexOfTopLevelItem(item) : -1;
    if (at >= 0 && at < count())
        emit problemOpened(m_problems[size_t(at)]);
}

} // namespace treelark
