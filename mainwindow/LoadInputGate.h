// While a document loads, the window stays painted but must not act on input: a click
// or key would reach a tree and a document that are about to be replaced. Everything a
// person does is held back, except what stops the load: Esc, and the Cancel button.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

namespace treelark {

class LoadInputGate : public QObject {
public:
    LoadInputGate(QWidget* cancelButton, std::function<void()> onCancel, QObject* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_cancelButton;
    std::function<void()> m_onCancel;
};

} // namespace treelark
