// The search bar: finding nodes by name, path insertion, and walking the matches.
#include "frmMain.h"

#include "treelark/Prompts.h"

#include "treelark/dCollection.h"
#include "treelark/modStringHandler.h"

#include <QLineEdit>
#include <QStatusBar>
#include <QTextEdit>
#include <QTreeView>

namespace treelark {

namespace {

// The pane shows what a person can read; a search with a hundred thousand matches
// describes as many as fit and says how many more there are. The count is exact.
constexpr qsizetype kMaxPaneChars = 200000;

void parseAttributeList(const QString& spec, dCollection& attrs)
{
    QStringList pairs;
    SplitString(spec, QStringLiteral(":"), pairs);
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

void frmMain::cmdGetNode_MouseDown(Qt::KeyboardModifiers shift)
{
    const Qt::KeyboardModifiers keys = shift & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (isReadOnly()) {
        readOnlySearch(keys);
        return;
    }
    QString info, msg;
    if (keys == (Qt::ControlModifier | Qt::ShiftModifier)) {
        // Path insertion: "path;Key1=Value1:Key2=Value2".
        try {
            const QString text = txtNodeName->text();
            QStringList pieces;
            SplitString(text, QStringLiteral(";"), pieces);
            QString path = text;
            dCollection attrs;
            if (pieces.size() == 2) {
                path = pieces[0].trimmed();
                const QString spec = pieces[1].trimmed();
                if (!spec.isEmpty())
                    parseAttributeList(spec, attrs);
            }
            m_editor->perform(QStringLiteral("Insert ") + path, [&] {
                oXMLMgr->InsertNodeWithFullPath(path, attrs.Count() == 0 ? nullptr : &attrs);
            });
        } catch (const DOMException&) {
        }
    } else {
        const QString name = txtNodeName->text().trimmed();
        if (!name.isEmpty()) {
            if (isXPathQuery(name)) {
                // An expression is evaluated as it stands; one that does not compile
                // says where it goes wrong, and the last search's matches stay.
                try {
                    m_matches = oDoc ? oDoc->selectNodes(name) : DOMNodeList();
                } catch (const DOMException& e) {
                    prompts().message(e.description(), MsgButtons::OK);
                    return;
                }
                if (!m_matches.isNull() && m_matches.length() == 0)
                    m_matches = DOMNodeList();
            } else {
                m_matches = oXMLMgr->GetNodesByName(QString(txtNodeName->text()));
            }
            m_matchIndex = -1;
            qint64 count = 0;
            if (m_matches.isNull()) {
                info = name + QStringLiteral(" is not found.");
            } else {
                const bool all = keys == Qt::ShiftModifier;
                qint64 i = 0;
                m_matches.reset();
                for (DOMNode node = m_matches.nextNode(); !node.isNull(); node = m_matches.nextNode()) {
                    ++i;
                    if (info.size() > kMaxPaneChars) {
                        count = m_matches.length();
                        info += QStringLiteral("[%1 more matches are not described here]\n").arg(count - i + 1);
                        break;
                    }
                    info += QStringLiteral("Node: ") + QString::number(i) + QLatin1Char(' ')
                        + GetNodeInfo(node, QStringLiteral("     ")) + QLatin1Char('\n');
                    if (!all)
                        break;
                }
                count = m_matches.length();
                if (count > 0)
                    selectNextMatch();
            }
            msg = QStringLiteral("nNodes=") + QString::number(count);
        }
    }
    txtInfo->setPlainText(info);
    SetMsg(msg);
}

void frmMain::selectNextMatch()
{
    if (isReadOnly()) {
        readOnlyNext();
        return;
    }
    if (m_matches.isNull())
        return;
    const qint64 n = m_matches.length();
    // Matches whose node has left the document since the search are passed over.
    for (qint64 tries = 0; tries < n; ++tries) {
        m_matchIndex = (m_matchIndex + 1) % n;
        if (revealRow(m_matches.item(m_matchIndex)))
            return;
    }
}

// Expands the branches down to the row's item and selects it.
bool frmMain::revealRow(const TreeRow& row)
{
    TreeItem* item = row.isNull() ? nullptr : m_model->itemFor(row);
    if (!item)
        return false;
    std::vector<TreeItem*> above;
    for (TreeItem* a = item->parent; a; a = a->parent)
        above.push_back(a);
    for (auto it = above.rbegin(); it != above.rend(); ++it)
        TreeView1->expand(m_model->indexOf(*it));
    selectItem(item);
    TreeView1->scrollTo(m_model->indexOf(item));
    return true;
}

} // namespace treelark
