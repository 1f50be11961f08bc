// The attribute editor's work on the document, as plain functions over the DOM so they
// can be used and checked without a window. The walks skip what the DOM refuses and go
// on, as a subtree-wide change should not stop half way because one element cannot take
// it; what they skipped is counted in `skipped` (when given), for the window to say.
//
// The walks visit any number of children at any depth (no recursion on the call stack)
// and tick the busy hook as they go, so the windows stay painted; asked to stop
// (throwIfStopped), they throw DOMError::Cancelled, for the step around them to be taken
// back.
#pragma once

#include "treelark/dom.h"

namespace treelark {

// What a walk left as it was: how many elements refused the change, and the first reason.
struct WalkRefusals {
    qint64 count = 0;
    QString first;
    void note(const DOMException& e);
    // "" when nothing was refused; otherwise a sentence for the user.
    QString text() const;
};

// The attribute of pNode whose qualified name is exactly sName (case counts), or nothing.
DOMNode GetpAttributeByName(const DOMNode& pNode, const QString& sName);

// Removes the attribute sName from pNode and, when bRecursive, from every element below
// it that is reached through element children only.
void DeleteAttribute(const DOMNode& pNode, const QString& sName, bool bRecursive, WalkRefusals* skipped = nullptr);

// Upper- or lower-cases the value of sName on pNode and, when bRecursive, on the elements
// below it reached through element children only.
void ChangeAttributeCase(const DOMNode& pNode, const QString& sName, bool bUpper, bool bRecursive, WalkRefusals* skipped = nullptr);

// Sets sName = sValue on every descendant of pNode (never pNode itself), depth first in
// document order. A descendant that has the attribute gets it removed and set again, so
// it moves to the end of its attributes; one that lacks it gets it only when bAdd.
void ApplyToChildNodes(const DOMNode& pNode, const QString& sName, const QString& sValue, bool bAdd, WalkRefusals* skipped = nullptr);

// Writes pNode's "Name" value into those of its alias attributes that exist ("TagName",
// "Alias", "Desc", "LayerAlias", "FieldAlias"). Creates nothing; without "Name" does
// nothing.
void CopyNameToAliases(const DOMNode& pNode, WalkRefusals* skipped = nullptr);


} // namespace treelark
