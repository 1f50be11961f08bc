// Finding: the pattern, the walk over names and values in document order, and paths.
#include "find_internal.h"

namespace treelark {

namespace detail {

Pattern compilePattern(const FindOptions& options)
{
    Pattern p;
    p.empty = options.findText.isEmpty();
    if (p.empty)
        return p;
    QRegularExpression::PatternOptions flags = QRegularExpression::UseUnicodePropertiesOption;
    if (!options.matchCase)
        flags |= QRegularExpression::CaseInsensitiveOption;
    QString body = options.regularExpression ? options.findText : QRegularExpression::escape(options.findText);
    if (options.regularExpression) {
        // checked alone first, so the offset reported is one in what the user typed
        QRegularExpression bare(body, flags);
        if (!bare.isValid()) {
            p.problem.message = bare.errorString();
            p.problem.offset = bare.patternErrorOffset();
            return p;
        }
    }
    // lookarounds rather than \b: the text may itself begin or end with a non-word character
    if (options.wholeWord)
        body = QStringLiteral("(?<!\\w)(?:%1)(?!\\w)").arg(body);
    p.re = QRegularExpression(body, flags);
    if (!p.re.isValid()) {
        p.problem.message = p.re.errorString();
        p.problem.offset = p.re.patternErrorOffset();
    }
    return p;
}

QString expandReplacement(const QRegularExpressionMatch& m, const FindOptions& options)
{
    const QString& r = options.replaceText;
    if (!options.regularExpression || !r.contains(QLatin1Char('\\')))
        return r;
    QString out;
    out.reserve(r.size());
    for (qsizetype i = 0; i < r.size(); ++i) {
        const QChar c = r.at(i);
        if (c == QLatin1Char('\\') && i + 1 < r.size()) {
            const QChar next = r.at(i + 1);
            if (next.isDigit() && next.digitValue() <= m.lastCapturedIndex()) {
                out += m.captured(next.digitValue());
                ++i;
                continue;
            }
            if (next == QLatin1Char('\\')) {
                out += next;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString replaceWith(const Pattern& pattern, const QString& subject, const FindOptions& options, int* count)
{
    int n = 0;
    if (pattern.empty || pattern.problem.isError()) {
        if (count)
            *count = 0;
        return subject;
    }
    QString out;
    qsizetype done = 0;
    auto it = pattern.re.globalMatch(subject);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedLength() == 0)
            continue;
        out += QStringView(subject).mid(done, m.capturedStart() - done);
        out += expandReplacement(m, options);
        done = m.capturedEnd();
        ++n;
    }
    out += QStringView(subject).mid(done);
    if (count)
        *count = n;
    return out;
}

QString qualifiedNameOf(xmlNodePtr n)
{
    if (n->ns && n->ns->prefix)
        return toQ(n->ns->prefix) + QLatin1Char(':') + toQ(n->name);
    return toQ(n->name);
}

namespace {

bool isText(const xmlNode* n)
{
    return (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) && !isFormatting(n);
}

} // namespace

QString PathMaker::segmentOf(xmlNodePtr n)
{
    xmlNodePtr parent = n->parent;
    if (parent && m_counted.insert(parent).second) {
        std::unordered_map<QString, int> names;
        int texts = 0, comments = 0;
        for (xmlNodePtr c = visible(parent->children, true); c; c = visible(c->next, true)) {
            if (c->type == XML_ELEMENT_NODE)
                m_segments[c] = QStringLiteral("%1[%2]").arg(qualifiedNameOf(c)).arg(++names[qualifiedNameOf(c)]);
            else if (isText(c))
                m_segments[c] = QStringLiteral("text()[%1]").arg(++texts);
            else if (c->type == XML_COMMENT_NODE)
                m_segments[c] = QStringLiteral("comment()[%1]").arg(++comments);
        }
    }
    const auto it = m_segments.find(n);
    return it != m_segments.end() ? it->second : qualifiedNameOf(n);
}

QString PathMaker::pathOf(xmlNodePtr n)
{
    if (!n || n->type == XML_DOCUMENT_NODE)
        return QString();
    if (n->type == XML_ATTRIBUTE_NODE)
        return pathOf(n->parent) + QStringLiteral("/@") + qualifiedNameOf(n);
    const auto it = m_paths.find(n);
    if (it != m_paths.end())
        return it->second;
    // the document element needs no position: there is one
    const bool top = !n->parent || n->parent->type == XML_DOCUMENT_NODE;
    QString path = top && n->type == XML_ELEMENT_NODE ? QLatin1Char('/') + qualifiedNameOf(n)
                                                      : pathOf(n->parent) + QLatin1Char('/') + segmentOf(n);
    if (n->type == XML_ELEMENT_NODE)
        m_paths.emplace(n, path);
    return path;
}

} // namespace detail

QString findPlaceName(FindPlace place)
{
    switch (place) {
    case FindElementNames: return QStringLiteral("element name");
    case FindAttributeNames: return QStringLiteral("attribute name");
    case FindAttributeValues: return QStringLiteral("attribute value");
    case FindText: return QStringLiteral("text");
    case FindComments: return QStringLiteral("comment");
    }
    return QString();
}

FindProblem checkFindOptions(const FindOptions& options) { return detail::compilePattern(options).problem; }

FindResult findAll(const DOMDocumentPtr& doc, const FindOptions& options)
{
    FindResult result;
    const detail::Pattern pattern = detail::compilePattern(options);
    result.problem = pattern.problem;
    if (pattern.empty || result.problem.isError() || !doc)
        return result;
    auto core = detail::DocCore::shared(doc->asNode());
    detail::SubjectWalk walk(*core, options);
    result.problem = walk.run([&](const detail::Subject& s) {
        auto it = pattern.re.globalMatch(s.text);
        QString path;
        while (it.hasNext()) {
            const QRegularExpressionMatch m = it.next();
            if (m.capturedLength() == 0)
                continue;
            FindMatch match;
            match.node = detail::subjectHandle(*core, s);
            match.place = s.place;
            if (s.node->type == XML_ATTRIBUTE_NODE)
                match.attributeName = detail::qualifiedNameOf(s.node);
            else if (s.node->type == XML_NAMESPACE_DECL)
                match.attributeName = detail::declarationName(reinterpret_cast<xmlNsPtr>(s.node));
            match.offset = m.capturedStart();
            match.length = m.capturedLength();
            match.subject = s.text;
            if (path.isNull())
                path = walk.pathOf(s);
            match.path = path;
            result.matches.push_back(std::move(match));
        }
    });
    if (result.problem.isError())
        result.matches.clear();
    return result;
}

QString replaceInText(const QString& subject, const FindOptions& options, int* count)
{
    return detail::replaceWith(detail::compilePattern(options), subject, options, count);
}

} // namespace treelark
