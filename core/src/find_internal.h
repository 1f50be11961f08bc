// Shared by find_match.cpp and find_replace.cpp: the compiled pattern and the walk over
// what the options name.
#pragma once

#include "dom_internal.h"
#include "treelark/Busy.h"
#include "treelark/FindReplace.h"

#include <QRegularExpression>

#include <functional>
#include <unordered_map>
#include <unordered_set>

namespace treelark::detail {

// The find text as one expression: literal text escaped, whole words fenced.
struct Pattern {
    QRegularExpression re;
    FindProblem problem;
    bool empty = true;
};
Pattern compilePattern(const FindOptions& options);
QString expandReplacement(const QRegularExpressionMatch& m, const FindOptions& options);
// subject with every match of a non-empty length replaced; count gets how many
QString replaceWith(const Pattern& pattern, const QString& subject, const FindOptions& options, int* count);

// One name or value the options say to look in.
struct Subject {
    xmlNodePtr node = nullptr; // the attribute itself for attribute names and values
    FindPlace place = FindText;
    QString text;
};

// Calls `visit` for each subject in document order over the scope the options give
// (the branch, the XPath's nodes); an element's attributes come right after its name.
// Returns the XPath's fault, if any.
FindProblem walkSubjects(DocCore& core, const FindOptions& options, const std::function<void(const Subject&)>& visit);

// Paths like /doc/item[2]/@id, each parent's children counted once however many matches.
class PathMaker {
public:
    QString pathOf(xmlNodePtr n);

private:
    QString segmentOf(xmlNodePtr n);
    std::unordered_map<xmlNodePtr, QString> m_paths;
    std::unordered_map<xmlNodePtr, QString> m_segments;
    std::unordered_set<xmlNodePtr> m_counted;
};

QString qualifiedNameOf(xmlNodePtr n);

} // namespace treelark::detail
