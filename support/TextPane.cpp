#include "TextPane.h"

#include <QMimeData>

namespace treelark {

TextPane::TextPane(QWidget* parent) : QTextEdit(parent) { setAcceptRichText(false); }

bool TextPane::canInsertFromMimeData(const QMimeData* source) const { return source && source->hasText(); }

void TextPane::insertFromMimeData(const QMimeData* source)
{
    if (source && source->hasText())
        QTextEdit::insertFromMimeData(source);
}

} // namespace treelark
