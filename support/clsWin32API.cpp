#include "clsWin32API.h"

#include <QAbstractItemView>
#include <QTreeView>
#include <QWidget>

namespace treelark {

int clsWin32API::SetTopMost(QWidget* window, int value)
{
    if (!window || value != -1)
        return 0;
    const bool visible = window->isVisible();
    const QRect geometry = window->geometry();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (visible) {
        // changing a window flag hides the window; put it back where it was
        window->setGeometry(geometry);
        window->show();
    }
    return 1;
}

int clsWin32API::SetListViewExtendedAttrib(QAbstractItemView* list, int style)
{
    if (!list)
        return 0;
    if (style & 32)
        list->setSelectionBehavior(QAbstractItemView::SelectRows);
    if (style & 64)
        list->setEditTriggers(list->editTriggers() | QAbstractItemView::SelectedClicked);
    if (auto* tree = qobject_cast<QTreeView*>(list); tree && (style & 1))
        tree->setStyleSheet(QStringLiteral("QTreeView::item { border-bottom: 1px solid palette(mid); "
                                           "border-right: 1px solid palette(mid); }"
                                           // a styled item paints no selection of its own
                                           "QTreeView::item:selected { background: palette(highlight); "
                                           "color: palette(highlighted-text); }"));
    return 0;
}

} // namespace treelark
