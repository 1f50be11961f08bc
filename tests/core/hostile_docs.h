// Hostile documents, made on the fly (nothing large lives in the repository), and the
// yardstick every load of one is held to: a clear error or a usable document, within
// 200 MB (times are printed, not judged).
//
// Memory is read from /proc/self/status around the load. Before each load the kernel's
// high-water mark is reset (writing 5 to /proc/self/clear_refs), so the peak after the
// load minus the resident size before it is what that one load cost at its worst, even
// when the memory was given back before the load returned. Where the reset is refused
// the mark is not lowered, and the figure can only come out too high, never too low.
// Free heap pages go back to the system first, so a load cannot hide its cost in memory
// an earlier case left resident.
// In-process measuring keeps every case in the same binary as its assertions; a child
// process per case would cost a start-up each and hide nothing more.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QString>
#include <QStringEncoder>
#include <QStringList>

#include <algorithm>
#include <malloc.h>
#include <cstdio>
#include <functional>

namespace hostile {

// The memory limit holds for the optimised build. Under AddressSanitizer (an unoptimised
// build whose allocator copies on every realloc and keeps freed blocks in quarantine) the
// same cases run with five times the room. Times are printed, never judged: a slow
// machine must not fail a build, and a runaway shows in memory or in the test timeout.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kSlack = 5;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr qint64 kSlack = 5;
#else
constexpr qint64 kSlack = 1;
#endif
#else
constexpr qint64 kSlack = 1;
#endif
constexpr qint64 kMaxMegabytes = 200 * kSlack;

inline qint64 statusKb(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray k = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(k))
            return line.mid(k.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

inline bool resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

struct Cost {
    qint64 millis = 0;
    qint64 peakMegabytes = 0; // peak resident growth during the call
};

inline Cost measure(const QString& label, const std::function<void()>& work)
{
    malloc_trim(0);
    resetPeak();
    const qint64 before = statusKb("VmRSS");
    QElapsedTimer t;
    t.start();
    work();
    Cost c;
    c.millis = t.elapsed();
    c.peakMegabytes = std::max<qint64>(0, statusKb("VmHWM") - before) / 1024;
    std::printf("[hostile] %-40s %6lld ms %5lld MB\n", qPrintable(label), static_cast<long long>(c.millis),
                static_cast<long long>(c.peakMegabytes));
    return c;
}

// ---- the documents ----

// `tail` closes the internal subset and sets the bomb off; the default does it in content.
inline QByteArray billionLaughs(const QByteArray& tail = "]><l>&a10;</l>")
{
    QByteArray d = "<!DOCTYPE l [<!ENTITY a0 'lol'>";
    for (int i = 1; i <= 10; ++i)
        d += "<!ENTITY a" + QByteArray::number(i) + " '" + ("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "'>";
    return d + tail;
}

inline QByteArray quadraticBlowup()
{
    return "<!DOCTYPE q [<!ENTITY x '" + QByteArray(100000, 'x') + "'>]><q>" + QByteArray("&x;").repeated(100000)
        + "</q>";
}

// Parameter entities compound in an external DTD (which is read only when validating).
inline QByteArray parameterBombDtd()
{
    QByteArray d = "<!ENTITY % p0 'lol'>";
    for (int i = 1; i <= 10; ++i)
        d += "<!ENTITY % p" + QByteArray::number(i) + " '" + ("%p" + QByteArray::number(i - 1) + ";").repeated(10)
            + "'>";
    return d + "<!ENTITY big '%p10;'><!ELEMENT r ANY>";
}

inline QByteArray nested(int depth, const QByteArray& name = "a")
{
    return ("<" + name + ">").repeated(depth) + ("</" + name + ">").repeated(depth);
}

// Levels named n0, n1, ... so that each one can be found and addressed by path.
inline QByteArray namedLevels(int depth)
{
    QByteArray open, close;
    for (int i = 0; i < depth; ++i) {
        open += "<n" + QByteArray::number(i) + " Name=\"level " + QByteArray::number(i) + "\">";
        close.prepend("</n" + QByteArray::number(i) + ">");
    }
    return open + "text at the bottom" + close;
}

inline QString levelPath(int depth)
{
    QStringList names;
    for (int i = 0; i < depth; ++i)
        names << QStringLiteral("n%1").arg(i);
    return names.join(QLatin1Char('/'));
}

// Each entity holds a deep branch and the next one inside it: the tree built from them
// is far deeper than any element count in the file suggests.
inline QByteArray deepThroughEntities(int entities, int levelsEach)
{
    QByteArray decl;
    for (int i = entities - 1; i >= 0; --i) {
        const QByteArray inner = i == entities - 1 ? QByteArray() : "&e" + QByteArray::number(i + 1) + ";";
        decl += "<!ENTITY e" + QByteArray::number(i) + " '" + QByteArray("<a>").repeated(levelsEach) + inner
            + QByteArray("</a>").repeated(levelsEach) + "'>\n";
    }
    return "<!DOCTYPE r [\n" + decl + "]><r>&e0;</r>";
}

inline QByteArray manyAttributes(int count)
{
    QByteArray d = "<r";
    d.reserve(count * 16);
    for (int i = 0; i < count; ++i)
        d += " a" + QByteArray::number(i) + "=\"v\"";
    return d + "/>";
}

inline QByteArray manyNamespaces(int count)
{
    QByteArray d = "<r";
    for (int i = 0; i < count; ++i)
        d += " xmlns:p" + QByteArray::number(i) + "=\"urn:" + QByteArray::number(i) + "\"";
    return d + "/>";
}

inline QByteArray utf16(const QString& text, bool bigEndian = false)
{
    QStringEncoder encoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE);
    return QByteArray(bigEndian ? "\xFE\xFF" : "\xFF\xFE") + QByteArray(encoder.encode(text));
}

inline quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : data) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// A gzip member around `data`, made with Qt's deflate (zlib framing stripped), so the
// test needs no gzip program.
inline QByteArray gzip(const QByteArray& data)
{
    const QByteArray z = qCompress(data, 9); // 4-byte length, 2-byte zlib header, deflate, adler32
    QByteArray out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03", 10);
    out += z.mid(6, z.size() - 6 - 4);
    for (const quint32 trailer : {crc32(data), quint32(data.size())})
        for (int i = 0; i < 4; ++i)
            out.append(char((trailer >> (8 * i)) & 0xFF));
    return out;
}

inline QByteArray binaryJunk(int size)
{
    QByteArray b(size, '\0');
    QRandomGenerator(0x9E3779B9u).fillRange(reinterpret_cast<quint32*>(b.data()), size / 4);
    return b;
}

} // namespace hostile
