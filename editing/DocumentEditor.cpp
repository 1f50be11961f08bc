#include "DocumentEditor.h"

#include <QUndoCommand>
#include <QUndoStack>

#include <exception>

namespace treelark {

// One step: the recorded changes, already made when the step is pushed.
class DocumentEditor::Step : public QUndoCommand {
public:
    Step(DocumentEditor* editor, const QString& name, std::unique_ptr<DOMChangeSet> set)
        : QUndoCommand(name), m_editor(editor), m_set(std::move(set)), m_cost(m_set->cost())
    {
    }

    void undo() override
    {
        if (!m_set)
            return;
        m_set->undo();
        m_editor->announce(*m_set);
    }

    void redo() override
    {
        if (m_pushing) {
            m_pushing = false; // the change itself was made before the step was pushed
            return;
        }
        if (!m_set)
            return;
        m_set->redo();
        m_editor->announce(*m_set);
    }

    ~Step() override { m_editor->m_cost -= cost(); }

    qint64 cost() const { return m_set ? m_cost : 0; }
    bool forgotten() const { return !m_set; }
    // Past the history's budget: what the step held goes, and undo stops before it.
    void forget() { m_set.reset(); }

private:
    DocumentEditor* m_editor;
    std::unique_ptr<DOMChangeSet> m_set;
    qint64 m_cost;
    bool m_pushing = true;
};

DocumentEditor::DocumentEditor(QObject* parent) : QObject(parent), m_stack(new QUndoStack(this))
{
    qRegisterMetaType<DocumentChange>();
    m_stack->setUndoLimit(kMaxSteps);
    connect(m_stack, &QUndoStack::indexChanged, this, &DocumentEditor::historyChanged);
    connect(m_stack, &QUndoStack::cleanChanged, this, &DocumentEditor::historyChanged);
    connect(m_stack, &QUndoStack::indexChanged, this, &DocumentEditor::reportModified);
    connect(m_stack, &QUndoStack::cleanChanged, this, &DocumentEditor::reportModified);
}

DocumentEditor::~DocumentEditor()
{
    // The steps hold nodes of the document: they go before it does. Nobody is told: the
    // window that listens may be half gone already.
    blockSignals(true);
    m_stack->blockSignals(true);
    m_stack->clear();
}

void DocumentEditor::setDocument(DOMDocumentPtr doc)
{
    m_stack->clear();
    m_doc = std::move(doc);
    m_stack->setClean();
    reportModified();
    emit historyChanged();
}

bool DocumentEditor::perform(const QString& name, const std::function<void()>& change, const DOMNode& movedToEnd)
{
    return run(name, change, movedToEnd, false);
}

bool DocumentEditor::performWhole(const QString& name, const std::function<void()>& change)
{
    return run(name, change, DOMNode(), true);
}

bool DocumentEditor::run(const QString& name, const std::function<void()>& change, const DOMNode& movedToEnd,
                         bool whole)
{
    if (!m_doc)
        return false;
    m_doc->beginChanges();
    std::exception_ptr failure;
    bool stopped = false;
    try {
        change();
    } catch (const DOMException& e) {
        stopped = e.code() == DOMError::Cancelled;
        failure = std::current_exception();
    } catch (...) {
        failure = std::current_exception();
    }
    std::unique_ptr<DOMChangeSet> set = m_doc->endChanges();
    // A change the user stopped is taken back whole, whatever the step keeps of a refusal.
    if (failure && (whole || stopped)) {
        // Views were never told of the half-made change, so taking it back is silent.
        if (!set->isEmpty())
            set->undo();
        std::rethrow_exception(failure);
    }
    const bool changedSomething = !set->isEmpty();
    if (changedSomething) {
        announce(*set, movedToEnd);
        auto* step = new Step(this, name, std::move(set));
        m_cost += step->cost();
        m_stack->push(step);
        keepWithinBudget();
    }
    if (failure)
        std::rethrow_exception(failure);
    return changedSomething;
}

void DocumentEditor::removeNode(const DOMNode& node)
{
    perform(QStringLiteral("Delete ") + node.nodeName(), [&] {
        DOMNode parent = node.parentNode();
        if (parent.isNull())
            throw DOMException(DOMError::NotFound, QStringLiteral("removeChild: the node has no parent."));
        parent.removeChild(node);
    });
}

DOMNode DocumentEditor::appendCopy(const DOMNode& parent, const DOMNode& copy)
{
    DOMNode added;
    perform(QStringLiteral("Paste ") + copy.nodeName(), [&] {
        // The node inserted becomes the tree's own: a fresh copy goes in, and the one
        // given stays as it was, to be pasted again.
        DOMNode target = parent;
        added = target.appendChild(m_doc->importNode(copy, true));
    });
    return added;
}

void DocumentEditor::moveToFirstChild(const DOMNode& node, const DOMNode& target)
{
    DOMNode moving = node;
    perform(QStringLiteral("Move ") + node.nodeName(),
                [&] {
                    DOMNode parent = target;
                    parent.insertBefore(moving, target.firstChild());
                }, node);
}

void DocumentEditor::setAttribute(const DOMNode& element, const QString& name, const QString& value)
{
    perform(QStringLiteral("Set ") + name, [&] {
        DOMNode el = element;
        el.setAttribute(name, value);
    });
}

void DocumentEditor::removeAttribute(const DOMNode& element, const QString& name)
{
    perform(QStringLiteral("Remove ") + name, [&] {
        DOMNode el = element;
        el.removeAttribute(name);
    });
}

void DocumentEditor::setText(const DOMNode& node, const QString& text)
{
    perform(QStringLiteral("Edit text"), [&] {
        DOMNode n = node;
        n.setText(text);
    });
}

void DocumentEditor::announce(const DOMChangeSet& set, DOMNode movedToEnd)
{
    DocumentChange change{set.changedParents(), set.changedNodes(), std::move(movedToEnd)};
    emit changed(change);
}

void DocumentEditor::keepWithinBudget()
{
    // The newest step always stays, however big: it is the one a user most wants back.
    for (int i = 0; m_cost > m_budget && i + 1 < m_stack->index(); ++i) {
        auto* step = static_cast<Step*>(const_cast<QUndoCommand*>(m_stack->command(i)));
        if (step->forgotten())
            continue;
        m_cost -= step->cost();
        step->forget();
    }
    emit historyChanged();
}

bool DocumentEditor::canUndo() const
{
    const int i = m_stack->index();
    return i > 0 && !static_cast<const Step*>(m_stack->command(i - 1))->forgotten();
}

bool DocumentEditor::canRedo() const { return m_stack->canRedo(); }
QString DocumentEditor::undoText() const { return canUndo() ? m_stack->undoText() : QString(); }
QString DocumentEditor::redoText() const { return m_stack->redoText(); }
int DocumentEditor::stepCount() const { return m_stack->count(); }

void DocumentEditor::undo()
{
    if (!canUndo())
        return;
    const QString text = m_stack->undoText();
    m_stack->undo();
    emit stepReplayed(QStringLiteral("Undo: ") + text);
}

void DocumentEditor::redo()
{
    if (!canRedo())
        return;
    const QString text = m_stack->redoText();
    m_stack->redo();
    emit stepReplayed(QStringLiteral("Redo: ") + text);
}

bool DocumentEditor::isModified() const
{
    // The stack forgets its clean point (cleanIndex -1) when the step limit drops the step
    // it stood on; a clean point behind a step the budget emptied cannot be undone back
    // to, and the stack is not at it either, so isClean() answers both.
    return !m_stack->isClean();
}

void DocumentEditor::reportModified()
{
    const bool now = isModified();
    if (now == m_lastModified)
        return;
    m_lastModified = now;
    emit modifiedChanged(now);
}

void DocumentEditor::markSaved()
{
    m_stack->setClean();
    reportModified();
}

} // namespace treelark
