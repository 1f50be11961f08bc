#include "LoadInputGate.h"

#include <QEvent>
#include <QKeyEvent>
#include <QWidget>

namespace treelark {

LoadInputGate::LoadInputGate(QWidget* cancelButton, std::function<void()> onCancel, QObject* parent)
    : QObject(parent), m_cancelButton(cancelButton), m_onCancel(std::move(onCancel))
{
}

bool LoadInputGate::eventFilter(QObject* watched, QEvent* event)
{
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
