#include "LoadInputGate.h"

#include <QEvent>
#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWidget>

namespace treelark {

LoadInputGate::LoadInputGate(QWidget* cancelButton, std::function<void()> onCancel, QObject* parent)
    : QObject(parent), m_cancelButton(cancelButton), m_onCancel(std::move(onCancel))
{
}

void LoadInputGate::setSearchable(const QList<QWidget*>& widgets)
{
    m_searchable.clear();
    for (QWidget* w : widgets) {
        m_searchable.append(w);
        // A box's completions come in a window of their own. Asked for here, not while
        // filtering: the list is made on first asking, and making it sends events.
        if (auto* box = qobject_cast<QLineEdit*>(w); box && box->completer())
            m_searchable.append(box->completer()->popup());
    }
}

bool LoadInputGate::browses(QObject* watched, QEvent* event) const
{
    if (!m_browsable)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    const QEvent::Type type = event->type();
    if (!widget && watched->isWindowType()) {
        // Input reaches the window first: keys go on to the focus widget, the wheel to
        // the widget under the pointer, where each is judged again.
        if (type == QEvent::Wheel)
            return true;
        if (type == QEvent::KeyPress || type == QEvent::KeyRelease)
            widget = QApplication::focusWidget();
    }
    if (!widget)
        return false;
    // Shortcuts stay held everywhere (the window's commands); a box gets its own editing
    // keys as key presses all the same.
    if (type == QEvent::ShortcutOverride || type == QEvent::Shortcut)
        return false;
    const auto within = [widget](const QWidget* w) { return w && (w == widget || w->isAncestorOf(widget)); };
    for (const QPointer<QWidget>& w : m_searchable) {
        if (within(w))
            return type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop;
    }
    if (!within(m_browsable))
        return false;
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        // Keys that move and open; none that would act on a row.
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_Left: case Qt::Key_Right:
        case Qt::Key_PageUp: case Qt::Key_PageDown: case Qt::Key_Home: case Qt::Key_End:
        case Qt::Key_Plus: case Qt::Key_Minus: case Qt::Key_Asterisk:
            return static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier
                || static_cast<QKeyEvent*>(event)->modifiers() == Qt::KeypadModifier;
        default:
            return false;
        }
    case QEvent::Wheel:
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        // The left button selects and opens; the right one would bring up the commands.
        return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    case QEvent::MouseMove:
        // No drags: a row moved is an edit.
        return static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton;
    default:
        return false;
    }
}

bool LoadInputGate::eventFilter(QObject* watched, QEvent* event)
{
    if (browses(watched, event))
        return false;
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Accepted, so no shortcut fires; the key then comes as a key press.
        event->accept();
        return true;
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && m_onCancel)
            m_onCancel();
        return true;
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        // A window hands the press on to the widget under the pointer, where it is judged.
        if (watched->isWindowType())
            return false;
        return watched != m_cancelButton.data();
    default:
        return false;
    }
}

} // namespace treelark
