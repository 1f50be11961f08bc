#include "modUtils.h"

#include <QAction>
#include <QPointer>
#include <QWidget>

namespace treelark {

namespace {

QList<QPointer<QWidget>>& forms()
{
    static QList<QPointer<QWidget>> list;
    return list;
}

} // namespace

void registerForm(QWidget* form)
{
    if (form && !loadedForms().contains(form))
        forms().append(form);
}

QList<QWidget*> loadedForms()
{
    QList<QWidget*> out;
    forms().removeIf([](const QPointer<QWidget>& p) { return p.isNull(); });
    for (const QPointer<QWidget>& p : forms())
        out.append(p.data());
    return out;
}

bool UnloadAllForms(QWidget* keep)
{
    const QList<QWidget*> loaded = loadedForms();
    if (loaded.size() <= 1)
        return false;
    bool closed = false;
    for (auto it = loaded.crbegin(); it != loaded.crend(); ++it) {
        QWidget* form = *it;
        if (form == keep)
            continue;
        form->close();
        form->deleteLater();
        forms().removeAll(form);
        closed = true;
    }
    return closed;
}

QAction* FindMenuByCaption(const QList<QAction*>& entries, const QString& caption)
{
    for (QAction* a : entries)
        if (a && a->text() == caption)
            return a;
    return nullptr;
}

} // namespace treelark
