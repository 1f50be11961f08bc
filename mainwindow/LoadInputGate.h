// While a document loads, the window stays painted but must not act on input: a click
// or key would reach a tree and a document that are about to be replaced. Everything a
// person does is held back, except what stops the load: Esc, and the Cancel button; and,
// when the tree shows rows found ahead of the document, what browses them.
#pragma once

#include <QObject>
#include <QList>
#include <QPointer>

#include <functional>

class QWidget;

namespace treelark {

class LoadInputGate : public QObject {
public:
    LoadInputGate(QWidget* cancelButton, std::function<void()> onCancel, QObject* parent = nullptr);

    // The view whose rows may be browsed (scrolled, clicked, moved through with the
    // keys) while the load runs; nullptr for none.
    void setBrowsable(QWidget* view) { m_browsable = view; }
    // While a view is browsable, these take all input but drops too (the name box and
    // its button: a search by name reads the rows the view shows).
    void setSearchable(const QList<QWidget*>& widgets);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool browses(QObject* watched, QEvent* event) const;
    QPointer<QWidget> m_cancelButton;
    QPointer<QWidget> m_browsable;
    QList<QPointer<QWidget>> m_searchable;
    std::function<void()> m_onCancel;
};

} // namespace treelark
