/// \file
/// Finding text in a document's names, attribute values, text and comments, and replacing
/// it: every match in document order, and a plan of every replacement that names each one
/// it has to leave out and why, applied all at once (see DocumentEditor::performWhole for
/// making that one undoable step).
#pragma once

#include "treelark/DocumentIndex.h"
#include "treelark/dom.h"
#include "treelark/export.h"

#include <QString>
#include <vector>

namespace treelark {

/// Where to look; combine as flags.
enum FindPlace : unsigned {
    FindElementNames = 1,
    FindAttributeNames = 2,
    FindAttributeValues = 4,
    FindText = 8, ///< text and CDATA sections
    FindComments = 16,
};
constexpr unsigned kDefaultFindPlaces = FindAttributeValues | FindText;

/// "element name", "attribute value", ... as the windows show a place.
TREELARK_CORE_EXPORT QString findPlaceName(FindPlace place);

struct FindOptions {
    QString findText;
    QString replaceText;     ///< with a regular expression, \1 .. \9 stand for its groups, \0 for the match
    unsigned places = kDefaultFindPlaces;
    bool matchCase = false;
    bool wholeWord = false;
    bool regularExpression = false;
    QString xpath;           ///< "" = the whole document; else only these nodes and what is inside them
    DOMNode branch;          ///< set: only this node and what is inside it
    qint64 branchRow = -1;   ///< the large form's branch: this row and what is inside it
};

/// One occurrence: `subject` is the whole name or value it was found in.
struct FindMatch {
    DOMNode node;            ///< the element, attribute, text, CDATA section or comment
    FindPlace place = FindText;
    QString attributeName;   ///< for attribute names and values
    qsizetype offset = 0;
    qsizetype length = 0;
    QString subject;
    QString path;            ///< "/doc/item[2]/@id", "/doc/text()[1]", ...
    /// In the large form (no node): the row of the element a name or value is of, or of a
    /// text's or comment's parent; -1 for a comment outside the document element.
    qint64 row = -1;
};

/// Why options cannot be used: the message, and where in the pattern (-1 when nowhere).
struct FindProblem {
    QString message;
    qsizetype offset = -1;
    bool cancelled = false;  ///< the search was stopped (requestCancel()); nothing is listed
    bool isError() const { return !message.isEmpty(); }
};

struct FindResult {
    std::vector<FindMatch> matches;
    FindProblem problem;
};

/// Whether the options can be used at all (the pattern compiles). The XPath is checked
/// when a search runs. An empty find text is not a problem: it finds nothing.
TREELARK_CORE_EXPORT FindProblem checkFindOptions(const FindOptions& options);

/// Every match, in document order (an element's name before its attributes, those before
/// what is inside it). Matches of nothing (a pattern like "a*") are not matches.
TREELARK_CORE_EXPORT FindResult findAll(const DOMDocumentPtr& doc, const FindOptions& options);

/// The large document form's findAll(): the matches findAll() gives for the same file
/// loaded as a document, read from the file as it streams by (memory: the matches and the
/// open elements), each with its row and no node. Elements an entity brings in are not
/// rows, so the search ends where one begins, as it ends at a fault in the file. An XPath
/// needs the document in memory: it is a problem here; a branch is given as `branchRow`.
TREELARK_CORE_EXPORT FindResult findInFile(const DocumentIndex& index, const FindOptions& options);

/// `subject` with every match replaced; `count` gets how many.
TREELARK_CORE_EXPORT QString replaceInText(const QString& subject, const FindOptions& options, int* count = nullptr);

/// One name or value to change: `before` is what it holds now, `after` what it gets.
struct PlannedChange {
    DOMNode node;
    FindPlace place = FindText;
    QString attributeName;
    QString before;
    QString after;
    int matches = 0;
    QString path;
    QString reason;          ///< for a change left out: why
};

struct TREELARK_CORE_EXPORT ReplacePlan {
    std::vector<PlannedChange> changes;  ///< in the order they are to be made
    std::vector<PlannedChange> skipped;  ///< each with its reason; nothing of these is changed
    FindProblem problem;
    int matchCount() const;
    /// Elements, texts and comments changed (an element counts once for all its attributes).
    int nodeCount() const;
};

/// Every replacement over the document, none made yet. A name that would not be a valid
/// name where it stands, an attribute name its element would then hold twice, a value a
/// node cannot hold (a comment with "--", a CDATA section with "]]>", a character XML
/// has not) is left out whole, with its reason.
TREELARK_CORE_EXPORT ReplacePlan planReplaceAll(const DOMDocumentPtr& doc, const FindOptions& options);
/// The plan for replacing `match` alone (found with the same options): one change, or one
/// left out, or a problem when the match is no longer there.
TREELARK_CORE_EXPORT ReplacePlan planReplaceOne(const FindMatch& match, const FindOptions& options);
/// Makes the plan's changes in order. Raises DOMException when a node no longer holds what
/// the plan found there, when the DOM refuses one, or (DOMError::Cancelled) when
/// requestCancel() was called; what was made before stays, so run it inside
/// DocumentEditor::performWhole for all or nothing.
TREELARK_CORE_EXPORT void applyReplacePlan(const ReplacePlan& plan);

} ///< namespace treelark
