#include "SearchController.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "InfoPane.h"
#include "StatusLine.h"
#include "TreeNavigator.h"
#include "treelark/Prompts.h"
#include "treelark/dCollection.h"
#include "treelark/modStringHandler.h"

#include <QLineEdit>

namespace treelark {

namespace {

// The pane shows what a person can read; a search with a hundred thousand matches
// describes as many as fit and says how many more there are. The count is exact.
constexpr qsizetype kMaxPaneChars = 200000;

void parseAttributeList(const QString& pairsText, dCollection& attrs)
{
    QStringList pairs;
    SplitString(pairsText, QStringLiteral(":"), pairs);
    for (const QString& piece : pairs) {
        const QString pair = piece.trimmed();
        if (pair.isEmpty())
            continue;
        QStringList parts;
        // blanks around "=" stay in the key and the value
        if (SplitString(pair, QStringLiteral("="), parts) == 2)
            attrs.Add(parts[1], parts[0]); // a key given twice keeps its first value
    }
}

} // namespace

SearchController::SearchController(DocumentSession& session, QLineEdit* nameBox, InfoPane& pane,
                                   StatusLine& status, TreeNavigator& tree, QObject* parent)
    : QObject(parent), m_session(session), m_nameBox(nameBox), m_pane(pane), m_status(status), m_tree(tree)
{
    // The matches are rows of what was open.
    connect(&session, &DocumentSession::replaced, this, &SearchController::forget);
}

void SearchController::forget()
{
    m_matches = Matches();
    m_index = -1;
}

void SearchController::getNode(Qt::KeyboardModifiers keys)
{
    keys &= Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (keys == (Qt::ControlModifier | Qt::ShiftModifier)) {
        insertPath();
        return;
    }
    const QString name = m_nameBox->text().trimmed();
    QString info, msg;
    if (!name.isEmpty()) {
        Matches found;
        if (!find(name, &found))
            return; // said why; the last search's matches stay
        m_matches = found;
        m_index = -1;
        const qint64 count = m_matches.count();
        if (m_matches.missing) {
            info = name + QStringLiteral(" is not found.");
        } else if (count > 0) {
            const bool all = keys == Qt::ShiftModifier;
            for (qint64 i = 0; i < count; ++i) {
                if (info.size() > kMaxPaneChars) {
                    info += QStringLiteral("[%1 more matches are not described here]\n").arg(count - i);
                    break;
                }
                info += QStringLiteral("Node: ") + QString::number(i + 1) + QLatin1Char(' ')
                    + m_pane.describe(m_matches.at(i), QStringLiteral("     ")) + QLatin1Char('\n');
                if (!all)
                    break;
            }
            next();
        }
        msg = QStringLiteral("nNodes=") + QString::number(count);
        if (m_session.isLoading())
            msg += QStringLiteral(" in the rows read so far");
    }
    m_pane.setText(info);
    m_status.set(msg);
}

bool SearchController::find(const QString& name, Matches* out)
{
    if (isXPathQuery(name)) {
        const DOMDocumentPtr doc = m_session.document();
        if (m_session.isLoading()) {
            prompts().message(QStringLiteral("An XPath expression needs the document, which is still being read; "
                                             "until it is open the name box finds elements by name."),
                              MsgButtons::OK);
            return false;
        }
        if (m_session.largeDocument()) {
            prompts().message(QStringLiteral("An XPath expression needs the document in memory; in large document "
                                             "form the name box finds elements by name."),
                              MsgButtons::OK);
            return false;
        }
        // An expression is evaluated as it stands; one that does not compile says where
        // it goes wrong.
        try {
            out->nodes = doc ? doc->selectNodes(name) : DOMNodeList();
        } catch (const DOMException& e) {
            prompts().message(e.description(), MsgButtons::OK);
            return false;
        }
        out->missing = out->nodes.isNull() || out->nodes.length() == 0;
        if (out->missing)
            out->nodes = DOMNodeList();
        return true;
    }
    // Rows found ahead of a loading document are searched as they stand: the document
    // open meanwhile is not the one on screen.
    if (m_session.largeDocument() || m_session.isLoading()) {
        out->rows = m_session.source().findByName(name);
        out->missing = out->rows.empty();
    } else {
        out->nodes = m_session.manager()->GetNodesByName(QString(m_nameBox->text()));
        out->missing = out->nodes.isNull();
    }
    return true;
}

void SearchController::insertPath()
{
    if (m_session.isReadOnly()) {
        prompts().message(m_session.readOnlyTip(), MsgButtons::OK);
        return;
    }
    // "path;Key1=Value1:Key2=Value2"
    const QString text = m_nameBox->text();
    QStringList pieces;
    SplitString(text, QStringLiteral(";"), pieces);
    QString path = text;
    dCollection attrs;
    if (pieces.size() == 2) {
        path = pieces[0].trimmed();
        const QString pairsText = pieces[1].trimmed();
        if (!pairsText.isEmpty())
            parseAttributeList(pairsText, attrs);
    }
    QString msg;
    try {
        m_session.editor()->perform(QStringLiteral("Insert ") + path, [&] {
            m_session.manager()->InsertNodeWithFullPath(path, attrs.Count() == 0 ? nullptr : &attrs);
        });
    } catch (const DOMException& e) {
        msg = QStringLiteral("Inserting ") + path + QStringLiteral(" was refused: ") + e.description();
    }
    m_pane.setText(QString());
    m_status.set(msg);
}

void SearchController::next()
{
    const qint64 n = m_matches.count();
    for (qint64 tries = 0; tries < n; ++tries) {
        m_index = (m_index + 1) % n;
        if (m_tree.reveal(m_matches.at(m_index)))
            return;
    }
}

// An element name holds none of "[", "@", "::", nor starts with "(" or ".": text that
// does is an XPath expression. A path of plain names ("/a/b", "//a") keeps the name
// search's own meaning (a path found anywhere), which a user of the name box relies on;
// one starting with "/" that holds anything else (a function, "*", "|") is XPath.
bool SearchController::isXPathQuery(const QString& text)
{
    const QString t = text.trimmed();
    if (t.startsWith(QLatin1Char('(')) || t.startsWith(QLatin1Char('.')) || t.contains(QLatin1Char('['))
        || t.contains(QLatin1Char('@')) || t.contains(QLatin1String("::")))
        return true;
    if (!t.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : t)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('/') || c == QLatin1Char('_') || c == QLatin1Char('-')
              || c == QLatin1Char(':') || c == QLatin1Char('.')))
            return true;
    return false;
}

} // namespace treelark
