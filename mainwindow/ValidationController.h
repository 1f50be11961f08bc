// "Validate" (F7) and "Validate against…": checks the open document against its DTD or
// schema (or one the user chose, remembered per document), lists what was found in the
// Problems panel and walks it (F8, Shift+F8). The document is never changed; the check
// runs with the window painted, a progress bar and Cancel, input held meanwhile.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace treelark {

class DocumentSession;
class InfoPane;
class LoadProgress;
class ProblemsPanel;
struct ProblemRow;
class StatusLine;
class TreeNavigator;
struct ValidationResult;

class ValidationController : public QObject {
    Q_OBJECT
public:
    ValidationController(DocumentSession& session, ProblemsPanel& panel, TreeNavigator& tree, InfoPane& pane,
                         StatusLine& status, LoadProgress& progress, QWidget* window);

    // Against the schema remembered for this document, else what the document names.
    void validate();
    // Asks for an XML Schema or RELAX NG file, remembers it for this document, validates.
    void validateAgainst();
    void step(bool backwards);

    // The schema remembered for the open document ("" for none).
    QString rememberedSchema() const;

private:
    void run(const QString& schema);
    void report(const ValidationResult& result, const QString& name);
    void open(const ProblemRow& problem);
    void documentChanged();
    // The file the open document was read from; "" when it came from an address.
    QString documentPath() const;

    DocumentSession& m_session;
    ProblemsPanel& m_panel;
    TreeNavigator& m_tree;
    InfoPane& m_pane;
    StatusLine& m_status;
    LoadProgress& m_progress;
    bool m_running = false;
};

} // namespace treelark
