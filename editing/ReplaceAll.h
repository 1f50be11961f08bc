// Replacing through the edit layer: all of a Replace All is one step of the history
// ("Replace 312 matches"), undone and redone as one; refused or stopped, it leaves the
// document as it was and no step.
#pragma once

#include "treelark/FindReplace.h"

#include <QString>
#include <vector>

namespace treelark {

class DocumentEditor;

struct ReplaceOutcome {
    int matches = 0;                      // replaced
    int nodes = 0;                        // elements, texts and comments changed
    std::vector<PlannedChange> skipped;   // left out, each with its reason
    QString error;                        // why nothing was changed ("" when all went)
    bool cancelled = false;               // stopped through requestCancel(): nothing changed
    FindProblem problem;                  // the pattern or the XPath could not be used
    bool changed() const { return matches > 0; }
};

// "Replace 1 match", "Replace 312 matches": the step's name.
QString replaceStepName(int matches);

// Every match the options find, as one step.
ReplaceOutcome replaceAll(DocumentEditor& editor, const FindOptions& options);
// The one match (found with the same options), as one step.
ReplaceOutcome replaceOne(DocumentEditor& editor, const FindMatch& match, const FindOptions& options);

} // namespace treelark
