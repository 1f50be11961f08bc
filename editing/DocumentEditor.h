// The one way the windows change the open document. Every change is a step on an undo
// history: the step records what the DOM did (see DOMChangeSet) and so can be taken back
// and made again exactly. After each change, undo or redo the editor says which nodes
// changed, so views follow node by node instead of rebuilding.
//
// Errors: a change the DOM refuses raises DOMException out of perform / performWhole (and
// the named changes below), the document as the step left it; nothing here shows a
// message. Whether the document has unsaved changes is only ever this history's answer.
//
// The history keeps at most kMaxSteps steps and about kMemoryBudget bytes of what the
// steps hold (removed subtrees, old values); past either, the oldest steps are forgotten:
// undo stops where the history now begins.
#pragma once

#include "treelark/dom.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class QUndoStack;

namespace treelark {

// What one change, undo or redo did, for views that show the document.
// Told while the step is made, undone or redone, and valid only then: the lists are the
// step's own (a change over a whole document names a million nodes, too many to copy).
struct DocumentChange {
    const std::vector<DOMNode>& parents; // nodes whose children changed
    const std::vector<DOMNode>& nodes;   // nodes whose attributes, name or value changed
    // A node the tree shows last among its siblings whatever its place in the document
    // (a node moved by a tree drag, a branch the layer builder wrote), until the tree is
    // built again.
    DOMNode movedToEnd;
};

class DocumentEditor : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxSteps = 500;
    static constexpr qint64 kMemoryBudget = qint64(256) << 20;

    explicit DocumentEditor(QObject* parent = nullptr);
    ~DocumentEditor() override;

    // A newly loaded document: the history starts empty and the document unchanged.
    void setDocument(DOMDocumentPtr doc);
    DOMDocumentPtr document() const { return m_doc; }

    // Runs `change` on the document as one step named `name`. What it did stays done and
    // is one step even when it throws part way (the exception goes on to the caller).
    // Returns whether the document changed. `shownLast`: a node the tree is to show last
    // among its siblings after this change (see DocumentChange::movedToEnd).
    bool perform(const QString& name, const std::function<void()>& change, const DOMNode& shownLast = DOMNode());
    // As perform, but all or nothing: when `change` throws, what it did is taken back
    // first, no step is recorded, and the exception goes on to the caller.
    bool performWhole(const QString& name, const std::function<void()>& change);

    // The window's changes.
    void removeNode(const DOMNode& node);
    DOMNode appendCopy(const DOMNode& parent, const DOMNode& copy);
    void moveToFirstChild(const DOMNode& node, const DOMNode& target);
    void setAttribute(const DOMNode& element, const QString& name, const QString& value);
    void removeAttribute(const DOMNode& element, const QString& name);
    void setText(const DOMNode& node, const QString& text);

    void undo();
    void redo();
    bool canUndo() const;
    bool canRedo() const;
    QString undoText() const;
    QString redoText() const;
    int stepCount() const;

    // Whether the document differs from what was last loaded or saved. Never set by hand:
    // it is the history's own answer (not at its clean point, or the clean point lost to
    // the step limit or the memory budget), so every change that went through here
    // counts, undoing back to the saved state counts as unchanged, and a refused change
    // that left the document as it was counts as nothing.
    bool isModified() const;
    // The document was just written out: this state is the clean one.
    void markSaved();

    // Bytes the history holds now, and the most it may hold (kMemoryBudget unless set).
    qint64 historyCost() const { return m_cost; }
    void setMemoryBudget(qint64 bytes) { m_budget = bytes; }

signals:
    void changed(const treelark::DocumentChange& change);
    void historyChanged();
    void modifiedChanged(bool modified);
    // After an undo or redo: "Undo: <step>" / "Redo: <step>".
    void stepReplayed(const QString& message);

private:
    class Step;
    friend class Step;
    bool run(const QString& name, const std::function<void()>& change, const DOMNode& movedToEnd, bool whole);
    void announce(const DOMChangeSet& set, DOMNode movedToEnd = DOMNode());
    void keepWithinBudget();

    DOMDocumentPtr m_doc;
    QUndoStack* m_stack;
    bool m_lastModified = false;
    void reportModified();
    qint64 m_cost = 0;
    qint64 m_budget = kMemoryBudget;
};

} // namespace treelark

Q_DECLARE_METATYPE(treelark::DocumentChange)
