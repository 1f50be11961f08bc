#include "ReplaceAll.h"

#include "DocumentEditor.h"
#include "treelark/Busy.h"

namespace treelark {

namespace {

ReplaceOutcome carryOut(DocumentEditor& editor, const ReplacePlan& plan)
{
    ReplaceOutcome out;
    out.skipped = plan.skipped;
    if (plan.problem.isError()) {
        out.problem = plan.problem;
        out.error = plan.problem.message;
        out.cancelled = plan.problem.cancelled;
        if (out.cancelled)
            clearCancel();
        return out;
    }
    if (plan.changes.empty())
        return out;
    try {
        editor.performWhole(replaceStepName(plan.matchCount()), [&] { applyReplacePlan(plan); });
    } catch (const DOMException& e) {
        // performWhole took back what was made: the document is as it was
        out.cancelled = e.code() == DOMError::Cancelled;
        if (out.cancelled)
            clearCancel();
        out.error = e.description();
        return out;
    }
    out.matches = plan.matchCount();
    out.nodes = plan.nodeCount();
    return out;
}

} // namespace

QString replaceStepName(int matches)
{
    return matches == 1 ? QStringLiteral("Replace 1 match") : QStringLiteral("Replace %1 matches").arg(matches);
}

ReplaceOutcome replaceAll(DocumentEditor& editor, const FindOptions& options)
{
    if (!editor.document())
        return ReplaceOutcome();
    ReplacePlan plan = planReplaceAll(editor.document(), options);
    ReplaceOutcome out = carryOut(editor, plan);
    releaseWhileBusy(plan.changes);
    return out;
}

ReplaceOutcome replaceOne(DocumentEditor& editor, const FindMatch& match, const FindOptions& options)
{
    return carryOut(editor, planReplaceOne(match, options));
}

} // namespace treelark
