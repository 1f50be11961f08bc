#include "AttributeWalks.h"

#include "treelark/Busy.h"

namespace treelark {

namespace {

bool isElement(const DOMNode& n)
{
    try {
        return !n.isNull() && n.nodeType() == NODE_ELEMENT;
    } catch (const DOMException&) {
        return false;
    }
}

// Visits the nodes below `top` in document order, descending into a node's children
// only when `descend(node)` says so. Iterative: deep documents must not exhaust the
// stack, and wide ones are walked sibling by sibling rather than by position.
template <typename Visit, typename Descend>
void walkBelow(const DOMNode& top, Visit visit, Descend descend)
{
    DOMNode n;
    try {
        n = top.firstChild();
    } catch (const DOMException&) {
        return;
    }
    while (!n.isNull()) {
        busyTick();
        throwIfStopped();
        visit(n);
        DOMNode next;
        try {
            if (descend(n))
                next = n.firstChild();
            while (next.isNull() && n != top) {
                next = n.nextSibling();
                if (next.isNull())
                    n = n.parentNode();
                if (n.isNull())
                    return;
            }
        } catch (const DOMException&) {
            return;
        }
        if (next.isNull())
            return;
        n = next;
    }
}

// The walk shared by DeleteAttribute and ChangeAttributeCase: pNode itself when it is an
// element, then (recursive) every element reached through element children.
template <typename Act>
void walkElements(const DOMNode& pNode, bool bRecursive, Act act)
{
    if (!isElement(pNode))
        return;
    act(pNode);
    if (bRecursive)
        walkBelow(pNode, [&](const DOMNode& n) {
            if (isElement(n))
                act(n);
        }, isElement);
}

DOMNode namedItem(const DOMNode& element, const QString& name)
{
    try {
        const DOMNamedNodeMap attrs = element.attributes();
        return attrs.isNull() ? DOMNode() : attrs.getNamedItem(name);
    } catch (const DOMException&) {
        return DOMNode();
    }
}

} // namespace

void WalkRefusals::note(const DOMException& e)
{
    if (count++ == 0)
        first = e.description();
}

QString WalkRefusals::text() const
{
    if (count == 0)
        return QString();
    return QStringLiteral("%1 element(s) were left as they were: %2").arg(count).arg(first);
}

DOMNode GetpAttributeByName(const DOMNode& pNode, const QString& sName)
{
    try {
        const DOMNamedNodeMap attrs = pNode.attributes();
        if (attrs.isNull())
            return DOMNode();
        const qint64 n = attrs.length();
        for (qint64 i = 0; i < n; ++i) {
            DOMNode a = attrs.item(i);
            if (a.nodeName() == sName)
                return a;
        }
    } catch (const DOMException&) {
        return DOMNode(); // attributes that cannot be read hold no attribute of that name
    }
    return DOMNode();
}

void DeleteAttribute(const DOMNode& pNode, const QString& sName, bool bRecursive, WalkRefusals* skipped)
{
    walkElements(pNode, bRecursive, [&](DOMNode el) {
        if (namedItem(el, sName).isNull())
            return;
        try {
            el.removeAttribute(sName);
        } catch (const DOMException& e) {
            if (skipped)
                skipped->note(e);
        }
    });
}

void ChangeAttributeCase(const DOMNode& pNode, const QString& sName, bool bUpper, bool bRecursive,
                         WalkRefusals* skipped)
{
    walkElements(pNode, bRecursive, [&](const DOMNode& el) {
        DOMNode a = namedItem(el, sName);
        if (a.isNull())
            return;
        try {
            const QString v = a.value();
            const QString changed = bUpper ? v.toUpper() : v.toLower();
            // An unchanged value is left alone, so it costs the undo history nothing.
            if (changed != v)
                a.setValue(changed);
        } catch (const DOMException& e) {
            if (skipped)
                skipped->note(e);
        }
    });
}

void ApplyToChildNodes(const DOMNode& pNode, const QString& sName, const QString& sValue, bool bAdd,
                       WalkRefusals* skipped)
{
    if (pNode.isNull())
        return;
    walkBelow(pNode, [&](DOMNode child) {
        if (!isElement(child))
            return; // only elements carry attributes
        try {
            if (!GetpAttributeByName(child, sName).isNull()) {
                child.removeAttribute(sName);
                child.setAttribute(sName, sValue);
            } else if (bAdd) {
                child.setAttribute(sName, sValue);
            }
        } catch (const DOMException& e) {
            if (skipped)
                skipped->note(e);
        }
    }, [](const DOMNode&) { return true; });
}

void CopyNameToAliases(const DOMNode& pNode, WalkRefusals* skipped)
{
    const DOMNode name = namedItem(pNode, QStringLiteral("Name"));
    if (name.isNull())
        return;
    QString value;
    try {
        value = name.value();
    } catch (const DOMException& e) {
        if (skipped)
            skipped->note(e);
        return;
    }
    for (const char* alias : {"TagName", "Alias", "Desc", "LayerAlias", "FieldAlias"}) {
        DOMNode a = namedItem(pNode, QLatin1String(alias));
        if (a.isNull())
            continue;
        try {
            if (a.value() != value)
                a.setValue(value);
        } catch (const DOMException& e) {
            if (skipped)
                skipped->note(e);
        }
    }
}

} // namespace treelark
