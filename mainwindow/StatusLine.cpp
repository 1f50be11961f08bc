#include "StatusLine.h"

#include <QLabel>
#include <QStatusBar>

#include <algorithm>

namespace treelark {

StatusLine::StatusLine(QStatusBar* bar) : m_bar(bar), m_label(new QLabel(bar))
{
    m_label->setObjectName(QStringLiteral("StatusText"));
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Node texts can look like markup: they are shown as they are.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setMinimumWidth(1);
    m_label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(m_label, 1);
}

void StatusLine::set(const QString& text)
{
    m_text = text;
    m_label->setToolTip(text.size() > 4000 ? text.left(4000) + QChar(0x2026) : text);
    // The line may be cut to the width; a screen reader gets the whole message.
    m_label->setAccessibleName(text.left(100000));
    refit();
}

void StatusLine::refit()
{
    QString line = m_text.left(2000);
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    const int width = std::max(40, m_bar->width() - 24);
    m_label->setText(m_label->fontMetrics().elidedText(line, Qt::ElideRight, width));
}

} // namespace treelark
