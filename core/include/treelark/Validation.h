/// \file
/// Checking a document against a DTD, an XML Schema or a RELAX NG schema, with every
/// problem found listed where it is.
///
/// Both forms read the document as a stream, so memory stays bounded whatever its size:
/// validateFile reads a file; validateDocument reads a DOM document as it would be saved
/// (never changing it: nothing is added to the tree, no default attribute, no ID) and
/// hands each problem the node it concerns.
///
/// What is read to check the document: the document itself, and schemas and DTDs from
/// this computer's files only, found next to the document or through the system's XML
/// catalogs. Anything named by a web address that the catalogs do not map to a local file
/// is refused, and that refusal is a problem of its own; nothing is ever fetched.
#pragma once

#include "treelark/dom.h"
#include "treelark/export.h"

#include <QString>

#include <functional>
#include <vector>

namespace treelark {

enum class ProblemSeverity { Error, Warning };

struct ValidationProblem {
    ProblemSeverity severity = ProblemSeverity::Error;
    QString message;          ///< one line, no trailing newline
    qint64 line = 0;          ///< from 1; 0 when the problem has no place in the document
    qint64 column = 0;        ///< from 1; 0 when not known (validity errors often have none)
    /// The file the problem is in: the document, or a schema or DTD that cannot be used.
    QString file;
    /// The element it concerns, numbered in document order from 0 (the document element),
    /// the same numbers DocumentIndex gives its rows; -1 when it concerns no element.
    qint64 element = -1;
    /// That element as a location path, e.g. /FrameworkConfig/ApLayers/ApLayer[3]; a step
    /// has a position only where its parent has more than one child of that name.
    QString path;
    /// validateDocument only: the element in the DOM document (nothing otherwise).
    DOMNode node;
};

enum class ValidationOutcome {
    Valid,              ///< no error (warnings may be listed)
    Invalid,            ///< not well-formed, or errors against the DTD or schema
    DocumentUnreadable, ///< the document could not be opened or read
    SchemaUnusable,     ///< the schema or DTD could not be read, is not one, or does not compile
    Cancelled,          ///< the progress callback said stop; problems found so far are kept
};

/// What a document was checked against.
enum class ValidationGrammar { WellFormedness, Dtd, XmlSchema, RelaxNg };

struct ValidationOptions {
    /// An XML Schema or RELAX NG schema (told apart by its content) to check against
    /// instead of what the document names. Empty: the document's own schema location
    /// (xsi:schemaLocation, xsi:noNamespaceSchemaLocation), else its DTD, else the
    /// shipped schema for a FrameworkConfig document, else well-formedness only.
    QString schemaPath;
    /// Whether a FrameworkConfig document naming nothing is checked against
    /// shippedFrameworkSchema().
    bool useShippedSchema = true;
    /// Called every few thousand nodes with the bytes read so far and the total (-1 when
    /// unknown); returning false stops the check (outcome Cancelled). Called on the
    /// validating thread.
    std::function<bool(qint64 done, qint64 total)> progress;
    /// Problems beyond this many are counted but not listed.
    int maxListedProblems = 10000;
};

struct ValidationResult {
    ValidationOutcome outcome = ValidationOutcome::Valid;
    ValidationGrammar grammar = ValidationGrammar::WellFormedness;
    /// The schema or DTD used ("" for the internal subset alone or well-formedness).
    QString grammarSource;
    std::vector<ValidationProblem> problems; ///< in the order found; a parse error first
    int errors = 0;                          ///< all of them, listed or not
    int warnings = 0;
    qint64 elements = 0;                     ///< elements read

    bool valid() const { return outcome == ValidationOutcome::Valid; }
};

/// Validates the file at `path` as a stream.
TREELARK_CORE_EXPORT ValidationResult validateFile(const QString& path, const ValidationOptions& options = {});

/// Validates a DOM document as it would be saved, leaving it unchanged. Places are those
/// of that text, which for a document not edited since it was read are the file's; each
/// problem about an element carries its node. A document that names its schema or DTD by
/// a relative path is resolved against the file it was read from.
TREELARK_CORE_EXPORT ValidationResult validateDocument(const DOMDocument& document,
                                                       const ValidationOptions& options = {});

/// The FrameworkConfig schema that ships with the program: the installed copy, else the
/// one in the source tree (running from a build folder). Empty when neither is there.
TREELARK_CORE_EXPORT QString shippedFrameworkSchema();

/// "error" or "warning".
TREELARK_CORE_EXPORT QString severityName(ProblemSeverity severity);

} // namespace treelark
