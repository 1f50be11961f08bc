#include "ValidationController.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "InfoPane.h"
#include "LoadController.h"
#include "LoadProgress.h"
#include "ProblemsPanel.h"
#include "StatusLine.h"
#include "TreeNavigator.h"
#include "treelark/Busy.h"
#include "treelark/Prompts.h"
#include "treelark/RowSource.h"
#include "treelark/Validation.h"

#include <QAction>
#include <QFileInfo>
#include <QUrl>
#include <QWidget>

namespace treelark {

namespace {

const QString kSchemas = QStringLiteral("Schemas");

// Settings keys are paths of their own ('/' opens a group), so the document's path is
// kept whole by encoding it.
QString settingKey(const QString& documentPath)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(documentPath));
}

QString grammarName(const ValidationResult& r)
{
    const QString source = r.grammarSource.isEmpty() ? QString() : QStringLiteral(" ") + QFileInfo(r.grammarSource).fileName();
    switch (r.grammar) {
    case ValidationGrammar::Dtd:
        return QStringLiteral("DTD") + source;
    case ValidationGrammar::XmlSchema:
        return QStringLiteral("XML Schema") + source;
    case ValidationGrammar::RelaxNg:
        return QStringLiteral("RELAX NG") + source;
    case ValidationGrammar::WellFormedness:
        break;
    }
    return QStringLiteral("well-formedness only (no DTD or schema)");
}

QString counted(int n, const char* one, const char* many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

} // namespace

ValidationController::ValidationController(DocumentSession& session, ProblemsPanel& panel, TreeNavigator& tree,
                                           InfoPane& pane, StatusLine& status, LoadProgress& progress,
                                           QWidget* window)
    : QObject(window), m_session(session), m_panel(panel), m_tree(tree), m_pane(pane), m_status(status),
      m_progress(progress)
{
    connect(&panel, &ProblemsPanel::problemOpened, this, &ValidationController::open);
    connect(session.editor(), &DocumentEditor::changed, this, [this] { documentChanged(); });
    // A list about another document has nothing to show on this one.
    connect(&session, &DocumentSession::replaced, this, [this] { m_panel.clear(); });

    auto key = [this, window](const QKeySequence& keys, bool backwards) {
        auto* a = new QAction(window);
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, [this, backwards] { step(backwards); });
        window->addAction(a);
    };
    key(QKeySequence(Qt::Key_F8), false);
    key(QKeySequence(Qt::SHIFT | Qt::Key_F8), true);
}

QString ValidationController::documentPath() const
{
    const QString path = localPath(m_session.loadedFile());
    return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

QString ValidationController::rememberedSchema() const
{
    const QString path = documentPath();
    return path.isEmpty() ? QString() : prompts().setting(kSchemas, settingKey(path), QString());
}

void ValidationController::validate() { run(rememberedSchema()); }

void ValidationController::validateAgainst()
{
    FileDialogRequest request;
    request.title = QStringLiteral("Validate against a schema");
    request.filter = QStringLiteral("XML Schema or RELAX NG (*.xsd, *.rng)|*.xsd;*.rng|All files (*.*)|*.*");
    const QString remembered = rememberedSchema();
    request.initialFolder = QFileInfo(remembered.isEmpty() ? documentPath() : remembered).absolutePath();
    const std::optional<QString> chosen = prompts().openFile(request);
    if (!chosen || chosen->isEmpty())
        return;
    const QString schema = QFileInfo(*chosen).absoluteFilePath();
    if (const QString path = documentPath(); !path.isEmpty())
        prompts().setSetting(kSchemas, settingKey(path), schema);
    run(schema);
}

void ValidationController::run(const QString& schema)
{
    const DocumentIndex* large = m_session.largeDocument();
    const DOMDocumentPtr doc = m_session.document();
    if (m_running || m_progress.busy())
        return;
    if (!large && (!doc || doc->documentElement().isNull())) {
        m_status.set(QStringLiteral("There is no document to validate."));
        return;
    }
    const QString name = QFileInfo(m_session.loadedFile()).fileName();
    m_status.set(QStringLiteral("Validating ") + name + QStringLiteral("…"));
    ValidationOptions options;
    options.schemaPath = schema;
    options.progress = [this](qint64 done, qint64 total) {
        if (cancelRequested())
            return false;
        m_progress.progress(done, total);
        busyTick();
        return true;
    };
    ValidationResult result;
    m_running = true;
    clearCancel();
    m_progress.run([&] {
        result = large ? validateFile(documentPath(), options) : validateDocument(*doc, options);
        return 0;
    });
    m_running = false;
    report(result, name);
}

void ValidationController::report(const ValidationResult& result, const QString& name)
{
    const IndexRowSource* index = dynamic_cast<const IndexRowSource*>(&m_session.source());
    std::vector<ProblemRow> rows;
    rows.reserve(result.problems.size());
    for (const ValidationProblem& p : result.problems) {
        ProblemRow row;
        row.warning = p.severity == ProblemSeverity::Warning;
        row.line = p.line;
        row.column = p.column;
        row.message = p.message;
        row.path = p.path;
        if (!p.node.isNull())
            row.row = TreeRow(p.node);
        else if (index && p.element >= 0)
            row.row = index->rowOf(DocumentIndex::Row(p.element));
        rows.push_back(std::move(row));
    }
    const QString against = grammarName(result);
    m_panel.show(std::move(rows), against);

    const QString found = counted(result.errors, "error", "errors") + QStringLiteral(", ")
                          + counted(result.warnings, "warning", "warnings");
    switch (result.outcome) {
    case ValidationOutcome::Valid:
        m_status.set(name + QStringLiteral(" is valid against ") + against
                     + (result.warnings ? QStringLiteral(" (") + found + QLatin1Char(')') : QString()) + QLatin1Char('.'));
        break;
    case ValidationOutcome::Invalid:
        m_status.set(name + QStringLiteral(": ") + found + QStringLiteral(" against ") + against
                     + QStringLiteral(". F8 goes to the next."));
        break;
    case ValidationOutcome::Cancelled:
        m_status.set(QStringLiteral("Validation was cancelled; ") + found + QStringLiteral(" found until then."));
        break;
    case ValidationOutcome::DocumentUnreadable:
    case ValidationOutcome::SchemaUnusable:
        m_status.set(QStringLiteral("Not validated: ")
                     + (result.problems.empty() ? QStringLiteral("the schema could not be used.")
                                                : result.problems.front().message));
        break;
    }
}

void ValidationController::step(bool backwards)
{
    if (!m_panel.step(backwards))
        m_status.set(QStringLiteral("No problems to go to: validate first (F7)."));
}

void ValidationController::open(const ProblemRow& problem)
{
    const QString where = problem.line > 0 ? QStringLiteral("Line %1:%2: ").arg(problem.line).arg(problem.column)
                                           : QString();
    if (!problem.row.isNull()) {
        if (!m_tree.reveal(problem.row)) {
            m_status.set(QStringLiteral("That node is no longer in the document; re-validate (F7)."));
            return;
        }
        m_pane.setText(m_pane.describe(problem.row, QStringLiteral(" ")));
    }
    m_status.set(where + problem.message + (m_panel.isStale() ? QStringLiteral(" (before the last edit; re-validate)")
                                                                : QString()));
}

void ValidationController::documentChanged()
{
    if (m_panel.count() == 0 || m_panel.isStale())
        return;
    m_panel.setStale(true);
    m_status.set(QStringLiteral("The document changed since it was validated: re-validate (F7)."));
}

} // namespace treelark
