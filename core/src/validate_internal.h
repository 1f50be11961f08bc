// Inside validation: what may be read, schemas made ready to check against, and the
// streaming check both public forms run.
#pragma once

#include "treelark/Validation.h"

#include <QHash>
#include <QIODevice>
#include <QStringList>

#include <set>
#include <unordered_map>
#include <vector>

#include <libxml/relaxng.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>


namespace treelark::detail {

// ---- what a check may read (validate_reads.cpp) ----

// Where a DTD or schema named by the document or by another schema is on this computer.
struct LocalFile {
    QString path;    // the file to read; empty when refused or not found
    QString refusal; // why it is not read (a web address no catalog maps to a file)
};
// `reference` as written (a path, a file: URL or a web address), resolved against
// `baseDir` when relative; catalogs are asked first (by `publicId` too, when given).
LocalFile locate(const QString& reference, const QString& baseDir, const QString& publicId = QString());

// While one exists, parsers on this thread read external entities only from local files
// (catalogs asked first), and no more than a bounded number of them; with `nothing`, they
// read none at all.
class ReadScope {
public:
    explicit ReadScope(bool nothing = false);
    ~ReadScope();
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

    QStringList refused;  // what was asked for and not read, with the reason
    int reads = 0;
    bool nothing = false;

private:
    ReadScope* m_outer;
    xmlGenericErrorFunc m_oldGeneric;
    void* m_oldGenericContext;
};

// ---- schemas (validate_schema.cpp) ----

struct Grammar {
    ValidationGrammar kind = ValidationGrammar::WellFormedness;
    QString source;            // the schema's or DTD's path; "" for none or the internal subset
    xmlDocPtr doc = nullptr;   // the schema document, kept while the compiled form lives
    xmlSchemaPtr xsd = nullptr;
    xmlRelaxNGPtr rng = nullptr;

    Grammar() = default;
    ~Grammar();
    Grammar(const Grammar&) = delete;
    Grammar& operator=(const Grammar&) = delete;
};

// Reads the schema at `path` and compiles it as what its root element says it is. False,
// with the reasons added to `problems` (each naming the schema file), when it cannot be
// read, is not XML, is neither kind of schema or does not compile.
bool compileSchema(const QString& path, Grammar& out, std::vector<ValidationProblem>& problems);

// A problem with no place in the document: a file that cannot be used, a refusal.
inline ValidationProblem fileProblem(const QString& file, const QString& message,
                                     ProblemSeverity severity = ProblemSeverity::Error)
{
    ValidationProblem p;
    p.severity = severity;
    p.message = message;
    p.file = file;
    return p;
}

// A structured-error sink's copy of one libxml2 error as a problem (place and file as
// libxml2 gives them; no element).
ValidationProblem problemFrom(const xmlError* e);

// ---- where problems are (validate_track.cpp) ----

// Follows the elements a check has open and turns libxml2's errors into problems about
// them: each gets its element's number in document order and its path.
//
// Checks report an element three ways: the node the reader stands on (or is about to),
// a node the parser has built ahead of the reader (kept until the reader reaches it), or,
// checking from parser events with no nodes at all, no node: then the element open at
// the top is meant. A DTD check in the reader reports some faults twice (once from the
// parser, once from the reader's own pass over the content); the second is dropped.
class ElementTrack {
public:
    ElementTrack(ValidationResult& result, const ValidationOptions& options, const QString& file, const QByteArray& url);
    ElementTrack(const ElementTrack&) = delete;
    ElementTrack& operator=(const ElementTrack&) = delete;

    void enter(const QString& name, xmlNodePtr node);
    // The top element closes at the next step: its end is still being checked.
    void leaveLater() { m_leavePending = true; }
    void step();
    void report(const xmlError* e, bool nodeless);
    void refused(const QString& message);
    // Paths settled, the parse error (if any) moved first.
    void finish();
    qint64 elements() const { return m_next; }

private:
    struct Frame {
        xmlNodePtr node;
        qint64 ordinal;
        QString name;
        int index;
        QHash<QString, int> children;
        bool named = false; // some problem's path goes through it
    };
    struct Step {
        qint64 parent; // -1 for the document element
        QString name;
        int index;
    };
    std::vector<Step> chain(qsizetype through);
    void leave();

    ValidationResult& m_result;
    const ValidationOptions& m_options;
    QString m_file;
    QByteArray m_url;
    std::vector<Frame> m_open;
    bool m_leavePending = false;
    qint64 m_next = 0;
    std::vector<std::vector<Step>> m_steps;                        // beside m_result.problems
    std::unordered_map<qint64, QHash<QString, int>> m_counts;      // children of closed named frames
    std::unordered_map<xmlNodePtr, std::vector<std::size_t>> m_ahead; // problems about nodes not reached yet
    std::set<std::pair<qint64, int>> m_seen;                       // (element, code) of DTD content faults
    std::set<std::pair<xmlNodePtr, int>> m_seenAhead;
    qsizetype m_firstFatal = -1;
};

// ---- the check itself (validate_stream.cpp, validate_file.cpp) ----

struct StreamInput {
    QIODevice* device = nullptr; // open for reading, seekable, at its start
    qint64 total = -1;           // its size, for progress
    QString file;                // the name problems carry
    QString url;                 // the document's path, for its relative references ("" for none)
};

// Feeds libxml2 from a device, counting what it has read.
struct Source {
    QIODevice* device;
    qint64 done = 0;
    bool failed = false;
};

inline int readSource(void* context, char* buffer, int len)
{
    auto* source = static_cast<Source*>(context);
    const qint64 n = source->device->read(buffer, len);
    if (n < 0) {
        source->failed = true;
        return -1;
    }
    source->done += n;
    return int(n);
}

inline int closeNothing(void*) { return 0; }

// The pass over the document against `grammar` (well-formedness alone when it holds
// nothing), filling in `result`.
void runCheck(const StreamInput& in, const ValidationOptions& options, const Grammar& grammar, ValidationResult& result);

// Checks the document in `in` as the options say. Every problem about an element carries
// its number in document order and its path (never a node).
ValidationResult validateStream(const StreamInput& in, const ValidationOptions& options);

} // namespace treelark::detail
