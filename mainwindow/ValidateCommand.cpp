#include "ValidateCommand.h"

#include "treelark/Validation.h"

#include <QTextStream>

namespace treelark {

namespace {

const QString kValidate = QStringLiteral("validate");
const QString kSchema = QStringLiteral("schema");

QString counted(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

// FILE:LINE:COLUMN: as compilers print it, leaving out what is not known.
QString place(const ValidationProblem& p)
{
    QString at = p.file;
    if (p.line > 0) {
        at += QStringLiteral(":%1").arg(p.line);
        if (p.column > 0)
            at += QStringLiteral(":%1").arg(p.column);
    }
    return at;
}

QString summary(const QString& file, const ValidationResult& r)
{
    switch (r.outcome) {
    case ValidationOutcome::Valid: {
        QString line = file + QStringLiteral(": valid");
        if (r.warnings)
            line += QStringLiteral(", ") + counted(r.warnings, "warning", "warnings");
        if (r.grammar == ValidationGrammar::WellFormedness)
            line += QStringLiteral(" (well-formedness only: no DTD or schema to check against)");
        return line;
    }
    case ValidationOutcome::Invalid:
        return file + QStringLiteral(": ") + counted(r.errors, "error", "errors") + QStringLiteral(", ")
            + counted(r.warnings, "warning", "warnings");
    case ValidationOutcome::DocumentUnreadable:
        return file + QStringLiteral(": not checked: the document cannot be read");
    case ValidationOutcome::SchemaUnusable:
        return file + QStringLiteral(": not checked: the schema or DTD cannot be used");
    case ValidationOutcome::Cancelled:
        break;
    }
    return file + QStringLiteral(": not checked");
}

} // namespace

void describeValidateOptions(QCommandLineParser& parser)
{
    parser.addOption(QCommandLineOption(kValidate,
                                        QStringLiteral("Check <file> without opening a window: against the schema "
                                                       "or DTD it names, else the FrameworkConfig schema for a "
                                                       "FrameworkConfig document, else for well-formedness only. "
                                                       "Exit code 0 valid, 1 not valid, 2 not readable."),
                                        QStringLiteral("file")));
    parser.addOption(QCommandLineOption(kSchema,
                                        QStringLiteral("With --validate: check against this XML Schema or RELAX NG "
                                                       "schema instead."),
                                        QStringLiteral("schema")));
}

std::optional<int> runValidateCommand(const QCommandLineParser& parser)
{
    QTextStream out(stdout);
    if (!parser.isSet(kValidate)) {
        if (!parser.isSet(kSchema))
            return std::nullopt;
        QTextStream(stderr) << "--schema is used with --validate FILE\n";
        return 2;
    }
    const QString file = parser.value(kValidate);
    ValidationOptions options;
    options.schemaPath = parser.value(kSchema);
    const ValidationResult result = validateFile(file, options);
    for (const ValidationProblem& p : result.problems)
        out << place(p) << ": " << severityName(p.severity) << ": " << p.message << '\n';
    const int unlisted = result.errors + result.warnings - int(result.problems.size());
    if (unlisted > 0)
        out << file << ": " << unlisted << " more not listed\n";
    out << summary(file, result) << '\n';
    out.flush();
    switch (result.outcome) {
    case ValidationOutcome::Valid:
        return 0;
    case ValidationOutcome::Invalid:
        return 1;
    default:
        return 2;
    }
}

} // namespace treelark
