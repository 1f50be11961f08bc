#include "TextFindBar.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace treelark {

TextFindBar::TextFindBar(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->setSpacing(2);
    m_edit = new QLineEdit(this);
    m_edit->setPlaceholderText(tr("Find"));
    m_edit->installEventFilter(this);
    m_note = new QLabel(this);
    auto button = [this, row](const QString& text, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setToolTip(tip);
        b->setAutoRaise(true);
        row->addWidget(b);
        return b;
    };
    row->addWidget(m_edit, 1);
    row->addWidget(m_note);
    QToolButton* previous = button(QStringLiteral("\u25B2"), tr("Previous (Shift+Enter)"));
    QToolButton* next = button(QStringLiteral("\u25BC"), tr("Next (Enter)"));
    QToolButton* close = button(QStringLiteral("\u2715"), tr("Close (Esc)"));
    connect(previous, &QToolButton::clicked, this, [this] { search(true); });
    connect(next, &QToolButton::clicked, this, [this] { search(false); });
    connect(close, &QToolButton::clicked, this, [this] {
        hide();
        emit closed();
    });
    connect(m_edit, &QLineEdit::textEdited, this, [this] { m_note->clear(); });
}

void TextFindBar::open()
{
    show();
    raise();
    m_edit->setFocus(Qt::ShortcutFocusReason);
    m_edit->selectAll();
}

void TextFindBar::setSearchText(const QString& text) { m_edit->setText(text); }

QString TextFindBar::searchText() const { return m_edit->text(); }

void TextFindBar::search(bool backwards)
{
    if (m_edit->text().isEmpty()) {
        open();
        return;
    }
    emit searchRequested(m_edit->text(), backwards);
}

void TextFindBar::setOutcome(bool found, bool wrapped)
{
    m_note->setText(!found ? tr("Not found") : wrapped ? tr("Wrapped") : QString());
}

QString TextFindBar::outcome() const { return m_note->text(); }

bool TextFindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            search(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            hide();
            emit closed();
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace treelark
