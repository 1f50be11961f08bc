// The walk over the names and values a search looks in, in document order, with each
// one's path kept as the walk goes: a search over a whole large document turns into text
// (and matches) only what its quick byte test lets through, and builds a path only for
// what matched.
#include "find_internal.h"

#include <cstring>

namespace treelark::detail {

namespace {

bool isText(const xmlNode* n)
{
    return (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) && !isFormatting(n);
}

bool sameName(const xmlNode* a, const xmlNode* b)
{
    if (a->name != b->name && !xmlStrEqual(a->name, b->name))
        return false;
    const xmlChar* pa = a->ns ? a->ns->prefix : nullptr;
    const xmlChar* pb = b->ns ? b->ns->prefix : nullptr;
    return pa == pb || xmlStrEqual(pa, pb);
}

unsigned char lowerAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

} // namespace

Prefilter::Prefilter(const FindOptions& options)
{
    if (options.regularExpression || options.findText.isEmpty())
        return;
    needle = options.findText.toUtf8();
    if (options.matchCase) {
        active = true;
        return;
    }
    for (char c : needle)
        if (static_cast<unsigned char>(c) >= 0x80)
            return; // a letter outside ASCII folds in ways bytes cannot follow: no quick test
    needle = needle.toLower();
    foldCase = true;
    // KELVIN SIGN and LONG S fold to k and s: with those letters, a subject holding
    // anything outside ASCII goes to the pattern
    nonAsciiFolds = needle.contains('k') || needle.contains('s');
    active = true;
}

bool Prefilter::mayMatch(const xmlChar* text, size_t length) const
{
    if (!active)
        return true;
    const auto n = size_t(needle.size());
    if (length < n)
        return false;
    if (!foldCase)
        return memmem(text, length, needle.constData(), n) != nullptr;
    const auto first = static_cast<unsigned char>(needle[0]);
    const unsigned char other = first >= 'a' && first <= 'z' ? first - 32 : first;
    bool nonAscii = false;
    for (size_t i = 0; i + n <= length; ++i) {
        const unsigned char c = text[i];
        nonAscii = nonAscii || c >= 0x80;
        if (c != first && c != other)
            continue;
        size_t k = 1;
        while (k < n && lowerAscii(text[i + k]) == static_cast<unsigned char>(needle[qsizetype(k)]))
            ++k;
        if (k == n)
            return true;
    }
    if (!nonAsciiFolds)
        return false;
    for (size_t i = 0; i < length && !nonAscii; ++i)
        nonAscii = text[i] >= 0x80;
    return nonAscii;
}

SubjectWalk::SubjectWalk(DocCore& core, const FindOptions& options) : m_core(core), m_options(options), m_quick(options) {}

QString SubjectWalk::frameSegment(const Frame& f) const
{
    if (f.node->type == XML_DOCUMENT_NODE)
        return QString();
    if (f.index == 0)
        return QLatin1Char('/') + qualifiedNameOf(f.node);
    return QStringLiteral("/%1[%2]").arg(qualifiedNameOf(f.node)).arg(f.index);
}

void SubjectWalk::push(xmlNodePtr node, int index, const QString* path)
{
    if (m_depth == m_frames.size())
        m_frames.emplace_back();
    Frame& f = m_frames[m_depth++];
    f.node = node;
    f.index = index;
    f.pathKnown = path != nullptr;
    f.path = path ? *path : QString();
    f.names.clear(); // keeps its room: a walk allocates per depth, not per element
    f.texts = f.comments = 0;
}

QString SubjectWalk::elementPath(size_t depth)
{
    Frame& f = m_frames[depth];
    if (!f.pathKnown) {
        f.path = depth == 0 ? m_rootPath : elementPath(depth - 1) + frameSegment(f);
        f.pathKnown = true;
    }
    return f.path;
}

QString SubjectWalk::pathOf(const Subject& s)
{
    // the top frame is the element itself for its name and attributes, the parent for a leaf
    const QString top = elementPath(m_depth - 1);
    if (s.node->type == XML_ATTRIBUTE_NODE)
        return top + QStringLiteral("/@") + qualifiedNameOf(s.node);
    if (s.node->type == XML_NAMESPACE_DECL)
        return top + QStringLiteral("/@") + declarationName(reinterpret_cast<xmlNsPtr>(s.node));
    if (s.node->type == XML_ELEMENT_NODE)
        return top;
    const QString leaf = s.node->type == XML_COMMENT_NODE ? QStringLiteral("/comment()[%1]") : QStringLiteral("/text()[%1]");
    return top + leaf.arg(m_leafIndex);
}

int SubjectWalk::countChild(xmlNodePtr n)
{
    if (m_depth == 0)
        return 0;
    Frame& parent = m_frames[m_depth - 1];
    if (n->type == XML_ELEMENT_NODE) {
        if (parent.node->type == XML_DOCUMENT_NODE)
            return 0; // the document element needs no position: there is one
        for (auto& [sample, count] : parent.names)
            if (sameName(sample, n))
                return ++count;
        parent.names.push_back({n, 1});
        return 1;
    }
    if (isText(n))
        return ++parent.texts;
    if (n->type == XML_COMMENT_NODE)
        return ++parent.comments;
    return 0;
}

void SubjectWalk::offer(xmlNodePtr node, FindPlace place, const xmlChar* raw, size_t length, bool inScope,
                        const Visit& visit)
{
    if (!inScope || !m_quick.mayMatch(raw, length))
        return;
    visit({node, place, toQ(raw, qsizetype(length)), m_frames[m_depth - 1].node});
}

void SubjectWalk::offerElement(xmlNodePtr n, bool inScope, const std::unordered_set<xmlNodePtr>& scope, const Visit& visit)
{
    const unsigned places = m_options.places;
    if (places & FindElementNames) {
        const QByteArray name = qualifiedNameOf(n).toUtf8();
        offer(n, FindElementNames, reinterpret_cast<const xmlChar*>(name.constData()), size_t(name.size()), inScope, visit);
    }
    if (!(places & (FindAttributeNames | FindAttributeValues)))
        return;
    // namespace declarations first, as the element's attribute list has them
    for (xmlNsPtr ns = inScope ? n->nsDef : nullptr; ns; ns = ns->next) {
        auto dn = reinterpret_cast<xmlNodePtr>(ns);
        if (places & FindAttributeNames) {
            const QByteArray name = declarationName(ns).toUtf8();
            offer(dn, FindAttributeNames, reinterpret_cast<const xmlChar*>(name.constData()), size_t(name.size()), true, visit);
        }
        if ((places & FindAttributeValues) && ns->href)
            offer(dn, FindAttributeValues, ns->href, std::strlen(reinterpret_cast<const char*>(ns->href)), true, visit);
    }
    for (xmlAttrPtr a = n->properties; a; a = a->next) {
        auto an = reinterpret_cast<xmlNodePtr>(a);
        const bool attrInScope = inScope || scope.count(an);
        if (!attrInScope)
            continue;
        if (places & FindAttributeNames) {
            const QByteArray name = qualifiedNameOf(an).toUtf8();
            offer(an, FindAttributeNames, reinterpret_cast<const xmlChar*>(name.constData()), size_t(name.size()), true, visit);
        }
        if (!(places & FindAttributeValues))
            continue;
        // one text child (the usual case) is read in place; entity references need the join
        if (a->children && !a->children->next && a->children->type == XML_TEXT_NODE) {
            const xmlChar* v = a->children->content;
            offer(an, FindAttributeValues, v, v ? std::strlen(reinterpret_cast<const char*>(v)) : 0, true, visit);
        } else {
            xmlChar* v = xmlNodeGetContent(an);
            offer(an, FindAttributeValues, v, v ? std::strlen(reinterpret_cast<const char*>(v)) : 0, true, visit);
            xmlFree(v);
        }
    }
}

FindProblem SubjectWalk::run(const Visit& visit)
{
    FindProblem problem;
    std::unordered_set<xmlNodePtr> scope;
    const bool scoped = !m_options.xpath.trimmed().isEmpty();
    if (scoped) {
        try {
            const DOMNodeList hits = m_core.handle(reinterpret_cast<xmlNodePtr>(m_core.doc)).selectNodes(m_options.xpath);
            for (qint64 i = 0, n = hits.length(); i < n; ++i)
                scope.insert(DocCore::raw(hits.item(i)));
        } catch (const DOMException& e) {
            problem.message = e.description();
            return problem;
        }
    }
    xmlNodePtr root = m_options.branch ? DocCore::raw(m_options.branch) : reinterpret_cast<xmlNodePtr>(m_core.doc);
    m_depth = 0;
    if (root->type == XML_ATTRIBUTE_NODE) {
        // a branch that is one attribute: its name and value alone
        PathMaker paths;
        m_rootPath = paths.pathOf(root->parent);
        push(root->parent, 0, &m_rootPath);
        FindOptions alone = m_options;
        alone.places &= FindAttributeNames | FindAttributeValues;
        const FindOptions saved = std::exchange(m_options, alone);
        offerElement(root->parent, false, {root}, visit);
        m_options = saved;
        return problem;
    }
    if (root->type != XML_DOCUMENT_NODE && root->type != XML_ELEMENT_NODE) {
        // a text or comment branch: the node alone
        PathMaker paths;
        m_rootPath = paths.pathOf(root->parent);
        push(root->parent, 0, &m_rootPath);
        const QString path = paths.pathOf(root);
        const qsizetype open = path.lastIndexOf(QLatin1Char('['));
        m_leafIndex = open < 0 ? 0 : path.mid(open + 1).chopped(1).toInt();
    } else if (root->type == XML_ELEMENT_NODE) {
        PathMaker paths;
        m_rootPath = paths.pathOf(root);
    } else {
        m_rootPath.clear();
    }
    // the node whose subtree is in scope, while the walk is inside it
    xmlNodePtr scopeTop = scoped ? nullptr : root;
    quint64 seen = 0;
    const unsigned places = m_options.places;
    for (xmlNodePtr n = root; n;) {
        if ((++seen & 0x3FFF) == 0) {
            busyTick();
            if (cancelRequested()) {
                problem.message = QStringLiteral("The search was stopped.");
                problem.cancelled = true;
                return problem;
            }
        }
        if (!scopeTop && scope.count(n))
            scopeTop = n;
        const bool inScope = scopeTop != nullptr;
        const int index = n == root ? 0 : countChild(n);
        if (n->type == XML_ELEMENT_NODE) {
            // the element's own frame, for its path and its children's counts
            push(n, index, n == root ? &m_rootPath : nullptr);
            if (inScope || !scope.empty())
                offerElement(n, inScope, scope, visit);
        } else if (n->type == XML_DOCUMENT_NODE) {
            push(n, 0, &m_rootPath);
        } else if (inScope) {
            if (n != root)
                m_leafIndex = index;
            const size_t len = n->content ? std::strlen(reinterpret_cast<const char*>(n->content)) : 0;
            if (isText(n) && (places & FindText))
                offer(n, FindText, n->content, len, true, visit);
            else if (n->type == XML_COMMENT_NODE && (places & FindComments))
                offer(n, FindComments, n->content, len, true, visit);
        }
        const bool container = n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE;
        if (xmlNodePtr child = container && n->children ? visible(n->children, true) : nullptr) {
            n = child;
            continue;
        }
        for (;;) {
            if (n->type == XML_ELEMENT_NODE || n->type == XML_DOCUMENT_NODE)
                --m_depth;
            if (n == scopeTop)
                scopeTop = nullptr;
            if (n == root) {
                n = nullptr;
                break;
            }
            if (xmlNodePtr next = visible(n->next, true)) {
                n = next;
                break;
            }
            n = n->parent;
        }
    }
    return problem;
}

DOMNode subjectHandle(DocCore& core, const Subject& s)
{
    if (s.node->type == XML_NAMESPACE_DECL)
        return declarationHandle(core.shared_from_this(), s.element, reinterpret_cast<xmlNsPtr>(s.node));
    return core.handle(s.node);
}

} // namespace treelark::detail
