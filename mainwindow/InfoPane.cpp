#include "InfoPane.h"

#include "DocumentSession.h"
#include "DroppedFiles.h"
#include "StatusLine.h"
#include "TreeNavigator.h"
#include "treelark/Prompts.h"
#include "treelark/modStringHandler.h"

#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QMimeData>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextStream>

namespace treelark {

namespace {

// A node's text is the text of its whole subtree. The pane shows the start of it and
// says when there was more; no more of the text than is shown is ever put together.
constexpr qsizetype kMaxNodeText = 4000;
const QString kCutMarker = QStringLiteral(" [... text cut: %1 characters shown]");
// Lines longer than this are shown as the stretch around the fault.
constexpr qsizetype kShownLine = 120;

QString bounded(const QString& text, bool cut = false)
{
    if (!cut && text.size() <= kMaxNodeText)
        return text;
    return text.left(kMaxNodeText) + kCutMarker.arg(kMaxNodeText);
}

} // namespace

InfoPane::InfoPane(DocumentSession& session, QTextEdit* pane, TreeNavigator& tree, StatusLine& status)
    : m_session(session), m_pane(pane), m_tree(tree), m_status(status)
{
}

void InfoPane::setText(const QString& text) { m_pane->setPlainText(text); }

QString InfoPane::describe(const TreeRow& row, const QString& sep, RowDetails* details) const
{
    if (row.isNull())
        return QString();
    const RowSource& source = m_session.source();
    RowDetails d;
    if (!source.read(row, &d, kMaxNodeText)) {
        prompts().message(source.lastError(), MsgButtons::OK);
        return QString();
    }
    QString info;
    if (!d.hasAttributeList) {
        info = d.baseName + QStringLiteral(" has no attributes.");
    } else {
        info = d.baseName + QLatin1Char('=') + bounded(d.value, d.valueTruncated)
            + QStringLiteral("NodeType:TypeName=") + QString::number(d.type) + QLatin1Char(':') + d.typeName
            + QStringLiteral(", Text=") + bounded(d.text, d.textTruncated) + QLatin1Char(':') + d.name;
        for (qsizetype i = 0; i < d.attributes.size(); ++i) {
            if (i == 0)
                info += QLatin1Char('\n');
            const IndexedAttribute& a = d.attributes[i];
            info += sep + QString::number(i) + QLatin1Char(':') + a.name.section(QLatin1Char(':'), -1)
                + QLatin1Char('=') + bounded(a.value) + QLatin1Char('\n');
        }
    }
    if (details)
        *details = std::move(d);
    return info + QLatin1Char('\n') + source.path(row);
}

void InfoPane::treeClick()
{
    QString info, msg, path;
    qint64 count = -1;
    if (TreeItem* item = m_tree.selectedItem()) {
        const TreeRow row = item->sourceRow();
        if (!row.isNull()) {
            RowDetails d;
            info = describe(row, QStringLiteral(" "), &d);
            if (!info.isEmpty())
                info += QStringLiteral("\nnChildNodes=") + QString::number(d.childRows);
            count = m_session.countNamed(item->text);
            // A label that is no valid name to count by: the description leads instead.
            msg = count < 0 ? info
                            : QStringLiteral("Node ") + item->text + QStringLiteral(" has ") + QString::number(count)
                    + QStringLiteral(" nodes.");
            path = m_session.source().path(row);
        } else {
            info = QStringLiteral("No node.");
            msg = info;
        }
        setText(info);
    }
    m_status.set(msg + QStringLiteral(" Total=") + QString::number(m_session.totalNodes()) + QStringLiteral(" Path=")
                 + path);
}

void InfoPane::nameBoxHint()
{
    m_status.set(QStringLiteral(
        "ctrl+shift+click:InsertNodeWithFullPath, NodeDesc=RootNode/NodeA/NodeA1;Key1=Value1:Key2=Value2"));
}

void InfoPane::showLoaded(const QString& name, qint64 nChars, const DOMParseError& err)
{
    setText(name + QStringLiteral(" loaded. Length=") + QString::number(nChars));
    if (err.errorCode == 0)
        return;
    // What a person needs to mend the file: why, where, and the line itself with a caret
    // under the column, in a fixed-pitch font so they line up.
    QTextCursor cursor(m_pane->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("The document could not be loaded: ") + err.reason);
    if (err.line <= 0)
        return;
    cursor.insertBlock();
    cursor.insertText(QStringLiteral("Line %1, column %2").arg(err.line).arg(err.linepos));
    if (err.srcText.isEmpty())
        return;
    cursor.insertText(QStringLiteral(":"));
    const QString shown = faultExcerpt(err.srcText, err.linepos);
    QTextCharFormat fixed;
    fixed.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const qsizetype nl = shown.indexOf(QLatin1Char('\n'));
    cursor.insertBlock();
    cursor.insertText(shown.left(nl), fixed);
    cursor.insertBlock();
    cursor.insertText(shown.mid(nl + 1), fixed);
}

// Two lines: the source line (or the stretch of it around the fault, marked with "...")
// and a caret under the column. Tabs before the column are kept in the caret line so
// the caret stays under the same character however wide a tab is drawn.
QString InfoPane::faultExcerpt(const QString& line, qint64 column)
{
    const qsizetype at = qBound<qsizetype>(0, qsizetype(column) - 1, line.size());
    qsizetype from = 0;
    QString text = line;
    QString lead;
    if (line.size() > kShownLine) {
        from = qMax<qsizetype>(0, at - kShownLine / 2);
        text = line.mid(from, kShownLine);
        if (from > 0)
            lead = QStringLiteral("...");
        if (from + kShownLine < line.size())
            text += QStringLiteral("...");
    }
    QString caret(lead.size(), QLatin1Char(' '));
    for (qsizetype i = from; i < at; ++i)
        caret += line.at(i) == QLatin1Char('\t') ? QLatin1Char('\t') : QLatin1Char(' ');
    return lead + text + QLatin1Char('\n') + caret + QLatin1Char('^');
}

bool InfoPane::dragEvent(QEvent* event)
{
    auto* e = event->type() == QEvent::DragLeave ? nullptr : static_cast<QDropEvent*>(event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove:
        if (!e->mimeData()->hasUrls())
            return false;
        e->acceptProposedAction();
        return true;
    case QEvent::Drop: {
        const QStringList paths = localFiles(e->mimeData());
        if (paths.isEmpty())
            return false;
        e->acceptProposedAction();
        dropFiles(paths);
        return true;
    }
    default:
        return false;
    }
}

void InfoPane::dropFiles(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    const QString path = paths.first();
    static const QStringList endings{".XML", ".TXT", ".XSL", "HTML", ".HTM", ".ASC", ".INI"};
    if (!hasAcceptedEnding(path, endings))
        return;
    QFile file(path);
    QString text;
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&file);
        QString line;
        while (in.readLineInto(&line)) {
            if (line.isEmpty())
                continue;
            text += ReplaceString(line, QStringLiteral("\t"), QStringLiteral(" ")) + QLatin1Char('\n');
        }
    }
    setText(text);
}

} // namespace treelark
