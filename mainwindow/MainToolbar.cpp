#include "MainToolbar.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"

#include <QAction>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMainWindow>
#include <QMenu>
#include <QToolButton>
#include <QRadioButton>
#include <QStyle>
#include <QToolBar>

namespace treelark {

MainToolbar::MainToolbar(QMainWindow* window, std::function<void(const QString&)> clicked)
    : QObject(window), m_bar(new QToolBar(QStringLiteral("Toolbar1"), window)), m_clicked(std::move(clicked))
{
    m_bar->setObjectName(QStringLiteral("Toolbar1"));
    m_bar->setMovable(false);
    m_bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    auto icon = [window](const char* theme, QStyle::StandardPixmap fallback) {
        return QIcon::fromTheme(QLatin1String(theme), window->style()->standardIcon(fallback));
    };
    using K = QKeySequence;
    add("Browse", "browse", "Open file (Ctrl+O)", icon("document-open", QStyle::SP_DialogOpenButton),
        {K(Qt::CTRL | Qt::Key_O)});
    add("Load", "load", "Load (F5)", icon("view-refresh", QStyle::SP_BrowserReload), {K(Qt::Key_F5)});
    add("Save", "save", "Save (Ctrl+S)", icon("document-save", QStyle::SP_DialogSaveButton), {K(Qt::CTRL | Qt::Key_S)});
    add("Merge", "merge", "Merge", icon("document-import", QStyle::SP_FileDialogDetailedView), {});
    add("Next", "next", "Next (F3)", icon("go-next", QStyle::SP_ArrowForward), {K(Qt::Key_F3)});
    add("Print", "print", "PrintScreen", icon("document-print", QStyle::SP_FileDialogContentsView), {});
    // A text box keeps Ctrl+Z for its own typing while it has the focus; everywhere else
    // the keys go to the document's history.
    add("Undo", "undo", "Undo (Ctrl+Z)", icon("edit-undo", QStyle::SP_ArrowBack), {K(Qt::CTRL | Qt::Key_Z)});
    add("Redo", "redo", "Redo (Ctrl+Shift+Z)", icon("edit-redo", QStyle::SP_ArrowForward),
        {K(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), K(Qt::CTRL | Qt::Key_Y)});
    add("Validate", "validate", "Validate against the document's DTD or schema (F7)",
        icon("tools-check-spelling", QStyle::SP_DialogApplyButton), {K(Qt::Key_F7)});
    addValidateAgainst(window);
    add("Layer text", "layertext",
        "Layer text for the clipboard: build ApLayer sections as text to paste elsewhere (Ctrl+L); the document "
        "is not changed",
        icon("edit-copy", QStyle::SP_FileDialogNewFolder), {K(Qt::CTRL | Qt::Key_L)});

    // the validation switch sits at the toolbar's right end
    auto* spacer = new QWidget(m_bar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    m_bar->addWidget(spacer);
    m_frame = new QGroupBox(QStringLiteral("Validation"), m_bar);
    m_frame->setObjectName(QStringLiteral("Frame2"));
    auto* row = new QHBoxLayout(m_frame);
    row->setContentsMargins(6, 2, 6, 2);
    m_on = new QRadioButton(QStringLiteral("On"), m_frame);
    m_on->setObjectName(QStringLiteral("optOn"));
    m_off = new QRadioButton(QStringLiteral("Off"), m_frame);
    m_off->setObjectName(QStringLiteral("optOff"));
    row->addWidget(m_on);
    row->addWidget(m_off);
    m_bar->addWidget(m_frame);
    window->addToolBar(Qt::TopToolBarArea, m_bar);
}

void MainToolbar::add(const QString& caption, const QString& key, const QString& tip, const QIcon& icon,
                      const QList<QKeySequence>& keys)
{
    QAction* a = m_bar->addAction(icon, caption);
    a->setObjectName(key);
    a->setData(key);
    a->setToolTip(tip);
    a->setProperty("tip", tip);
    a->setShortcuts(keys);
    a->setShortcutContext(Qt::WindowShortcut);
    connect(a, &QAction::triggered, this, [this, key] { m_clicked(key); });
    m_buttons.append(a);
}

void MainToolbar::addValidateAgainst(QMainWindow* window)
{
    // Under Validate's arrow, and on its own key, so the button row stays short.
    auto* menu = new QMenu(m_bar);
    QAction* a = menu->addAction(QStringLiteral("Validate against…"));
    a->setObjectName(QStringLiteral("validateagainst"));
    a->setData(QStringLiteral("validateagainst"));
    a->setToolTip(QStringLiteral("Choose an XML Schema or RELAX NG file and validate against it (Ctrl+F7)"));
    a->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F7));
    a->setShortcutContext(Qt::WindowShortcut);
    window->addAction(a);
    connect(a, &QAction::triggered, this, [this] { m_clicked(QStringLiteral("validateagainst")); });
    m_buttons.append(a);
    QAction* validate = button(QStringLiteral("validate"));
    validate->setMenu(menu);
    if (auto* tool = qobject_cast<QToolButton*>(m_bar->widgetForAction(validate)))
        tool->setPopupMode(QToolButton::MenuButtonPopup);
}

QAction* MainToolbar::button(const QString& key) const
{
    for (QAction* a : m_buttons)
        if (a->data().toString() == key)
            return a;
    return nullptr;
}

bool MainToolbar::validation() const { return m_on->isChecked(); }

void MainToolbar::follow(const DocumentSession& session)
{
    const bool readOnly = session.isReadOnly();
    const DocumentEditor* editor = session.editor();
    auto set = [&](const char* key, bool enabled, const QString& tip) {
        QAction* a = button(QLatin1String(key));
        a->setEnabled(enabled && !readOnly);
        a->setToolTip(readOnly ? session.readOnlyTip() : tip);
    };
    set("save", true, button(QStringLiteral("save"))->property("tip").toString());
    set("merge", true, button(QStringLiteral("merge"))->property("tip").toString());
    set("undo", editor->canUndo(),
        editor->canUndo() ? QStringLiteral("Undo ") + editor->undoText() + QStringLiteral(" (Ctrl+Z)")
                          : QStringLiteral("Undo (Ctrl+Z)"));
    set("redo", editor->canRedo(),
        editor->canRedo() ? QStringLiteral("Redo ") + editor->redoText() + QStringLiteral(" (Ctrl+Shift+Z)")
                          : QStringLiteral("Redo (Ctrl+Shift+Z)"));
}

} // namespace treelark
