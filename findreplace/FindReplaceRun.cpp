// What the buttons do: searching, stepping through the matches, listing them, replacing.
#include "FindReplaceWindow.h"

#include "DocumentSession.h"
#include "ReplaceAll.h"

#include <QLabel>
#include <QLineEdit>
#include <QCheckBox>
#include <QTreeWidget>

#include <algorithm>

namespace treelark {

namespace {

constexpr qsizetype kContext = 30; // characters shown either side of a listed match

bool sameMatch(const FindMatch& a, const FindMatch& b)
{
    return a.node == b.node && a.place == b.place && a.attributeName == b.attributeName && a.offset == b.offset;
}

// The match in its text, marked, with a little of the text around it.
QString marked(const FindMatch& m)
{
    const qsizetype from = qMax<qsizetype>(0, m.offset - kContext);
    const qsizetype to = qMin(m.subject.size(), m.offset + m.length + kContext);
    QString out = (from > 0 ? QStringLiteral("\u2026") : QString()) + m.subject.mid(from, m.offset - from)
        + QStringLiteral("\u00AB") + m.subject.mid(m.offset, m.length) + QStringLiteral("\u00BB")
        + m.subject.mid(m.offset + m.length, to - m.offset - m.length) + (to < m.subject.size() ? QStringLiteral("\u2026") : QString());
    out.replace(QLatin1Char('\n'), QChar(0x21B5));
    return out;
}

QString where(FindPlace place, const QString& attribute)
{
    return attribute.isEmpty() ? findPlaceName(place) : QStringLiteral("%1 (%2)").arg(findPlaceName(place), attribute);
}

} // namespace

bool FindReplaceWindow::search(std::vector<FindMatch>* out)
{
    out->clear();
    const FindOptions o = options();
    if (m_session.largeDocument() || !m_session.document()) {
        showProblem(QStringLiteral("Find"),
                    {QStringLiteral("finding needs the document in memory; this one is shown from its index"), -1});
        return false;
    }
    if (branchOnly->isChecked() && o.branch.isNull()) {
        showProblem(QStringLiteral("Find"), {QStringLiteral("select a node in the tree to search its branch"), -1});
        return false;
    }
    FindResult found = findAll(m_session.document(), o);
    if (found.problem.isError()) {
        const bool pattern = checkFindOptions(o).isError();
        showProblem(pattern ? QStringLiteral("Regular expression") : QStringLiteral("XPath"), found.problem);
        return false;
    }
    showProblem(QString(), FindProblem());
    *out = std::move(found.matches);
    return true;
}

void FindReplaceWindow::jumpTo(const FindMatch& match)
{
    if (!m_hooks.reveal)
        return;
    // the tree shows elements, texts and comments; an attribute is shown on its element
    DOMNode node = match.node;
    if (node.nodeType() == NODE_ATTRIBUTE)
        node = node.selectSingleNode(QStringLiteral(".."));
    m_hooks.reveal(node);
}

void FindReplaceWindow::step(int direction)
{
    std::vector<FindMatch> matches;
    if (!search(&matches))
        return;
    if (matches.empty()) {
        m_hasCurrent = false;
        if (m_hooks.status)
            m_hooks.status(findBox->text().isEmpty() ? QStringLiteral("Nothing to find.")
                                                     : QStringLiteral("\"%1\" was not found.").arg(findBox->text()));
        return;
    }
    const auto n = qsizetype(matches.size());
    qsizetype at = direction > 0 ? 0 : n - 1;
    if (m_hasCurrent)
        for (qsizetype i = 0; i < n; ++i)
            if (sameMatch(matches[size_t(i)], m_current)) {
                at = (i + direction + n) % n;
                break;
            }
    m_current = matches[size_t(at)];
    m_hasCurrent = true;
    jumpTo(m_current);
    if (m_hooks.status)
        m_hooks.status(QStringLiteral("Match %1 of %2: %3 at %4")
                           .arg(at + 1)
                           .arg(n)
                           .arg(where(m_current.place, m_current.attributeName), m_current.path));
}

void FindReplaceWindow::findAllMatches()
{
    results->clear();
    m_listed.clear();
    if (!search(&m_listed))
        return;
    QList<QTreeWidgetItem*> rows;
    rows.reserve(qsizetype(m_listed.size()));
    for (size_t i = 0; i < m_listed.size(); ++i) {
        const FindMatch& m = m_listed[i];
        auto* row = new QTreeWidgetItem({m.path, where(m.place, m.attributeName), marked(m)});
        row->setData(0, Qt::UserRole, qulonglong(i));
        rows << row;
    }
    results->addTopLevelItems(rows);
    if (m_hooks.status)
        m_hooks.status(m_listed.size() == 1 ? QStringLiteral("1 match.")
                                             : QStringLiteral("%1 matches.").arg(m_listed.size()));
}

void FindReplaceWindow::activated(QTreeWidgetItem* item)
{
    const QVariant index = item ? item->data(0, Qt::UserRole) : QVariant();
    if (!index.isValid() || index.toULongLong() >= m_listed.size())
        return;
    const FindMatch& m = m_listed[size_t(index.toULongLong())];
    jumpTo(m);
    m_current = m;
    m_hasCurrent = true;
}

void FindReplaceWindow::replaceCurrent()
{
    if (m_session.isReadOnly() || !m_session.editor())
        return;
    std::vector<FindMatch> matches;
    if (!search(&matches))
        return;
    const auto it = std::find_if(matches.begin(), matches.end(),
                                 [this](const FindMatch& m) { return m_hasCurrent && sameMatch(m, m_current); });
    if (it == matches.end()) {
        // nothing chosen yet: the first press goes to the match it would replace
        findNext();
        return;
    }
    const FindOptions o = options();
    const FindMatch replaced = *it;
    const size_t index = size_t(it - matches.begin());
    const ReplacePlan plan = planReplaceOne(replaced, o);
    // how long the text put in is: matches inside it are not gone to next
    const qsizetype put = plan.changes.empty()
        ? 0
        : plan.changes.front().after.size() - plan.changes.front().before.size() + replaced.length;
    const ReplaceOutcome outcome = replaceOne(*m_session.editor(), replaced, o);
    report(outcome);
    if (!outcome.changed())
        return;
    std::vector<FindMatch> after;
    if (!search(&after) || after.empty()) {
        m_hasCurrent = false;
        return;
    }
    size_t next = index;
    for (const FindMatch& m : after)
        if (m.node == replaced.node && m.place == replaced.place && m.offset >= replaced.offset
            && m.offset < replaced.offset + put)
            ++next;
    m_current = after[next % after.size()];
    m_hasCurrent = true;
    jumpTo(m_current);
}

void FindReplaceWindow::replaceEverything()
{
    if (m_session.isReadOnly() || !m_session.editor())
        return;
    std::vector<FindMatch> matches;
    if (!search(&matches)) // shows a fault in the pattern or the XPath before anything changes
        return;
    const ReplaceOutcome outcome = replaceAll(*m_session.editor(), options());
    m_hasCurrent = false;
    report(outcome);
}

void FindReplaceWindow::report(const ReplaceOutcome& outcome)
{
    QString text;
    if (!outcome.error.isEmpty())
        text = outcome.cancelled ? QStringLiteral("Replacing was stopped; the document is as it was.")
                                 : QStringLiteral("Nothing was replaced: %1").arg(outcome.error);
    else
        text = QStringLiteral("%1 replacement%2 in %3 node%4")
                   .arg(outcome.matches)
                   .arg(outcome.matches == 1 ? QString() : QStringLiteral("s"))
                   .arg(outcome.nodes)
                   .arg(outcome.nodes == 1 ? QString() : QStringLiteral("s"));
    if (!outcome.skipped.empty())
        text += QStringLiteral("; %1 left out (see the list)").arg(outcome.skipped.size());
    if (m_hooks.status)
        m_hooks.status(text + QLatin1Char('.'));
    if (outcome.skipped.empty())
        return;
    results->clear();
    m_listed.clear();
    for (const PlannedChange& c : outcome.skipped)
        results->addTopLevelItem(new QTreeWidgetItem(
            {c.path, where(c.place, c.attributeName), QStringLiteral("left out: %1").arg(c.reason)}));
}

} // namespace treelark
