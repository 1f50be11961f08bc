// A plain-text box that takes from a paste or a drop only what carries text. Handing Qt's
// text control data without text (an empty clipboard, as after a reboot) can bring the
// whole program down with it, and the user's unsaved work too.
#pragma once

#include <QTextEdit>

namespace treelark {

class TextPane : public QTextEdit {
public:
    explicit TextPane(QWidget* parent = nullptr);

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
};

} // namespace treelark
