#include "TreeDragDrop.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "StatusLine.h"
#include "TreeNavigator.h"

#include <QMouseEvent>
#include <QRubberBand>
#include <QScrollBar>
#include <QTreeView>

#include <functional>

namespace treelark {

namespace {

// Runs a function for every event of the object it watches.
class EventHook : public QObject {
public:
    explicit EventHook(std::function<bool(QEvent*)> fn) : m_fn(std::move(fn)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override { return m_fn(event); }

private:
    std::function<bool(QEvent*)> m_fn;
};

constexpr int kMaxDragImageWidth = 320;

} // namespace

TreeDragDrop::TreeDragDrop(DocumentSession& session, TreeNavigator& tree, StatusLine& status, QObject* parent)
    : QObject(parent), m_session(session), m_tree(tree), m_status(status)
{
}

TreeDragDrop::~TreeDragDrop() = default;

bool TreeDragDrop::mouseEvent(QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false; // data-transfer drags are not the tree's
    auto* me = static_cast<QMouseEvent*>(event);
    const QPoint pos = me->position().toPoint();

    if (type == QEvent::MouseButtonRelease) {
        if (!m_live || me->button() != Qt::LeftButton)
            return false;
        over(pos);
        stopTracking();
        drop(m_tree.model()->itemFromIndex(m_highlight));
        return true;
    }
    if (m_live) {
        if (!(me->buttons() & Qt::LeftButton)) {
            // The release went elsewhere: nothing is dropped.
            stopTracking();
            clearHighlight();
            bDragging = false;
            return false;
        }
        over(pos);
        return true;
    }
    if (me->buttons() == Qt::LeftButton && me->modifiers() == Qt::ShiftModifier) {
        start(pos);
        return true;
    }
    return false;
}

void TreeDragDrop::start(const QPoint& pos)
{
    QTreeView* view = m_tree.view();
    QWidget* viewport = view->viewport();
    if (!m_hook) {
        // The window takes a left release for a click; during a drag it is the drop, so
        // it is caught first. Other presses would move the selection, which is the
        // dragged row.
        m_hook = std::make_unique<EventHook>([this](QEvent* e) {
            if (!m_live)
                return false;
            switch (e->type()) {
            case QEvent::MouseButtonRelease:
                return mouseEvent(e);
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                auto* me = static_cast<QMouseEvent*>(e);
                if ((me->buttons() & Qt::LeftButton) && me->button() != Qt::LeftButton)
                    return true;
                // A fresh left press: the drag's release was lost.
                stopTracking();
                clearHighlight();
                bDragging = false;
                return false;
            }
            default:
                return false;
            }
        });
        viewport->installEventFilter(m_hook.get());
        auto* band = new QRubberBand(QRubberBand::Rectangle, viewport);
        band->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_band = band;
    }

    bDragging = true;
    m_live = true;
    if (TreeItem* item = m_tree.selectedItem()) {
        // The row's own picture rides on the pointer.
        const QRect rect = view->visualRect(m_tree.model()->indexOf(item)).intersected(viewport->rect());
        QPixmap image = viewport->grab(rect);
        if (!image.isNull()) {
            if (image.width() > kMaxDragImageWidth)
                image = image.copy(0, 0, kMaxDragImageWidth, image.height());
            const QPoint hot = pos - rect.topLeft();
            viewport->setCursor(QCursor(image, qBound(0, hot.x(), image.width() - 1),
                                        qBound(0, hot.y(), image.height() - 1)));
        } else {
            viewport->setCursor(Qt::DragMoveCursor);
        }
    }
    over(pos);
}

void TreeDragDrop::over(const QPoint& pos)
{
    if (!bDragging)
        return;
    QTreeView* view = m_tree.view();
    // Past the top or bottom edge the tree scrolls a row per move.
    QScrollBar* bar = view->verticalScrollBar();
    if (pos.y() < 0)
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() >= view->viewport()->height())
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);

    m_highlight = view->indexAt(pos);
    const QRect rect = m_highlight.isValid() ? view->visualRect(m_highlight) : QRect();
    if (rect.isEmpty()) {
        m_band->hide();
    } else {
        m_band->setGeometry(rect);
        m_band->show();
    }
}

// The drop highlight itself outlives the tracking where a drop leaves it set; the band
// shows it only while the button is down.
void TreeDragDrop::stopTracking()
{
    m_live = false;
    m_tree.view()->viewport()->unsetCursor();
    if (m_band)
        m_band->hide();
}

void TreeDragDrop::clearHighlight()
{
    m_highlight = QPersistentModelIndex();
    if (m_band)
        m_band->hide();
}

void TreeDragDrop::drop(TreeItem* dropItem)
{
    m_highlight = m_tree.model()->indexOf(dropItem);
    if (!dropItem) {
        clearHighlight();
        bDragging = false;
        return;
    }
    bDragging = true;
    TreeItem* source = m_tree.selectedItem();
    if (source == dropItem)
        return;
    try {
        if (!source)
            throw DOMException(DOMError::ObjectNotSet, QStringLiteral("Object variable not set"));
        m_status.set(source->text + QStringLiteral(" dropped on ") + dropItem->text);
        const DOMNode target = dropItem->tag;
        if (!target.isNull() && target.nodeType() == NODE_ELEMENT) {
            // The drop row's branch as it was, so the moved row can join it at the end.
            m_tree.model()->childCount(dropItem);
            m_session.editor()->moveToFirstChild(source->tag, target);
        }
    } catch (const DOMException& e) {
        m_status.set(QStringLiteral("From TreeView_DragDrop: ") + QString::number(e.number()) + QStringLiteral(", ")
                     + e.description() + QLatin1Char(',') + e.source());
        return;
    }
    clearHighlight();
    bDragging = false;
}

} // namespace treelark
