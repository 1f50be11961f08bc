// The attribute editor's work on the document, as plain functions over the DOM so they
// can be used and checked without a window. None of them reports a refused change: the
// walks skip what the DOM refuses and go on, as a subtree-wide change should not stop
// half way because one element cannot take it.
//
// The walks visit any number of children at any depth (no recursion on the call stack)
// and tick the busy hook as they go, so the windows stay painted.
#pragma once

#include "treelark/dom.h"

namespace treelark {

// The attribute of pNode whose qualified name is exactly sName (case counts), or nothing.
DOMNode GetpAttributeByName(const DOMNode& pNode, const QString& sName);

// Removes the attribute sName from pNode and, when bRecursive, from every element below
// it that is reached through element children only.
void DeleteAttribute(const DOMNode& pNode, const QString& sName, bool bRecursive);

// Upper- or lower-cases the value of sName on pNode and, when bRecursive, on the elements
// below it reached through element children only.
void ChangeAttributeCase(const DOMNode& pNode, const QString& sName, bool bUpper, bool bRecursive);

// Sets sName = sValue on every descendant of pNode (never pNode itself), depth first in
// document order. A descendant that has the attribute gets it removed and set again, so
// it moves to the end of its attributes; one that lacks it gets it only when bAdd.
void ApplyToChildNodes(const DOMNode& pNode, const QString& sName, const QString& sValue, bool bAdd);

// Writes pNode's "Name" value into those of its alias attributes that exist ("TagName",
// "Alias", "Desc", "LayerAlias", "FieldAlias"). Creates nothing; without "Name" does
// nothing.
void CopyNameToAliases(const DOMNode& pNode);


} // namespace treelark
