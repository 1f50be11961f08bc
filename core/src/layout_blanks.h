// Which blanks a document's loading keeps as layout rather than text (see dom_load.cpp):
// libxml2's own judgement (areBlanks), made again by passes over a file that build no
// tree, from what the open element has held so far and what follows the blanks.
#pragma once

#include <libxml/parser.h>
#include <libxml/valid.h>

#include <cstdint>

namespace treelark::detail {

// What an open element has held so far.
enum HeldMark : std::uint8_t { kHeldChild = 1, kHeldLastText = 2, kHeldFirstText = 4 };

inline std::uint8_t heldAfterChild(std::uint8_t held, bool text)
{
    if (text && !(held & kHeldChild))
        held |= kHeldFirstText;
    held |= kHeldChild | kHeldLastText;
    return text ? held : std::uint8_t(held & ~kHeldLastText);
}

inline bool blanksAreLayout(xmlParserCtxtPtr c, std::uint8_t held, const xmlChar* ch, int len)
{
    if (!c->space || *c->space == 1 || *c->space == -2) // xml:space="preserve"
        return false;
    if (c->myDoc && c->name) {
        const int mixed = xmlIsMixedElement(c->myDoc, c->name);
        if (mixed == 0 || mixed == 1)
            return mixed == 0;
    }
    // What follows the text: right after it when it is handed over from the input (the
    // parser moves on only afterwards), where the parser is when it comes from a copy.
    xmlParserInputPtr in = c->input;
    const xmlChar* next = ch >= in->base && ch + len <= in->end ? ch + len : in->cur;
    if (next[0] != '<' && next[0] != 0xD)
        return false;
    if (!(held & kHeldChild) && next[0] == '<' && next[1] == '/')
        return false;
    return !(held & (kHeldLastText | kHeldFirstText));
}

// Blanks running across lines that the judgement takes for layout: the loading keeps them
// as formatting, shown nowhere. On one line they are words' space, text like any other.
inline bool isLayout(xmlParserCtxtPtr c, std::uint8_t held, const xmlChar* ch, int len)
{
    bool lineBreak = false;
    for (int i = 0; i < len; ++i) {
        if (ch[i] != ' ' && ch[i] != '\n' && ch[i] != '\t' && ch[i] != '\r')
            return false;
        lineBreak = lineBreak || ch[i] == '\n' || ch[i] == '\r';
    }
    return lineBreak && blanksAreLayout(c, held, ch, len);
}

} // namespace treelark::detail
