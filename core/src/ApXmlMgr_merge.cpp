// Folding a second tree into the open one: attributes of paired nodes are copied over,
// paired children merge recursively, and children without a counterpart move across.
#include "treelark/ApXmlMgr.h"
#include "treelark/Busy.h"
#include "treelark/dCollection.h"

#include <QHash>

#include <functional>
#include <optional>
#include <vector>

namespace treelark {

namespace {

const QString kTagName = QStringLiteral("TagName");

// How each step of a merge runs. UpdateNodes lets the first error through to its caller;
// UpdateAllNodes drops the failing step and carries on with the next one.
// Between two steps the window is kept painted, and a merge the user stopped goes no
// further (its caller takes back what it did).
void stopPoint()
{
    busyTick();
    throwIfStopped();
}

struct PassErrors {
    template <class Step> void operator()(Step&& step) const
    {
        stopPoint();
        step();
    }
};
struct SkipErrors {
    template <class Step> void operator()(Step&& step) const
    {
        stopPoint();
        try {
            step();
        } catch (const DOMException& e) {
            if (e.code() == DOMError::Cancelled)
                throw;
        }
    }
};

// The children as they are before any of them moves. Appending a source child to the
// target takes it out of the source's live child list, so a walk over that list would
// step past the child after each one appended; a copy taken first reaches every child.
std::vector<DOMNode> childrenOf(const DOMNode& node)
{
    std::vector<DOMNode> kids;
    for (DOMNode c = node.firstChild(); !c.isNull(); c = c.nextSibling())
        kids.push_back(c);
    return kids;
}

std::vector<QString> namesOf(const std::vector<DOMNode>& nodes)
{
    std::vector<QString> names;
    names.reserve(nodes.size());
    for (const DOMNode& n : nodes)
        names.push_back(n.nodeName());
    return names;
}

// What GetAttributeValue gives for the key, without the exception it costs for nodes that
// have no attributes: text and comment children are frequent and read as "".
QString keyOf(const DOMNode& node, const QString& keyName) { return node.getAttribute(keyName); }

std::vector<QString> keysOf(const std::vector<DOMNode>& nodes, const QString& keyName)
{
    std::vector<QString> keys;
    keys.reserve(nodes.size());
    for (const DOMNode& n : nodes)
        keys.push_back(keyOf(n, keyName));
    return keys;
}

// Names collected as keys of a collection, which refuses a key it already holds in any
// letter case: one refusal settles it.
bool namesRepeat(const std::vector<QString>& names)
{
    dCollection seen;
    for (const QString& name : names)
        if (!seen.Add(QVariant(name), name))
            return true;
    return false;
}

// Attributes of the source onto the target: values of attributes the target has are
// replaced in place, the others are added after the target's own.
template <class Run>
void copyAttributes(DOMNode target, const DOMNode& source, const Run& run)
{
    DOMNamedNodeMap targetAttrs = target.attributes();
    DOMNamedNodeMap sourceAttrs = source.attributes();
    qint64 nT = 0;
    qint64 nS = 0;
    run([&] { nT = targetAttrs.length(); });
    run([&] { nS = sourceAttrs.length(); });
    // Only the attributes the target had at the start are searched; those added below
    // come from source attributes, whose names differ from one another.
    std::vector<DOMNode> own;
    own.reserve(size_t(nT));
    for (qint64 j = 0; j < nT; ++j)
        own.push_back(targetAttrs.item(j));
    for (qint64 i = 0; i < nS; ++i) {
        run([&] {
            const DOMNode attr = sourceAttrs.item(i);
            const QString name = attr.nodeName();
            const QString text = attr.text();
            for (DOMNode& t : own) {
                if (t.nodeName() == name) {
                    t.setText(text);
                    return;
                }
            }
            target.setAttribute(name, text);
        });
    }
}

// Finds, for a source child's key, the first target child with that key, exactly as a
// walk over the target's live child list would, but in O(1).
//
// Why a map gives the same answer: during the merge of one level, the target's child list
// changes only by the children this level appends at its end. Recursion works below the
// paired child, and nodes only ever leave the source document, never the target one. Keys
// of target children do not change either: pairing copies the source's attributes onto a
// child whose key already equals the source's. So the live list is always "the children
// at the start, then those appended, in order", and the first child with a key is the
// first one indexed under it: index the children in order, keep the earliest entry for
// each key, and index each appended child as it goes in.
//
// When source and target share one document, appends are moves inside that document and
// could reshape the list behind the map's back; then the live list itself is walked.
class FirstChildByKey {
public:
    using KeyFn = std::function<QString(const DOMNode&)>;

