// Replacing: every change planned before any is made, so that a change the document
// cannot take is left out whole (with its reason) instead of refused half-way.
#include "find_internal.h"

#include <map>

namespace treelark {

namespace detail {

namespace {

// Why a value cannot go into this kind of node, or "" when it can.
QString valueRefusal(xmlNodePtr n, const QString& v)
{
    for (qsizetype i = 0; i < v.size(); ++i) {
        const char16_t c = v.at(i).unicode();
        bool ok = c >= 0x20 ? c < 0xFFFE : (c == 0x9 || c == 0xA || c == 0xD);
        if (QChar::isLowSurrogate(c))
            ok = false;
        else if (QChar::isHighSurrogate(c))
            ok = i + 1 < v.size() && QChar::isLowSurrogate(v.at(++i).unicode());
        if (!ok)
            return QStringLiteral("the result would hold U+%1, which XML cannot hold")
                .arg(QString::number(uint(c), 16).toUpper().rightJustified(4, QLatin1Char('0')));
    }
    if (n->type == XML_COMMENT_NODE && (v.contains(QLatin1String("--")) || v.endsWith(QLatin1Char('-'))))
        return QStringLiteral("a comment cannot hold \"--\" or end in \"-\"");
    if (n->type == XML_CDATA_SECTION_NODE && v.contains(QLatin1String("]]>")))
        return QStringLiteral("a CDATA section cannot hold \"]]>\"");
    return QString();
}

// An attribute's expanded name: its namespace and local part.
QString expandedKey(xmlNsPtr ns, const QByteArray& local)
{
    const QString uri = ns && ns->href ? toQ(ns->href) : QString();
    return uri + QLatin1Char('|') + QString::fromUtf8(local);
}

QString currentKey(xmlNodePtr attr) { return expandedKey(attr->ns, QByteArray(reinterpret_cast<const char*>(attr->name))); }

// Plans the renames of one element's attributes so that no two ever share a name, not even
// between two of the renames: each is placed once the name it takes is free.
void planAttributeRenames(std::vector<PlannedChange>& pending, ReplacePlan& plan)
{
    if (pending.empty())
        return;
    xmlNodePtr el = DocCore::raw(pending.front().node)->parent;
    std::map<xmlNodePtr, QString> keys;
    for (xmlAttrPtr a = el->properties; a; a = a->next)
        keys[reinterpret_cast<xmlNodePtr>(a)] = currentKey(reinterpret_cast<xmlNodePtr>(a));
    std::vector<QString> wanted;
    for (PlannedChange& c : pending) {
        xmlNsPtr ns = nullptr;
        QByteArray local;
        c.reason = renameRefusal(DocCore::raw(c.node), c.after.toUtf8(), &ns, &local, false);
        wanted.push_back(c.reason.isEmpty() ? expandedKey(ns, local) : QString());
    }
    for (bool progress = true; progress;) {
        progress = false;
        for (size_t i = 0; i < pending.size(); ++i) {
            PlannedChange& c = pending[i];
            if (!c.reason.isEmpty() || wanted[i].isEmpty())
                continue;
            xmlNodePtr self = DocCore::raw(c.node);
            bool taken = false;
            for (const auto& [attr, key] : keys)
                taken = taken || (attr != self && key == wanted[i]);
            if (taken)
                continue;
            keys[self] = wanted[i];
            plan.changes.push_back(c);
            wanted[i].clear();
            progress = true;
        }
    }
    for (size_t i = 0; i < pending.size(); ++i) {
        if (!pending[i].reason.isEmpty()) {
            plan.skipped.push_back(pending[i]);
        } else if (!wanted[i].isEmpty()) {
            pending[i].reason = QStringLiteral("the element would have the attribute '%1' twice").arg(pending[i].after);
            plan.skipped.push_back(pending[i]);
        }
    }
    pending.clear();
}

// Changing a declaration would move every name in its scope to another namespace.
QString declarationRefusal() { return QStringLiteral("a namespace declaration is not replaced: every name that uses it would change"); }

QString currentSubject(xmlNodePtr n, FindPlace place)
{
    if (place == FindElementNames || place == FindAttributeNames)
        return qualifiedNameOf(n);
    if (place == FindAttributeValues) {
        xmlChar* v = xmlNodeGetContent(n);
        QString out = v ? toQ(v) : QString(QLatin1String(""));
        xmlFree(v);
        return out;
    }
    return toQ(n->content);
}

// Checks one change and files it as planned or left out (attribute renames wait for
// their element's others, see planAttributeRenames).
void file(PlannedChange&& c, xmlNodePtr n, std::vector<PlannedChange>& renames, ReplacePlan& plan)
{
    if (c.place == FindAttributeNames) {
        renames.push_back(std::move(c));
        return;
    }
    c.reason = c.place == FindElementNames ? renameRefusal(n, c.after.toUtf8(), nullptr, nullptr, false)
                                           : valueRefusal(n, c.after);
    (c.reason.isEmpty() ? plan.changes : plan.skipped).push_back(std::move(c));
}

} // namespace

} // namespace detail

int ReplacePlan::matchCount() const
{
    int n = 0;
    for (const PlannedChange& c : changes)
        n += c.matches;
    return n;
}

int ReplacePlan::nodeCount() const
{
    // Changes are planned in document order, an element's name before its attributes, so
    // the changes to one node stand together: counting where the node changes is enough
    // (and a hundred thousand of them are counted without a set).
    int count = 0;
    xmlNodePtr last = nullptr;
    for (const PlannedChange& c : changes) {
        xmlNodePtr n = detail::DocCore::raw(c.node);
        xmlNodePtr owner = n->type == XML_ATTRIBUTE_NODE ? n->parent : n;
        count += owner != last;
        last = owner;
    }
    return count;
}

ReplacePlan planReplaceAll(const DOMDocumentPtr& doc, const FindOptions& options)
{
    ReplacePlan plan;
    const detail::Pattern pattern = detail::compilePattern(options);
    plan.problem = pattern.problem;
    if (pattern.empty || plan.problem.isError() || !doc)
        return plan;
    auto core = detail::DocCore::shared(doc->asNode());
    detail::SubjectWalk walk(*core, options);
    std::vector<PlannedChange> renames; // of the element whose attributes are being walked
    plan.problem = walk.run([&](const detail::Subject& s) {
        if (!renames.empty() && (s.node->type != XML_ATTRIBUTE_NODE || s.node->parent != detail::DocCore::raw(renames.front().node)->parent))
            detail::planAttributeRenames(renames, plan);
        int count = 0;
        QString after = detail::replaceWith(pattern, s.text, options, &count);
        if (count == 0)
            return;
        PlannedChange c;
        c.node = detail::subjectHandle(*core, s);
        c.place = s.place;
        if (s.node->type == XML_ATTRIBUTE_NODE)
            c.attributeName = detail::qualifiedNameOf(s.node);
        c.before = s.text;
        c.after = std::move(after);
        c.matches = count;
        c.path = walk.pathOf(s);
        if (s.node->type == XML_NAMESPACE_DECL) {
            c.attributeName = detail::declarationName(reinterpret_cast<xmlNsPtr>(s.node));
            c.reason = detail::declarationRefusal();
            plan.skipped.push_back(std::move(c));
            return;
        }
        detail::file(std::move(c), s.node, renames, plan);
    });
    detail::planAttributeRenames(renames, plan);
    if (plan.problem.isError()) {
        plan.changes.clear();
        plan.skipped.clear();
    }
    return plan;
}

ReplacePlan planReplaceOne(const FindMatch& match, const FindOptions& options)
{
    ReplacePlan plan;
    const detail::Pattern pattern = detail::compilePattern(options);
    plan.problem = pattern.problem;
    if (pattern.empty || plan.problem.isError() || match.node.isNull())
        return plan;
    xmlNodePtr n = detail::DocCore::raw(match.node);
    if (n->type == XML_NAMESPACE_DECL) {
        PlannedChange c;
        c.node = match.node;
        c.place = match.place;
        c.attributeName = match.attributeName;
        c.path = match.path;
        c.reason = detail::declarationRefusal();
        plan.skipped.push_back(std::move(c));
        return plan;
    }
    const QString subject = detail::currentSubject(n, match.place);
    auto it = pattern.re.globalMatch(subject);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedStart() != match.offset || m.capturedLength() != match.length)
            continue;
        PlannedChange c;
        c.node = match.node;
        c.place = match.place;
        c.attributeName = match.attributeName;
        c.before = subject;
        c.after = subject.left(match.offset) + detail::expandReplacement(m, options) + subject.mid(m.capturedEnd());
        c.matches = 1;
        c.path = match.path;
        std::vector<PlannedChange> renames;
        detail::file(std::move(c), n, renames, plan);
        detail::planAttributeRenames(renames, plan);
        return plan;
    }
    plan.problem.message = QStringLiteral("The match is no longer there.");
    return plan;
}

void applyReplacePlan(const ReplacePlan& plan)
{
    qint64 done = 0;
    for (const PlannedChange& c : plan.changes) {
        if ((++done & 0x3FF) == 0) {
            busyTick();
            if (cancelRequested())
                detail::raise(DOMError::Cancelled, QStringLiteral("Replacing was stopped."));
        }
        DOMNode node = c.node;
        xmlNodePtr n = detail::DocCore::raw(node);
        if (detail::currentSubject(n, c.place) != c.before)
            detail::raise(DOMError::NotFound,
                          QStringLiteral("%1 no longer holds what was found there.").arg(c.path));
        switch (c.place) {
        case FindElementNames:
        case FindAttributeNames:
            node.setNodeName(c.after);
            break;
        case FindAttributeValues:
            node.setValue(c.after);
            break;
        case FindText:
        case FindComments:
            node.setNodeValue(c.after);
            break;
        }
    }
    if (cancelRequested())
        detail::raise(DOMError::Cancelled, QStringLiteral("Replacing was stopped."));
}

} // namespace treelark
