// The search bar: finding rows by name or XPath, inserting a path of names, and walking
// the matches with Next. One list of matches, whichever form the document is in.
#pragma once

#include "treelark/RowSource.h"

#include <QObject>

class QLineEdit;

namespace treelark {

class DocumentSession;
class InfoPane;
class StatusLine;
class TreeNavigator;

class SearchController : public QObject {
    Q_OBJECT
public:
    SearchController(DocumentSession& session, QLineEdit* nameBox, InfoPane& pane, StatusLine& status,
                     TreeNavigator& tree, QObject* parent = nullptr);

    // The GetNode button, acting on mouse-down, the keys held deciding the mode (Shift:
    // every match; Ctrl+Shift: path insertion; otherwise the first match).
    void getNode(Qt::KeyboardModifiers keys);
    // Selects and reveals the next match of the last search, wrapping at the end; matches
    // whose node has left the document since are passed over.
    void next();

    // Text that is an XPath expression rather than a name or a path of names.
    static bool isXPathQuery(const QString& text);

private:
    // The matches of one search: a document's node list (kept as the document gives it,
    // so a million matches cost no copy), or an index's rows.
    struct Matches {
        DOMNodeList nodes;
        std::vector<TreeRow> rows;
        bool missing = false; // "is not found." (a name search of a document finds an empty list)
        qint64 count() const { return nodes.isNull() ? qint64(rows.size()) : nodes.length(); }
        TreeRow at(qint64 i) const { return nodes.isNull() ? rows[size_t(i)] : TreeRow(nodes.item(i)); }
    };
    bool find(const QString& name, Matches* out);
    void insertPath();
    void forget();

    DocumentSession& m_session;
    QLineEdit* m_nameBox;
    InfoPane& m_pane;
    StatusLine& m_status;
    TreeNavigator& m_tree;
    Matches m_matches;
    qint64 m_index = -1;
};

} // namespace treelark