    FirstChildByKey(DOMNode parent, KeyFn keyFn, bool walkLiveList)
        : m_parent(std::move(parent)), m_keyFn(std::move(keyFn)), m_walk(walkLiveList)
    {
    }

    void index(const std::vector<DOMNode>& kids, const std::vector<QString>& keys)
    {
        if (m_walk)
            return;
        m_first.reserve(qsizetype(kids.size()));
        for (size_t i = 0; i < kids.size(); ++i)
            appended(kids[i], keys[i]);
    }

    DOMNode find(const QString& key) const
    {
        if (!m_walk)
            return m_first.value(key);
        for (DOMNode t = m_parent.firstChild(); !t.isNull(); t = t.nextSibling())
            if (m_keyFn(t) == key)
                return t;
        return DOMNode();
    }

    void appended(const DOMNode& child, const QString& key)
    {
        if (m_walk)
            return;
        if (auto it = m_first.find(key); it == m_first.end())
            m_first.insert(key, child);
    }

private:
    DOMNode m_parent;
    KeyFn m_keyFn;
    bool m_walk;
    QHash<QString, DOMNode> m_first;
};

bool sameDocument(const DOMNode& a, const DOMNode& b)
{
    const DOMDocumentPtr da = a.ownerDocument();
    const DOMDocumentPtr db = b.ownerDocument();
    return da == db;
}

// Each source child merges into the first target child with an equal key (see
// FirstChildByKey) or, when there is none, is appended to the target, where later
// source children can pair with it.
template <class Run, class Recurse>
void pairChildren(DOMNode target, FirstChildByKey& targetIndex, const std::vector<DOMNode>& sourceKids,
                  const std::vector<QString>& sourceKeys, const Recurse& recurse, const Run& run)
{
    for (size_t i = 0; i < sourceKids.size(); ++i) {
        run([&] {
            if (const DOMNode t = targetIndex.find(sourceKeys[i]); !t.isNull()) {
                recurse(t, sourceKids[i]);
                return;
            }
            targetIndex.appended(target.appendChild(sourceKids[i]), sourceKeys[i]);
        });
    }
}

// Pairs the children of two nodes that both have some, by the key attribute.
template <class Run, class Recurse>
void pairByKey(const DOMNode& target, const std::vector<DOMNode>& targetKids, const DOMNode& source,
               const std::vector<DOMNode>& sourceKids, const QString& keyName, const Recurse& recurse,
               const Run& run)
{
    FirstChildByKey index(target, [&keyName](const DOMNode& n) { return keyOf(n, keyName); },
                          sameDocument(target, source));
    index.index(targetKids, keysOf(targetKids, keyName));
    pairChildren(target, index, sourceKids, keysOf(sourceKids, keyName), recurse, run);
}

} // namespace

void ApXmlMgr::UpdateNodes(const DOMNode& TargetNode, const DOMNode& SourceNode, QString KeyName)
{
    const PassErrors run;
    if (TargetNode.isNull())
        return;
    // The source's attributes are read unchecked: a source without any (a text node
    // paired with an element) is an error for the caller.
    if (!TargetNode.attributes().isNull())
        copyAttributes(TargetNode, SourceNode, run);

    if (!SourceNode.hasChildNodes())
        return;
    const std::vector<DOMNode> sourceKids = childrenOf(SourceNode);
    DOMNode target = TargetNode;
    if (!target.hasChildNodes()) {
        for (const DOMNode& s : sourceKids)
            target.appendChild(s);
        return;
    }
    pairByKey(
        target, childrenOf(target), SourceNode, sourceKids, KeyName,
        [&](const DOMNode& t, const DOMNode& s) { UpdateNodes(t, s, KeyName); }, run);
}

void ApXmlMgr::Merge(DOMDocumentPtr oXmlDocIn, DOMDocumentPtr oExistingDom, const QString& KeyName)
{
    const DOMDocumentPtr existing = required(target(oExistingDom));
    const DOMNode targetRoot = existing->documentElement();
    UpdateNodes(targetRoot, required(oXmlDocIn)->documentElement(), KeyName);
}

void ApXmlMgr::UpdateAllNodes(const DOMNode& TargetNode, const DOMNode& SourceNode, QString KeyName)
try {
    const SkipErrors run;
    if (TargetNode.isNull())
        return;
    DOMNode target = TargetNode;
    run([&] {
        if (!target.attributes().isNull() && !SourceNode.attributes().isNull())
            copyAttributes(target, SourceNode, run);
    });

    // A test that fails (no source at all) skips both of its branches.
    std::optional<bool> sourceHasChildren;
    run([&] { sourceHasChildren = SourceNode.hasChildNodes(); });
    if (!sourceHasChildren)
        return;

    if (!*sourceHasChildren) {
        run([&] {
            if (target.nodeType() == NODE_TEXT && SourceNode.nodeType() == NODE_TEXT)
                target.setText(SourceNode.text());
        });
        return;
    }

    std::vector<DOMNode> sourceKids;
    std::vector<QString> sourceNames;
    run([&] {
        sourceKids = childrenOf(SourceNode);
        sourceNames = namesOf(sourceKids);
    });
    bool sourceDup = false;
    run([&] { sourceDup = namesRepeat(sourceNames); });

    if (!target.hasChildNodes()) {
        // A comment is left alone; a text node or other leaf refuses each child, and
        // each refusal is skipped.
        if (target.nodeType() != NODE_COMMENT)
            for (const DOMNode& s : sourceKids)
                run([&] { target.appendChild(s); });
        return;
    }

    std::vector<DOMNode> targetKids;
    std::vector<QString> targetNames;
    run([&] {
        targetKids = childrenOf(target);
        targetNames = namesOf(targetKids);
    });
    bool targetDup = false;
    run([&] { targetDup = namesRepeat(targetNames); });

    if (!sourceDup && !targetDup) {
        // Names are unique on both sides. Below here pairing is by "TagName", whatever
        // key this level was given.
        FirstChildByKey index(target, [](const DOMNode& n) { return n.nodeName(); },
                              sameDocument(target, SourceNode));
        index.index(targetKids, targetNames);
        pairChildren(
            target, index, sourceKids, sourceNames,
            [&](const DOMNode& t, const DOMNode& s) { UpdateAllNodes(t, s, kTagName); }, run);
    } else {
        pairByKey(
            target, targetKids, SourceNode, sourceKids, KeyName,
            [&](const DOMNode& t, const DOMNode& s) { UpdateAllNodes(t, s, KeyName); }, run);
    }
} catch (const DOMException& e) {
    // Only running out of memory gets here; the steps themselves already skip failures.
    m_lastError = e.description();
}

bool ApXmlMgr::HasDuplicateNodeNames(const DOMNode& pNode) const
{
    try {
        return namesRepeat(namesOf(childrenOf(pNode)));
    } catch (const DOMException&) {
        return false;
    }
}

void ApXmlMgr::MergeAll(DOMDocumentPtr SourceDOM, DOMDocumentPtr TargetDOM, const QString& KeyName)
{
    m_lastError.clear();
    try {
        const DOMDocumentPtr targetDoc = target(TargetDOM);
        if (!targetDoc || !SourceDOM) {
            m_lastError = QStringLiteral("There is no document to merge.");
            return;
        }
        UpdateAllNodes(targetDoc->documentElement(), SourceDOM->documentElement(), KeyName);
    } catch (const DOMException& e) {
        // Never raises: whatever merged before a failure stays merged.
        m_lastError = e.description();
    }
}

} // namespace treelark
