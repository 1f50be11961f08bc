// The information pane and the reports about rows: the one description of a row (of a
// document or of an index alike), the tree click report, the name box hint, a load's
// outcome, and text files dropped on the pane.
#pragma once

#include "treelark/RowSource.h"

#include <functional>

class QEvent;
class QTextEdit;

namespace treelark {

class DocumentSession;
class StatusLine;
class TreeNavigator;

class InfoPane {
public:
    InfoPane(DocumentSession& session, QTextEdit* pane, TreeNavigator& tree, StatusLine& status);

    QTextEdit* widget() const { return m_pane; }
    void setText(const QString& text);

    // "name=value NodeType:TypeName=..., Text=...:name", the attributes one a line after
    // `sep`, then the path. "" (and the reason said) when the row cannot be read. What
    // was read goes to `details` when given.
    QString describe(const TreeRow& row, const QString& sep, RowDetails* details = nullptr) const;

    // The selected row in the pane; its count, the total and its path on the status line.
    void treeClick();
    // The syntax of path insertion, on the status line.
    void nameBoxHint();
    // After a load: the name and the length; a document that did not parse adds why and
    // where, with the line at fault and a caret under the column.
    void showLoaded(const QString& name, qint64 nChars, const DOMParseError& err);
    // The line at fault and a caret under `column` (1-based), as the pane shows them.
    static QString faultExcerpt(const QString& line, qint64 column);

    // Text files dropped on the pane are shown in it, blank lines left out.
    bool dragEvent(QEvent* event);
    void dropFiles(const QStringList& paths);

private:
    DocumentSession& m_session;
    QTextEdit* m_pane;
    TreeNavigator& m_tree;
    StatusLine& m_status;
};

} // namespace treelark
