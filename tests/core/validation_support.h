// Helpers for the validation tests: the documents in tests/data/validation and ways to
// look at a result's problems.
#pragma once

#include "treelark/Validation.h"

#include <QDir>
#include <QStringList>

#include <gtest/gtest.h>

namespace testsupport {

inline QString validationData(const QString& name)
{
    return QDir(QStringLiteral(TREELARK_TEST_DATA_DIR "/validation")).filePath(name);
}

inline QStringList messagesOf(const treelark::ValidationResult& r)
{
    QStringList out;
    for (const auto& p : r.problems)
        out << p.message;
    return out;
}

// For failure messages: every problem on a line of its own.
inline std::string describe(const treelark::ValidationResult& r)
{
    QString out = QStringLiteral("outcome %1, %2 errors, %3 warnings\n").arg(int(r.outcome)).arg(r.errors).arg(r.warnings);
    for (const auto& p : r.problems)
        out += QStringLiteral("  %1:%2:%3 [%4] %5: %6\n")
                   .arg(p.file)
                   .arg(p.line)
                   .arg(p.column)
                   .arg(p.path, treelark::severityName(p.severity), p.message);
    return out.toStdString();
}

inline bool anyMessageHas(const treelark::ValidationResult& r, const QString& text)
{
    return messagesOf(r).join(QLatin1Char('\n')).contains(text);
}

} // namespace testsupport
