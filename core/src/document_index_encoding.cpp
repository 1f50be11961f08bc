// Files in a single-byte encoding in large document form: which encodings keep every
// byte one character and ASCII as ASCII (so the parser's offsets can be mapped back to
// the file's), and what reads from such a file decode its bytes to.
#include "document_index_internal.h"

#include <libxml/parser.h>

#include <QRegularExpression>

#include <iconv.h>

namespace treelark::detail {

namespace {

// Encodings other than these may pass the byte-by-byte test below and still not be one
// character a byte (a multi-byte encoding whose lead bytes convert to nothing alone).
bool namedSingleByte(const QByteArray& encoding)
{
    static const QRegularExpression known(
        QStringLiteral("^(ISO[-_]?8859[-_]([1-9]|1[0-6])(:1987)?|LATIN-?[1-9]|L[1-9]|(WINDOWS|CP)-?125[0-8]|(US-)?ASCII)$"),
        QRegularExpression::CaseInsensitiveOption);
    return known.match(QString::fromLatin1(encoding)).hasMatch();
}

std::size_t leadBytes(const unsigned char* from, const unsigned char* to)
{
    std::size_t n = 0;
    for (; from < to; ++from)
        n += (*from & 0xC0) != 0x80;
    return n;
}

} // namespace

bool singleByteDecoding(const QByteArray& encoding, std::vector<char16_t>* table)
{
    if (!namedSingleByte(encoding))
        return false;
    // The converter the parser uses for these (libxml2's own for Latin-1 agrees with it),
    // asked byte by byte; it stays quiet about the bytes an encoding leaves undefined.
    const iconv_t cd = ::iconv_open("UTF-16LE", encoding.constData());
    if (cd == iconv_t(-1))
        return false;
    std::vector<char16_t> out(256, u'\uFFFD');
    bool ok = true;
    for (int b = 0; b < 256 && ok; ++b) {
        char in = char(b);
        char16_t c[2] = {0, 0};
        char* from = &in;
        char* to = reinterpret_cast<char*>(c);
        std::size_t inLeft = 1, outLeft = sizeof c;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool one = ::iconv(cd, &from, &inLeft, &to, &outLeft) != std::size_t(-1) && inLeft == 0
            && outLeft == sizeof c - 2 && !QChar::isSurrogate(c[0]);
        if (one)
            out[b] = c[0];
        // ASCII must stay itself: tags, references and offsets are read as ASCII.
        ok = b >= 0x80 || out[b] == char16_t(b);
    }
    ::iconv_close(cd);
    if (ok && table)
        *table = std::move(out);
    return ok;
}

QByteArray DocumentIndexData::utf8(const QByteArray& raw) const
{
    if (decoding.empty())
        return raw;
    QString s(raw.size(), Qt::Uninitialized);
    char16_t* to = reinterpret_cast<char16_t*>(s.data());
    for (const char c : raw)
        *to++ = decoding[static_cast<unsigned char>(c)];
    return s.toUtf8();
}

qint64 DecodedOffsets::fileOffset(const ::_xmlParserInput* in, const unsigned char* p)
{
    const qint64 base = qint64(in->consumed);
    const qint64 here = base + (p - in->base);
    if (m_decoded >= base && m_decoded <= here)
        m_file += qint64(leadBytes(in->base + (m_decoded - base), p));
    else // everything converted so far, less what is still ahead in the buffer
        m_file = qint64(in->buf->rawconsumed) - qint64(leadBytes(p, in->end));
    m_decoded = here;
    return m_file;
}

} // namespace treelark::detail
