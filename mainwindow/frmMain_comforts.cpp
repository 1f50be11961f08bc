// What every desktop editor offers beside the window's own commands: keys for the
// toolbar's actions, the documents loaded last as completions in the name box.
#include "frmMain.h"

#include "treelark/Prompts.h"

#include <QAction>
#include <QCompleter>
#include <QLineEdit>
#include <QStringListModel>
#include <QToolBar>

namespace treelark {

namespace {

constexpr int kRecentDocuments = 10;
// Kept next to "LastURL", one address a line.
const QString kRecentSection = QStringLiteral("RecentDocuments");
const QString kRecentKey = QStringLiteral("Documents");

} // namespace

void frmMain::installComforts()
{
    struct Key {
        const char* button; // toolbar key, or "" for the name box
        QKeySequence keys;
        const char* shown;
    };
    const Key keys[] = {
        {"browse", QKeySequence(Qt::CTRL | Qt::Key_O), "Ctrl+O"},
        {"load", QKeySequence(Qt::Key_F5), "F5"},
        {"save", QKeySequence(Qt::CTRL | Qt::Key_S), "Ctrl+S"},
        {"next", QKeySequence(Qt::Key_F3), "F3"},
    };
    for (const Key& k : keys) {
        QAction* a = toolbarButton(QLatin1String(k.button));
        if (!a)
            continue;
        a->setShortcut(k.keys);
        a->setShortcutContext(Qt::WindowShortcut);
        a->setToolTip(a->toolTip() + QStringLiteral(" (") + QLatin1String(k.shown) + QLatin1Char(')'));
    }
    auto* find = new QAction(this);
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(find, &QAction::triggered, this, [this] {
        txtNodeName->setFocus(Qt::ShortcutFocusReason);
        txtNodeName->selectAll();
    });
    addAction(find);
    // Closing goes through the close prompt like the window's frame.
    auto* quit = new QAction(this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    addAction(quit);

    auto* completer = new QCompleter(new QStringListModel(recentDocuments(), this), this);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    txtNodeName->setCompleter(completer);
}

QStringList frmMain::recentDocuments() const
{
    const QString stored = prompts().setting(kRecentSection, kRecentKey, QString());
    return stored.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void frmMain::rememberRecent(const QString& url)
{
    if (url.trimmed().isEmpty())
        return;
    QStringList recent = recentDocuments();
    recent.removeAll(url);
    recent.prepend(url);
    while (recent.size() > kRecentDocuments)
        recent.removeLast();
    prompts().setSetting(kRecentSection, kRecentKey, recent.join(QLatin1Char('\n')));
    if (QCompleter* c = txtNodeName->completer())
        if (auto* model = qobject_cast<QStringListModel*>(c->model()))
            model->setStringList(recent);
}

// An element name holds none of "[", "@", "::", nor starts with "(" or ".": text that
// does is an XPath expression. A path of plain names ("/a/b", "//a") keeps the name
// search's own meaning (a path found anywhere), which a user of the name box relies on;
// one starting with "/" that holds anything else (a function, "*", "|") is XPath.
bool frmMain::isXPathQuery(const QString& text)
{
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('(')) || t.startsWith(QLatin1Char('.')) || t.contains(QLatin1Char('['))
        || t.contains(QLatin1Char('@')) || t.contains(QLatin1String("::")))
        return true;
    if (!t.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : t)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('/') || c == QLatin1Char('_') || c == QLatin1Char('-')
              || c == QLatin1Char(':') || c == QLatin1Char('.')))
            return true;
    return false;
}

} // namespace treelark
