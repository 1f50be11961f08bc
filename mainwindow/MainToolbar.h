// The toolbar: the six buttons of the window (browse, load, save, merge, next, print),
// Undo and Redo after them, the layer builder for clipboard text, each with its key, and
// the validation switch at the right end. Buttons that would change a document that cannot be changed are disabled and
// say why; Undo and Redo name the step they would take.
#pragma once

#include <QObject>

#include <functional>

class QAction;
class QGroupBox;
class QMainWindow;
class QRadioButton;
class QToolBar;

namespace treelark {

class DocumentSession;

class MainToolbar : public QObject {
    Q_OBJECT
public:
    // `clicked` runs a button's action by its key.
    MainToolbar(QMainWindow* window, std::function<void(const QString&)> clicked);

    QToolBar* bar() const { return m_bar; }
    QAction* button(const QString& key) const;
    QGroupBox* validationFrame() const { return m_frame; }
    QRadioButton* on() const { return m_on; }
    QRadioButton* off() const { return m_off; }
    bool validation() const;

    // The buttons as `session` allows them now.
    void follow(const DocumentSession& session);

private:
    void addValidateAgainst(QMainWindow* window);
    void add(const QString& caption, const QString& key, const QString& tip, const QIcon& icon,
             const QList<QKeySequence>& keys);

    QToolBar* m_bar;
    QGroupBox* m_frame = nullptr;
    QRadioButton* m_on = nullptr;
    QRadioButton* m_off = nullptr;
    QList<QAction*> m_buttons;
    std::function<void(const QString&)> m_clicked;
};

} // namespace treelark
