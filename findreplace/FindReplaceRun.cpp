// What the buttons do: searching (the document in memory, or the large form's file),
// stepping through the matches, listing them, replacing. Searches and Replace All run
// through the main window's long-work hook: painted, with progress and Cancel.
#include "FindReplaceWindow.h"

#include "DocumentSession.h"
#include "MatchListModel.h"
#include "ReplaceAll.h"
#include "treelark/Busy.h"

#include <QLabel>
#include <QLineEdit>
#include <QCheckBox>
#include <QTreeView>

#include <algorithm>

namespace treelark {

namespace {

bool sameMatch(const FindMatch& a, const FindMatch& b)
{
    return a.node == b.node && a.row == b.row && a.place == b.place && a.attributeName == b.attributeName
        && a.offset == b.offset && a.path == b.path;
}

bool sameSearch(const FindOptions& a, const FindOptions& b)
{
    return a.findText == b.findText && a.places == b.places && a.matchCase == b.matchCase && a.wholeWord == b.wholeWord
        && a.regularExpression == b.regularExpression && a.xpath == b.xpath && a.branch == b.branch
        && a.branchRow == b.branchRow;
}

} // namespace

void FindReplaceWindow::runLong(const std::function<void()>& work)
{
    clearCancel();
    if (m_hooks.runLong)
        m_hooks.runLong(work);
    else
        work();
}

std::shared_ptr<const std::vector<FindMatch>> FindReplaceWindow::search()
{
    const FindOptions o = options();
    if (m_found && sameSearch(o, m_foundFor))
        return m_found;
    const DocumentIndex* large = m_session.largeDocument();
    if (!large && !m_session.document())
        return nullptr;
    if (branchOnly->isChecked() && o.branch.isNull() && o.branchRow < 0) {
        showProblem(QStringLiteral("Find"), {QStringLiteral("select a node in the tree to search its branch"), -1});
        return nullptr;
    }
    FindResult found;
    runLong([&] { found = large ? findInFile(*large, o) : findAll(m_session.document(), o); });
    if (found.problem.cancelled) {
        if (m_hooks.status)
            m_hooks.status(QStringLiteral("The search was stopped."));
        return nullptr;
    }
    if (found.problem.isError()) {
        const bool pattern = checkFindOptions(o).isError();
        showProblem(pattern ? QStringLiteral("Regular expression") : QStringLiteral("XPath"), found.problem);
        return nullptr;
    }
    showProblem(QString(), FindProblem());
    forget();
    m_found = std::make_shared<std::vector<FindMatch>>(std::move(found.matches));
    m_foundFor = o;
    return m_found;
}

void FindReplaceWindow::forget()
{
    MatchListModel::letGo(m_found);
}

void FindReplaceWindow::jumpTo(const FindMatch& match)
{
    if (match.node.isNull()) {
        if (m_hooks.revealRow && match.row >= 0)
            m_hooks.revealRow(match.row);
        return;
    }
    if (!m_hooks.reveal)
        return;
    // the tree shows elements, texts and comments; an attribute is shown on its element
    const DOMNode node = match.node.nodeType() == NODE_ATTRIBUTE ? match.node.ownerElement() : match.node;
    m_hooks.reveal(node);
}

void FindReplaceWindow::step(int direction)
{
    const auto found = search();
    if (!found)
        return;
    const std::vector<FindMatch>& matches = *found;
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
                           .arg(whereText(m_current.place, m_current.attributeName), m_current.path));
}

void FindReplaceWindow::findAllMatches()
{
    resultsModel->clear();
    const auto found = search();
    if (!found)
        return;
    resultsModel->showMatches(found);
    if (m_hooks.status)
        m_hooks.status(found->size() == 1 ? QStringLiteral("1 match.") : QStringLiteral("%1 matches.").arg(found->size()));
}

void FindReplaceWindow::activated(const QModelIndex& index)
{
    const FindMatch* m = index.isValid() ? resultsModel->matchAt(index.row()) : nullptr;
    if (!m)
        return;
    m_current = *m;
    m_hasCurrent = true;
    jumpTo(m_current);
}

void FindReplaceWindow::replaceCurrent()
{
    if (m_session.isReadOnly() || !m_session.editor())
        return;
    const auto found = search();
    if (!found)
        return;
    const std::vector<FindMatch>& matches = *found;
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
    const auto after = search();
    if (!after || after->empty()) {
        m_hasCurrent = false;
        return;
    }
    size_t next = index;
    for (const FindMatch& m : *after)
        if (m.node == replaced.node && m.place == replaced.place && m.offset >= replaced.offset
            && m.offset < replaced.offset + put)
            ++next;
    m_current = (*after)[next % after->size()];
    m_hasCurrent = true;
    jumpTo(m_current);
}

void FindReplaceWindow::replaceEverything()
{
    if (m_session.isReadOnly() || !m_session.editor())
        return;
    ReplaceOutcome outcome;
    const FindOptions o = options();
    runLong([&] { outcome = replaceAll(*m_session.editor(), o); });
    m_hasCurrent = false;
    if (outcome.problem.isError() && !outcome.cancelled) {
        const bool pattern = checkFindOptions(o).isError();
        showProblem(pattern ? QStringLiteral("Regular expression") : QStringLiteral("XPath"), outcome.problem);
        return;
    }
    showProblem(QString(), FindProblem());
    report(outcome);
}

void FindReplaceWindow::report(const ReplaceOutcome& outcome)
{
    QString text;
    if (!outcome.error.isEmpty())
        text = outcome.cancelled ? QStringLiteral("Replacing was stopped; the document is as it was")
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
    if (!outcome.skipped.empty())
        resultsModel->showLeftOut(outcome.skipped);
    else if (outcome.changed())
        resultsModel->clear(); // what it listed is gone or moved
}

} // namespace treelark
