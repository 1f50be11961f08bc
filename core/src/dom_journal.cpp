// The change journal: see dom_internal.h. Each note keeps the one piece of state a step
// changed, as it was before the step; replaying a note swaps that piece with what the tree
// holds now, so the same note serves undo and redo as long as they alternate.
#include "dom_internal.h"
#include "treelark/Busy.h"

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <unordered_set>

namespace treelark {
namespace detail {

struct Note {
    enum Kind : quint8 { Link, Content, AttrValue, Name, Ns, NsDefs, Href, Marks };
    explicit Note(Kind k) : kind(k) {}
    Kind kind;
    bool linkedAfter = false;       // Link: whether the step linked (or unlinked) the node
    xmlNodePtr node = nullptr;      // every kind but Href
    xmlNodePtr parent = nullptr;    // Link: where the node stands while linked
    xmlNodePtr next = nullptr;
    xmlNsPtr ns = nullptr;          // Ns: the other pointer; Href: the declaration
    QByteArray text;                // Content, Name, Href: the other value
    bool hadText = false;
    intptr_t marks = 0;             // Marks: the other marks
    std::vector<xmlNsPtr> defs;     // NsDefs: the other list
    xmlNodePtr list = nullptr;      // AttrValue: the other children (text, entity references)
};

struct Journal {
    explicit Journal(std::shared_ptr<DocCore> c) : core(std::move(c)) { core->journals.push_back(this); }
    ~Journal() { core->journals.erase(std::find(core->journals.begin(), core->journals.end(), this)); }
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    std::shared_ptr<DocCore> core;
    std::deque<Note> notes; // never moved as it grows: a step can hold millions
    std::vector<DOMNode> held;                 // every node a note names stays alive
    PointerSet<xmlNode> heldSet;
    bool modifiedBefore = false, modifiedAfter = false;
    bool prologBefore = false, prologAfter = false;
    bool undone = false;

