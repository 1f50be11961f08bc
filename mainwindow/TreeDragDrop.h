// Moving a node under another element by dragging it in the tree with Shift held. The
// drag is the window's own mouse tracking, not a data-transfer drag: it starts on a move
// with exactly the left button and Shift, follows the pointer with a drop highlight (a
// band over the row, so the dragged row keeps its selected look), and drops where the
// button is released.
#pragma once

#include <QObject>
#include <QPersistentModelIndex>

#include <memory>

class QEvent;
class QWidget;

namespace treelark {

class DocumentSession;
class StatusLine;
class TreeNavigator;
class TreeItem;

class TreeDragDrop : public QObject {
    Q_OBJECT
public:
    TreeDragDrop(DocumentSession& session, TreeNavigator& tree, StatusLine& status, QObject* parent = nullptr);
    ~TreeDragDrop() override;

    // Mouse moves and releases over the tree; true when the drag took the event.
    bool mouseEvent(QEvent* event);
    // Drops the selected row on `dropItem`: it becomes the element's first child.
    void drop(TreeItem* dropItem);
    bool dragging() const { return bDragging; }

private:
    void start(const QPoint& pos);
    void over(const QPoint& pos);
    void stopTracking();
    void clearHighlight();

    DocumentSession& m_session;
    TreeNavigator& m_tree;
    StatusLine& m_status;
    bool bDragging = false;
    bool m_live = false; // left button held since the Shift-drag started
    QPersistentModelIndex m_highlight;
    QWidget* m_band = nullptr;
    // Owned here, not by a parent, so it is gone before the window is torn down while
    // the tree still delivers events.
    std::unique_ptr<QObject> m_hook;
};

} // namespace treelark
