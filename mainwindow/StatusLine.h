// The window's status line: one line of text cut to the width, the whole text its tool
// tip. Everything the window reports goes through here.
#pragma once

#include <QString>

class QLabel;
class QStatusBar;

namespace treelark {

class StatusLine {
public:
    explicit StatusLine(QStatusBar* bar);

    void set(const QString& text);
    QString text() const { return m_text; }
    // The width changed: the shown part is cut again.
    void refit();

private:
    QStatusBar* m_bar;
    QLabel* m_label;
    QString m_text;
};

} // namespace treelark
