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
    // the attribute itself for attribute names and values; a namespace declaration
    // (XML_NAMESPACE_DECL) stands as one
    xmlNodePtr node = nullptr;
    FindPlace place = FindText;
    QString text;
    xmlNodePtr element = nullptr; // the element a name or value is of; the parent of a leaf
};

// A test on a subject's UTF-8 bytes that rules out, without decoding it, a subject the
// find text cannot be in. Only literal find texts have one; it never rules out a match.
class Prefilter {
public:
    explicit Prefilter(const FindOptions& options);
    bool mayMatch(const xmlChar* text, size_t length) const;

private:
    QByteArray needle;
    bool active = false;
    bool foldCase = false;     // needle lowered; ASCII letters compared without case
    bool nonAsciiFolds = false;
};

// The subjects over the scope the options give (the branch, the XPath's nodes), in
// document order (an element's attributes right after its name), each handed over only
// when the prefilter lets it through. pathOf() is the path of the subject being visited.
class SubjectWalk {
public:
    using Visit = std::function<void(const Subject&)>;
    SubjectWalk(DocCore& core, const FindOptions& options);
    // The XPath's fault, or a cancelled search (problem.cancelled), if any.
    FindProblem run(const Visit& visit);
    QString pathOf(const Subject& s);

private:
    struct Frame {
        xmlNodePtr node = nullptr;
        int index = 0;          // among its parent's elements of its name; 0: no position
        QString path;
        bool pathKnown = false;
        std::vector<std::pair<xmlNodePtr, int>> names; // a sample child per name, and the count
        int texts = 0;
        int comments = 0;
    };
    void push(xmlNodePtr node, int index, const QString* path);
    int countChild(xmlNodePtr n);
    QString frameSegment(const Frame& f) const;
    QString elementPath(size_t depth);
    void offer(xmlNodePtr node, FindPlace place, const xmlChar* raw, size_t length, bool inScope, const Visit& visit);
    void offerElement(xmlNodePtr n, bool inScope, const std::unordered_set<xmlNodePtr>& scope, const Visit& visit);

    DocCore& m_core;
    FindOptions m_options;
    Prefilter m_quick;
    std::vector<Frame> m_frames; // the open elements, the walk's root first
    size_t m_depth = 0;
    QString m_rootPath;
    int m_leafIndex = 0;         // of the text or comment being visited
};

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
// The handle a match or a planned change holds for the subject.
DOMNode subjectHandle(DocCore& core, const Subject& s);

} // namespace treelark::detail
