// The attribute editor's input that is not a button: the mouse in the list, and the
// keys that let the window be used without a mouse at all.
#include "frmView.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>

namespace treelark {

bool frmView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lvwInfo->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto* e = static_cast<QMouseEvent*>(event);
            lvwInfo_MouseDown(e->button(), lvwInfo->viewport()->mapTo(lvwInfo, e->position().toPoint()),
                              e->globalPosition().toPoint());
            return true;
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            lvwInfo_DblClick();
            return true;
        }
    } else if (watched == lvwInfo) {
        if (event->type() == QEvent::FocusIn && txtEditor->isVisible())
            txtEditor_Commit();
        if (event->type() == QEvent::KeyPress && listKeyPressed(static_cast<QKeyEvent*>(event)))
            return true;
        if (event->type() == QEvent::ContextMenu
            && static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
            popupAtCurrentRow();
            return true;
        }
    } else if (watched == txtEditor) {
        if (event->type() == QEvent::FocusOut && txtEditor->isVisible())
            txtEditor_Commit();
        if (event->type() == QEvent::KeyPress) {
            // The in-place editor handles Enter alone; no key of its own reaches the window,
            // so Enter there never also means OK, nor Escape CANCEL.
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                txtEditor_Commit();
                lvwInfo->setFocus();
                return true;
            }
            if (key == Qt::Key_Escape)
                return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool frmView::listKeyPressed(QKeyEvent* event)
{
    QTreeWidgetItem* row = lvwInfo->currentItem();
    switch (event->key()) {
    case Qt::Key_F2:
        if (row) {
            row->setSelected(true);
            lvwInfo_DblClick();
        }
        return true;
    case Qt::Key_Delete:
        if (row) {
            oItemSelected = row;
            mnuCommands_Click(QStringLiteral("Delete"));
        }
        return true;
    case Qt::Key_Menu:
        popupAtCurrentRow();
        return true;
    case Qt::Key_F10:
        if (event->modifiers() == Qt::ShiftModifier) {
            popupAtCurrentRow();
            return true;
        }
        return false;
    default:
        return false;
    }
}

void frmView::popupAtCurrentRow()
{
    // Where a right-click on the row's name would be; the top of an empty list.
    QTreeWidgetItem* row = lvwInfo->currentItem();
    const QRect cell = row ? lvwInfo->visualItemRect(row) : QRect(0, 0, 1, 1);
    const QPoint listPos = lvwInfo->viewport()->mapTo(lvwInfo, QPoint(cell.left() + 4, cell.center().y()));
    lvwInfo_MouseDown(Qt::RightButton, listPos, lvwInfo->mapToGlobal(listPos));
}

void frmView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (focusWidget() == cmdCancel)
            cmdCancel_Click();
        else
            cmdClose_Click();
        return;
    case Qt::Key_Escape:
        cmdCancel_Click();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace treelark
