// Where each problem a check finds is: the element's number and path, settled once the
// counts of its ancestors' children are known.
#include "validate_internal.h"

#include <algorithm>

namespace treelark::detail {

namespace {

QString qualifiedName(const xmlNode* n)
{
    const QString local = QString::fromUtf8(reinterpret_cast<const char*>(n->name));
    return n->ns && n->ns->prefix ? QString::fromUtf8(reinterpret_cast<const char*>(n->ns->prefix)) + QLatin1Char(':') + local
                                  : local;
}

// The faults a DTD check in the reader may report a second time.
bool reportedTwice(const xmlError* e)
{
    return e->domain == XML_FROM_VALID && (e->code == XML_DTD_UNKNOWN_ELEM || e->code == XML_DTD_CONTENT_MODEL);
}

} // namespace

ElementTrack::ElementTrack(ValidationResult& result, const ValidationOptions& options, const QString& file,
                           const QByteArray& url)
    : m_result(result), m_options(options), m_file(file), m_url(url), m_steps(result.problems.size())
{
}

std::vector<ElementTrack::Step> ElementTrack::chain(qsizetype through)
{
    std::vector<Step> steps;
    for (qsizetype k = 0; k <= through; ++k) {
        Frame& f = m_open[std::size_t(k)];
        f.named = true;
        steps.push_back({k ? m_open[std::size_t(k - 1)].ordinal : -1, f.name, f.index});
    }
    return steps;
}

void ElementTrack::enter(const QString& name, xmlNodePtr node)
{
    step();
    Frame f{node, m_next++, name, 1, {}};
    if (!m_open.empty())
        f.index = ++m_open.back().children[f.name];
    m_open.push_back(std::move(f));
    if (!node)
        return;
    const auto ahead = m_ahead.find(node);
    if (ahead == m_ahead.end())
        return;
    const std::vector<Step> steps = chain(qsizetype(m_open.size()) - 1);
    for (const std::size_t i : ahead->second) {
        m_result.problems[i].element = m_open.back().ordinal;
        m_steps[i] = steps;
    }
    for (auto it = m_seenAhead.begin(); it != m_seenAhead.end();) {
        if (it->first == node) {
            m_seen.insert({m_open.back().ordinal, it->second});
            it = m_seenAhead.erase(it);
        } else {
            ++it;
        }
    }
    m_ahead.erase(ahead);
}

void ElementTrack::step()
{
    if (m_leavePending)
        leave();
    m_leavePending = false;
}

void ElementTrack::leave()
{
    if (m_open.empty())
        return;
    if (m_open.back().named)
        m_counts[m_open.back().ordinal] = std::move(m_open.back().children);
    m_open.pop_back();
}

void ElementTrack::report(const xmlError* e, bool nodeless)
{
    if (!e)
        return;
    const bool parsing = e->domain == XML_FROM_PARSER || e->domain == XML_FROM_NAMESPACE || e->domain == XML_FROM_IO
        || e->level == XML_ERR_FATAL;
    ValidationProblem p = problemFrom(e);
    if (p.file.isEmpty() || p.file.toUtf8() == m_url)
        p.file = m_file;
    std::vector<Step> steps;
    xmlNodePtr n = parsing ? nullptr : static_cast<xmlNodePtr>(e->node);
    // A namespace declaration has no parent to climb to (its structure is another).
    while (n && n->type != XML_ELEMENT_NODE)
        n = n->type == XML_DOCUMENT_NODE || n->type == XML_NAMESPACE_DECL ? nullptr : n->parent;
    bool ahead = false;
    if (n) {
        qsizetype at = qsizetype(m_open.size()) - 1;
        while (at >= 0 && m_open[std::size_t(at)].node != n)
            --at;
        const bool next = at < 0
            && (m_open.empty() ? n->parent && n->parent->type == XML_DOCUMENT_NODE : n->parent == m_open.back().node);
        if (at >= 0) {
            steps = chain(at);
            p.element = m_open[std::size_t(at)].ordinal;
        } else if (next) { // the element the reader is about to stand on
            steps = chain(qsizetype(m_open.size()) - 1);
            const QString name = qualifiedName(n);
            steps.push_back({m_open.empty() ? -1 : m_open.back().ordinal, name,
                             m_open.empty() ? 1 : m_open.back().children.value(name) + 1});
            p.element = m_next;
        } else {
            ahead = true;
        }
        // The element's own line: libxml2 gives the parser's place, which may be far on.
        p.line = qMax(0L, xmlGetLineNo(n));
        p.column = 0;
    } else if (nodeless && !parsing && !m_open.empty()) {
        steps = chain(qsizetype(m_open.size()) - 1);
        p.element = m_open.back().ordinal;
    }
    if (reportedTwice(e)) {
        const bool again = p.element >= 0 ? m_seen.count({p.element, e->code}) || (n && m_seenAhead.count({n, e->code}))
                                          : ahead && m_seenAhead.count({n, e->code});
        if (again)
            return;
        if (ahead)
            m_seenAhead.insert({n, e->code});
        else if (p.element >= 0)
            m_seen.insert({p.element, e->code});
    }

    ++(e->level == XML_ERR_WARNING ? m_result.warnings : m_result.errors);
    if (m_result.problems.size() >= std::size_t(qMax(0, m_options.maxListedProblems)))
        return;
    if (e->level == XML_ERR_FATAL && m_firstFatal < 0)
        m_firstFatal = qsizetype(m_result.problems.size());
    if (ahead)
        m_ahead[n].push_back(m_result.problems.size());
    m_result.problems.push_back(std::move(p));
    m_steps.push_back(std::move(steps));
}

void ElementTrack::refused(const QString& message)
{
    ++m_result.errors;
    m_result.problems.push_back(fileProblem(m_file, message));
    m_steps.emplace_back();
}

void ElementTrack::finish()
{
    m_leavePending = false;
    while (!m_open.empty())
        leave();
    m_steps.resize(m_result.problems.size());
    for (std::size_t i = 0; i < m_steps.size(); ++i) {
        if (m_steps[i].empty())
            continue;
        QString path;
        for (const Step& s : m_steps[i]) {
            path += QLatin1Char('/') + s.name;
            const auto counts = m_counts.find(s.parent);
            const int siblings = counts == m_counts.end() ? s.index : counts->second.value(s.name);
            if (s.parent >= 0 && siblings > 1)
                path += QStringLiteral("[%1]").arg(s.index);
        }
        m_result.problems[i].path = path;
    }
    if (m_firstFatal > 0)
        std::rotate(m_result.problems.begin(), m_result.problems.begin() + m_firstFatal,
                    m_result.problems.begin() + m_firstFatal + 1);
    m_result.elements = m_next;
}

} // namespace treelark::detail
