// Dragging: moving a node under another element in the tree, and files dropped on the
// name box.
#include "frmMain.h"

#include "DroppedFiles.h"


#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPalette>
#include <QRubberBand>
#include <QScrollBar>
#include <QTreeView>
#include <QUrl>

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

// --- the name box ---

void frmMain::setNameBoxGreen(bool green)
{
    QPalette p = txtNodeName->palette();
    p.setColor(QPalette::Base, green ? QColor(0, 255, 0) : QApplication::palette(txtNodeName).color(QPalette::Base));
    txtNodeName->setPalette(p);
}

bool frmMain::nameBoxDragEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // Only file lists are taken; other drags (text) are refused, so the box neither
        // turns green for them nor inserts what they carry.
        auto* e = static_cast<QDropEvent*>(event);
        if (localFiles(e->mimeData()).isEmpty()) {
            e->ignore();
            return true;
        }
        e->acceptProposedAction();
        setNameBoxGreen(true);
        return true;
    }
    case QEvent::DragLeave:
        setNameBoxGreen(false);
        return true;
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        setNameBoxGreen(false);
        const QStringList paths = localFiles(e->mimeData());
        if (paths.isEmpty()) {
            e->ignore();
            return true;
        }
        e->acceptProposedAction();
        txtNodeName_DropFiles(paths);
        return true;
    }
    default:
        return false;
    }
}

void frmMain::txtNodeName_DropFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    const QString path = paths.first();
    // ".INI" is left to the information pane, which shows it as text.
    static const QStringList endings{".XML", ".TXT", ".XSL", "HTML", ".HTM", ".ASC"};
    if (!hasAcceptedEnding(path, endings))
        return;
    txtNodeName->setText(path);
    sURL = txtNodeName->text();
    if (loadDocument(oXMLMgr, sURL) == 0)
        setWindowTitleForLoad();
}

// --- the tree ---
//
// The tree drag is the window's own mouse tracking, not a data-transfer drag: it starts
// on a move with exactly the left button and Shift, follows the pointer with a drop
// highlight, and drops where the button is released. The highlight is a band drawn over
// the row, so the selection (the dragged item) keeps its own look.

bool frmMain::treeDragEvent(QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
        return false; // data-transfer drags are not the tree's
    auto* me = static_cast<QMouseEvent*>(event);
    const QPoint pos = me->position().toPoint();

    if (type == QEvent::MouseButtonRelease) {
        if (!m_treeDragLive || me->button() != Qt::LeftButton)
            return false;
        treeDragOver(pos);
        stopTreeDragTracking();
        treeDrop(m_model->itemFromIndex(m_dropHighlight));
        return true;
    }

    if (m_treeDragLive) {
        if (!(me->buttons() & Qt::LeftButton)) {
            // The release went elsewhere: nothing is dropped.
            stopTreeDragTracking();
            clearDropHighlight();
            bDragging = false;
            return false;
        }
        treeDragOver(pos);
        return true;
    }
    if (me->buttons() == Qt::LeftButton && me->modifiers() == Qt::ShiftModifier) {
        startTreeDrag(pos);
        return true;
    }
    return false;
}

void frmMain::startTreeDrag(const QPoint& pos)
{
    QWidget* viewport = TreeView1->viewport();
    if (!m_treeDragHook) {
        // The window's own filter takes a left release for a click; during a drag it is
        // the drop, so it is caught first. Other presses would move the selection, which
        // is the dragged item.
        m_treeDragHook = std::make_unique<EventHook>([this](QEvent* e) {
            if (!m_treeDragLive)
                return false;
            switch (e->type()) {
            case QEvent::MouseButtonRelease:
                return treeDragEvent(e);
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                auto* me = static_cast<QMouseEvent*>(e);
                if ((me->buttons() & Qt::LeftButton) && me->button() != Qt::LeftButton)
                    return true;
                // A fresh left press: the drag's release was lost.
                stopTreeDragTracking();
                clearDropHighlight();
                bDragging = false;
                return false;
            }
            default:
                return false;
            }
        });
        viewport->installEventFilter(m_treeDragHook.get());
        auto* band = new QRubberBand(QRubberBand::Rectangle, viewport);
        band->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_dropBand = band;
    }

    bDragging = true;
    m_treeDragLive = true;
    if (TreeItem* item = selectedItem()) {
        // The item's own picture rides on the pointer.
        const QRect rect = TreeView1->visualRect(m_model->indexOf(item)).intersected(viewport->rect());
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
    treeDragOver(pos);
}

void frmMain::treeDragOver(const QPoint& pos)
{
    if (!bDragging)
        return;
    // Past the top or bottom edge the tree scrolls a row per move.
    QScrollBar* bar = TreeView1->verticalScrollBar();
    if (pos.y() < 0)
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
    else if (pos.y() >= TreeView1->viewport()->height())
        bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);

    m_dropHighlight = TreeView1->indexAt(pos);
    const QRect rect = m_dropHighlight.isValid() ? TreeView1->visualRect(m_dropHighlight) : QRect();
    if (rect.isEmpty()) {
        m_dropBand->hide();
    } else {
        m_dropBand->setGeometry(rect);
        m_dropBand->show();
    }
}

// The drop highlight item itself outlives the tracking where a drop leaves it set; the
// band shows it only while the button is down.
void frmMain::stopTreeDragTracking()
{
    m_treeDragLive = false;
    TreeView1->viewport()->unsetCursor();
    if (m_dropBand)
        m_dropBand->hide();
}

void frmMain::clearDropHighlight()
{
    m_dropHighlight = QPersistentModelIndex();
    if (m_dropBand)
        m_dropBand->hide();
}

void frmMain::treeDrop(TreeItem* dropItem)
{
    m_dropHighlight = m_model->indexOf(dropItem);
    if (!dropItem) {
        clearDropHighlight();
        bDragging = false;
        return;
    }
    bDragging = true;
    TreeItem* source = selectedItem();
    if (source == dropItem)
        return;
    try {
        if (!source)
            throw DOMException(DOMError::ObjectNotSet, QStringLiteral("Object variable not set"));
        SetMsg(source->text + QStringLiteral(" dropped on ") + dropItem->text);
        const DOMNode sourceNode = source->tag;
        DOMNode target = dropItem->tag;
        if (target.nodeType() == NODE_ELEMENT) {
            m_editor->setModified(true);
            // The drop item's branch as it was, so the moved item can join it at the end.
            m_model->childCount(dropItem);
            m_editor->moveToFirstChild(sourceNode, target);
        }
    } catch (const DOMException& e) {
        SetMsg(QStringLiteral("From TreeView_DragDrop: ") + QString::number(e.number()) + QStringLiteral(", ")
               + e.description() + QLatin1Char(',') + e.source());
        return;
    } catch (const std::exception& e) {
        SetMsg(QStringLiteral("From TreeView_DragDrop: 0, ") + QString::fromUtf8(e.what()) + QLatin1Char(','));
        return;
    }
    clearDropHighlight();
    bDragging = false;
}

} // namespace treelark
