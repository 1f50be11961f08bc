// The process's own memory figures, as the kernel keeps them, for the benchmarks.
#pragma once

#include <QByteArray>
#include <QFile>

// A field of /proc/self/status in KB ("VmRSS:", "VmHWM:").
inline qint64 procStatusKb(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    return 0;
}

// Lets the peak (VmHWM) start again from the current size.
inline void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}