    void hold(xmlNodePtr n)
    {
        if (!n || !heldSet.insert(n))
            return;
        held.push_back(core->handle(n));
        // A node made during the changes and never placed goes when the set does.
        if (!n->parent && n->type != XML_DOCUMENT_NODE)
            core->parked.insert(n);
    }
    Note& add(Note::Kind kind, xmlNodePtr n)
    {
        hold(n);
        notes.emplace_back(kind);
        notes.back().node = n;
        return notes.back();
    }
};

namespace {

QByteArray contentOf(xmlNodePtr n, bool* has)
{
    *has = n->content != nullptr;
    return n->content ? QByteArray(reinterpret_cast<const char*>(n->content)) : QByteArray();
}

void setContentRaw(xmlNodePtr n, const QByteArray& v, bool has)
{
    xmlNodeSetContent(n, has ? reinterpret_cast<const xmlChar*>(v.constData()) : nullptr);
}

std::vector<xmlNsPtr> chainOf(xmlNodePtr el)
{
    std::vector<xmlNsPtr> out;
    for (xmlNsPtr ns = el->nsDef; ns; ns = ns->next)
        out.push_back(ns);
    return out;
}

void setChain(xmlNodePtr el, const std::vector<xmlNsPtr>& chain)
{
    el->nsDef = chain.empty() ? nullptr : chain.front();
    for (size_t i = 0; i < chain.size(); ++i) {
        chain[i]->next = i + 1 < chain.size() ? chain[i + 1] : nullptr;
        // a declaration handed out as an attribute finds its element again
        if (chain[i]->_private == kRetiredDeclaration)
            chain[i]->_private = el;
    }
}

void linkRaw(DocCore& core, Note& note)
{
    xmlNodePtr n = note.node;
    if (n->type == XML_ATTRIBUTE_NODE) {
        auto a = reinterpret_cast<xmlAttrPtr>(n);
        auto next = reinterpret_cast<xmlAttrPtr>(note.next);
        a->parent = note.parent;
        a->next = next;
        a->prev = next ? next->prev : nullptr;
        if (!next) {
            xmlAttrPtr last = note.parent->properties;
            while (last && last->next)
                last = last->next;
            a->prev = last;
        }
        if (a->prev)
            a->prev->next = a;
        else
            note.parent->properties = a;
        if (next)
            next->prev = a;
    } else {
        xmlNodePtr before = note.next;
        n->parent = note.parent;
        n->next = before;
        n->prev = before ? before->prev : note.parent->last;
        if (n->prev)
            n->prev->next = n;
        else
            note.parent->children = n;
        if (before)
            before->prev = n;
        else
            note.parent->last = n;
    }
    core.parked.erase(n);
}

void replay(Journal& j, Note& note, bool forward)
{
    xmlNodePtr n = note.node;
    switch (note.kind) {
    case Note::Link: {
        const bool wantLinked = forward ? note.linkedAfter : !note.linkedAfter;
        if (wantLinked) {
            linkRaw(*j.core, note);
        } else {
            xmlUnlinkNode(n);
            j.core->parked.insert(n);
        }
        break;
    }
    case Note::Content: {
        bool has = false;
        QByteArray now = contentOf(n, &has);
        setContentRaw(n, note.text, note.hadText);
        note.text = std::move(now);
        note.hadText = has;
        break;
    }
    case Note::AttrValue: {
        std::swap(n->children, note.list);
        n->last = n->children;
        while (n->last && n->last->next)
            n->last = n->last->next;
        break;
    }
    case Note::Name: {
        QByteArray now(reinterpret_cast<const char*>(n->name));
        xmlNodeSetName(n, reinterpret_cast<const xmlChar*>(note.text.constData()));
        note.text = std::move(now);
        break;
    }
    case Note::Ns:
        std::swap(n->ns, note.ns);
        break;
    case Note::NsDefs: {
        std::vector<xmlNsPtr> now = chainOf(n);
        for (xmlNsPtr ns : now)
            if (ns->_private && std::find(note.defs.begin(), note.defs.end(), ns) == note.defs.end())
                ns->_private = kRetiredDeclaration;
        setChain(n, note.defs);
        note.defs = std::move(now);
        break;
    }
    case Note::Href: {
        QByteArray now(reinterpret_cast<const char*>(note.ns->href));
        xmlFree(const_cast<xmlChar*>(note.ns->href));
        note.ns->href = xmlStrdup(reinterpret_cast<const xmlChar*>(note.text.constData()));
        note.text = std::move(now);
        break;
    }
    case Note::Marks: {
        const intptr_t count = privateWord(n) & ~kMarkBits;
        const intptr_t now = privateWord(n) & kMarkBits;
        setPrivateWord(n, count | note.marks);
        note.marks = now;
        break;
    }
    }
}

bool shown(xmlNodePtr n)
{
    return n && n->type != XML_ATTRIBUTE_NODE && n->type != XML_NAMESPACE_DECL && n->type != XML_DTD_NODE
        && !isFormatting(n);
}

} // namespace

namespace {

// Where n stands now (its parent and what follows it), kept for putting it back there.
void noteLink(xmlNodePtr n, bool linkedAfter)
{
    Note& note = tJournal->add(Note::Link, n);
    note.linkedAfter = linkedAfter;
    note.parent = n->parent;
    note.next = n->type == XML_ATTRIBUTE_NODE ? reinterpret_cast<xmlNodePtr>(reinterpret_cast<xmlAttrPtr>(n)->next)
                                              : n->next;
}

} // namespace

void recordLinked(xmlNodePtr n) { noteLink(n, true); }

void recordUnlinking(xmlNodePtr n) { noteLink(n, false); }

void keepUnlinked(xmlNodePtr n) { tJournal->core->parked.insert(n); }

bool keepAttributeValue(xmlNodePtr attr)
{
    if (!recording(attr->doc))
        return false;
    tJournal->add(Note::AttrValue, attr).list = attr->children;
    attr->children = attr->last = nullptr;
    return true;
}

void recordContent(xmlNodePtr n)
{
    if (!recording(n->doc))
        return;
    Note& note = tJournal->add(Note::Content, n);
    note.text = contentOf(n, &note.hadText);
}

void recordName(xmlNodePtr n)
{
    if (!recording(n->doc))
        return;
    tJournal->add(Note::Name, n).text = QByteArray(reinterpret_cast<const char*>(n->name));
}

void recordNs(xmlNodePtr n) { tJournal->add(Note::Ns, n).ns = n->ns; }

void recordNsDefs(xmlNodePtr el)
{
    if (!recording(el->doc))
        return;
    tJournal->add(Note::NsDefs, el).defs = chainOf(el);
}

void recordHref(xmlNsPtr ns)
{
    if (!tJournal)
        return;
    tJournal->notes.emplace_back(Note::Href);
    tJournal->notes.back().ns = ns;
    tJournal->notes.back().text = QByteArray(ns->href ? reinterpret_cast<const char*>(ns->href) : "");
}

void recordMarks(xmlNodePtr n)
{
    tJournal->add(Note::Marks, n).marks = privateWord(n) & kMarkBits;
}

std::unique_ptr<NsSnapshot> snapshotNamespaces(xmlNodePtr subtree)
{
    if (!recording(subtree->doc))
        return nullptr;
    auto snap = std::make_unique<NsSnapshot>();
    bool any = false;
    for (xmlNodePtr n = subtree; n; n = nextInSubtree(n, subtree)) {
        if (n->type != XML_ELEMENT_NODE)
            continue;
        snap->elements.push_back(n);
        if (n->ns || n->nsDef)
            any = true;
        if (n->ns)
            snap->ns.emplace(n, n->ns);
        if (n->nsDef)
            snap->defs.emplace(n, chainOf(n));
        for (xmlAttrPtr a = n->properties; a; a = a->next)
            if (a->ns) {
                any = true;
                snap->ns.emplace(reinterpret_cast<xmlNodePtr>(a), a->ns);
            }
    }
    // Nothing named in a namespace: libxml2 has nothing to fix there.
    if (!any)
        return nullptr;
    return snap;
}

void recordNamespaceChanges(const NsSnapshot& before)
{
    if (!tJournal)
        return;
    auto noteNs = [&](xmlNodePtr n, xmlNsPtr now) {
        auto it = before.ns.find(n);
        xmlNsPtr was = it == before.ns.end() ? nullptr : it->second;
        if (was != now)
            tJournal->add(Note::Ns, n).ns = was;
    };
    for (xmlNodePtr el : before.elements) {
        noteNs(el, el->ns);
        for (xmlAttrPtr a = el->properties; a; a = a->next)
            noteNs(reinterpret_cast<xmlNodePtr>(a), a->ns);
        auto it = before.defs.find(el);
        std::vector<xmlNsPtr> was = it == before.defs.end() ? std::vector<xmlNsPtr>() : it->second;
        if (was != chainOf(el))
            tJournal->add(Note::NsDefs, el).defs = std::move(was);
    }
}

bool namedByChangeSet(xmlNodePtr n)
{
    const DocCore* core = DocCore::of(n->doc);
    if (core->journals.empty())
        return false;
    auto named = [core](xmlNodePtr m) {
        for (const Journal* j : core->journals)
            if (j->heldSet.contains(m))
                return true;
        return false;
    };
    // every node, the layout's blanks included (the journal may have linked those too)
    for (xmlNodePtr m = n; m;) {
        if (named(m))
            return true;
        if (m->type == XML_ELEMENT_NODE) {
            for (xmlAttrPtr a = m->properties; a; a = a->next)
                if (named(reinterpret_cast<xmlNodePtr>(a)))
                    return true;
            if (m->children) {
                m = m->children;
                continue;
            }
        }
        while (m != n && !m->next)
            m = m->parent;
        m = m == n ? nullptr : m->next;
    }
    return false;
}

} // namespace detail

// ---- the public face ----

struct DOMChangeSet::Impl {
    std::unique_ptr<detail::Journal> journal;
    std::vector<DOMNode> parents, nodes;
};

DOMChangeSet::DOMChangeSet() : d(std::make_unique<Impl>()) {}

DOMChangeSet::~DOMChangeSet()
{
    if (!d->journal)
        return;
    detail::Journal& j = *d->journal;
    // Declarations this set took off their elements (or that it made and then took back)
    // are its own; while off every element they go with the tree, never before.
    std::unordered_set<xmlNsPtr> onChains, mentioned;
    std::unordered_set<xmlNodePtr> owners;
    // A step over a whole document (a Replace All dropped from the history) has hundreds
    // of thousands of notes to free: the window stays painted meanwhile.
    qint64 done = 0;
    for (const detail::Note& note : j.notes) {
        if ((++done & 0x3FFF) == 0)
            busyTick();
        if (note.kind == detail::Note::NsDefs) {
            owners.insert(note.node);
            mentioned.insert(note.defs.begin(), note.defs.end());
        }
    }
    for (xmlNodePtr el : owners)
        for (xmlNsPtr ns = el->nsDef; ns; ns = ns->next) {
            onChains.insert(ns);
            mentioned.insert(ns);
        }
    while (!j.notes.empty()) {
        detail::Note& note = j.notes.back();
        if (note.kind == detail::Note::AttrValue && note.list)
            xmlFreeNodeList(note.list);
        j.notes.pop_back();
        if ((++done & 0x3FFF) == 0)
            busyTick();
    }
    for (xmlNsPtr ns : mentioned)
        if (!onChains.count(ns)
            && std::find(j.core->retiredNs.begin(), j.core->retiredNs.end(), ns) == j.core->retiredNs.end()) {
            ns->next = nullptr;
            ns->_private = detail::kRetiredDeclaration;
            j.core->retiredNs.push_back(ns);
        }
    // Releasing the held nodes frees those out of the tree; that is not a change to record.
    detail::Journal* active = detail::tJournal;
    detail::tJournal = nullptr;
    releaseWhileBusy(d->parents);
    releaseWhileBusy(d->nodes);
    releaseWhileBusy(j.held);
    j.heldSet.clear();
    detail::tJournal = active;
}

bool DOMChangeSet::isEmpty() const { return !d->journal || d->journal->notes.empty(); }
bool DOMChangeSet::isUndone() const { return d->journal && d->journal->undone; }

void DOMChangeSet::undo()
{
    detail::Journal& j = *d->journal;
    if (j.undone)
        return;
    // A step over a whole document holds millions of notes: the window stays painted.
    qint64 done = 0;
    for (auto it = j.notes.rbegin(); it != j.notes.rend(); ++it) {
        detail::replay(j, *it, false);
        if ((++done & 0x3FFF) == 0)
            busyTick();
    }
    j.core->modified = j.modifiedBefore;
    j.core->prologChanged = j.prologBefore;
    ++j.core->generation;
    j.undone = true;
}

void DOMChangeSet::redo()
{
    detail::Journal& j = *d->journal;
    if (!j.undone)
        return;
    qint64 done = 0;
    for (detail::Note& note : j.notes) {
        detail::replay(j, note, true);
        if ((++done & 0x3FFF) == 0)
            busyTick();
    }
    j.core->modified = j.modifiedAfter;
    j.core->prologChanged = j.prologAfter;
    ++j.core->generation;
    j.undone = false;
}

namespace detail {
namespace {

// Where a node read from the file starts there, if the loader noted it.
qint64 sourceStart(const DocCore& core, xmlNodePtr n)
{
    quint64 offset = 0, length = 0;
    if (!core.tagSpans || n->type != XML_ELEMENT_NODE || !tagSpan(n, &offset, &length))
        return -1;
    return qint64(offset);
}

// The bytes a node held out of the tree costs, about: a tree costs some ten times the
// text it was read from, so a subtree read from the file is priced by the stretch of
// the file it came from (where the next node read from the file starts), which takes no
// walk over a subtree of a million nodes. Nodes made in memory are counted one by one.
qint64 heldBytes(const DocCore& core, const Note& note)
{
    constexpr qint64 kNodeBytes = 140, kTreePerSourceByte = 10;
    if (const qint64 start = sourceStart(core, note.node); start >= 0) {
        qint64 end = -1;
        for (xmlNodePtr next = note.next, parent = note.parent; end < 0;) {
            for (; next && end < 0; next = next->next)
                end = sourceStart(core, next);
            if (end >= 0 || !parent || parent->type != XML_ELEMENT_NODE)
                break;
            next = parent->next;
            parent = parent->parent;
        }
        if (end < 0)
            end = core.rootEnd;
        if (end > start)
            return (end - start) * kTreePerSourceByte;
    }
    // A node, and each attribute with its text node, as libxml2 allocates them.
    constexpr qint64 kAttributeBytes = 260;
    qint64 bytes = 0;
    for (xmlNodePtr n = note.node; n; n = nextInSubtree(n, note.node)) {
        bytes += kNodeBytes + (n->content ? xmlStrlen(n->content) : 0);
        if (n->type == XML_ELEMENT_NODE)
            for (xmlAttrPtr a = n->properties; a; a = a->next)
                bytes += kAttributeBytes + (a->children && a->children->content ? xmlStrlen(a->children->content) : 0);
    }
    return bytes;
}

} // namespace
} // namespace detail

qint64 DOMChangeSet::cost() const
{
    if (!d->journal)
        return 0;
    const detail::Journal& j = *d->journal;
    qint64 bytes = qint64(sizeof(detail::Journal)) + qint64(j.notes.size() * sizeof(detail::Note));
    qint64 done = 0;
    for (const detail::Note& note : j.notes) {
        if ((++done & 0x3FFF) == 0)
            busyTick();
        bytes += note.text.size() + qint64(note.defs.size() * sizeof(void*));
        if (note.kind == detail::Note::Link && !note.node->parent)
            bytes += detail::heldBytes(*j.core, note);
    }
    return bytes;
}

const std::vector<DOMNode>& DOMChangeSet::changedParents() const { return d->parents; }
const std::vector<DOMNode>& DOMChangeSet::changedNodes() const { return d->nodes; }

void DOMDocument::beginChanges()
{
    if (detail::tJournal)
        detail::raise(DOMError::Busy, QStringLiteral("beginChanges: changes are already being recorded."));
    auto* j = new detail::Journal(m_core);
    j->modifiedBefore = m_core->modified;
    j->prologBefore = m_core->prologChanged;
    detail::tJournal = j;
    detail::tJournalDoc = m_core->doc;
}

bool DOMDocument::isRecording() const { return detail::tJournal && detail::tJournal->core == m_core; }

std::unique_ptr<DOMChangeSet> DOMDocument::endChanges()
{
    std::unique_ptr<detail::Journal> j(detail::tJournal);
    detail::tJournal = nullptr;
    detail::tJournalDoc = nullptr;
    std::unique_ptr<DOMChangeSet> set(new DOMChangeSet);
    if (!j)
        return set;
    j->modifiedAfter = j->core->modified;
    j->prologAfter = j->core->prologChanged;
    // What views have to look at again, each node once.
    detail::PointerSet<xmlNode> parents, nodes;
    qint64 done = 0;
    for (const detail::Note& note : j->notes) {
        if ((++done & 0xFFF) == 0)
            busyTick();
        xmlNodePtr n = note.node;
        if (!n)
            continue;
        if (note.kind == detail::Note::Link) {
            if (detail::shown(n) && parents.insert(note.parent))
                set->d->parents.push_back(j->core->handle(note.parent));
            else if (n->type == XML_ATTRIBUTE_NODE && nodes.insert(note.parent))
                set->d->nodes.push_back(j->core->handle(note.parent));
            continue;
        }
        if (note.kind == detail::Note::Marks || note.kind == detail::Note::Ns)
            continue;
        xmlNodePtr owner = n->type == XML_ATTRIBUTE_NODE ? n->parent : n;
        if (owner && detail::shown(owner) && nodes.insert(owner))
            set->d->nodes.push_back(j->core->handle(owner));
    }
    set->d->journal = std::move(j);
    return set;
}

} // namespace treelark
