// The information pane and the status line: node descriptions, the tree click report,
// the name box hint and text files dropped on the pane.
#include "frmMain.h"

#include "DroppedFiles.h"

#include "treelark/Prompts.h"
#include "treelark/modStringHandler.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTextEdit>
#include <QTextStream>
#include <QUrl>

namespace treelark {

namespace {

// A node's text is the text of its whole subtree. The pane shows the start of it and
// says when there was more; no more of the text than is shown is ever put together.
constexpr qsizetype kMaxNodeText = 4000;
const QString kCutMarker = QStringLiteral(" [... text cut: %1 characters shown]");

QString bounded(const QString& text)
{
    if (text.size() <= kMaxNodeText)
        return text;
    return text.left(kMaxNodeText) + kCutMarker.arg(kMaxNodeText);
}

QString boundedText(const DOMNode& node)
{
    bool cut = false;
    const QString text = node.textPrefix(kMaxNodeText, &cut);
    return cut ? text + kCutMarker.arg(kMaxNodeText) : text;
}

} // namespace

QString frmMain::GetNodeInfo(const DOMNode& node, const QString& sSep) const
{
    if (node.isNull())
        return QString();
    QString info = node.baseName() + QLatin1Char('=') + bounded(node.nodeValue())
        + QStringLiteral("NodeType:TypeName=") + QString::number(node.nodeType()) + QLatin1Char(':')
        + node.nodeTypeString() + QStringLiteral(", Text=") + boundedText(node) + QLatin1Char(':') + node.nodeName();
    DOMNamedNodeMap attrs = node.attributes();
    if (attrs.isNull()) {
        info = node.baseName() + QStringLiteral(" has no attributes.");
    } else {
        const qint64 n = attrs.length();
        for (qint64 i = 0; i < n; ++i) {
            if (i == 0)
                info += QLatin1Char('\n');
            DOMNode a = attrs.item(i);
            info += sSep + QString::number(i) + QLatin1Char(':') + a.baseName() + QLatin1Char('=') + bounded(a.value())
                + QLatin1Char('\n');
        }
    }
    QString path;
    try {
        path = oXMLMgr->GetFullPath(node);
    } catch (const DOMException&) {
    }
    return info + QLatin1Char('\n') + path;
}

void frmMain::treeClick()
{
    if (isReadOnly()) {
        readOnlyTreeClick();
        return;
    }
    qint64 count = -1;
    QString info, msg, path;
    if (TreeItem* item = selectedItem()) {
        DOMNode node = item->tag;
        if (!node.isNull()) {
            info = GetNodeInfo(node, QStringLiteral(" "));
            count = oXMLMgr->TotalNodesByName(QString(item->text));
            msg = QStringLiteral("Node ") + item->text + QStringLiteral(" has ") + QString::number(count)
                + QStringLiteral(" nodes.");
            DOMNodeList children = node.childNodes();
            if (!children.isNull())
                info += QLatin1Char('\n') + QStringLiteral("nChildNodes=") + QString::number(children.length());
        } else {
            info = QStringLiteral("No node.");
        }
        txtInfo->setPlainText(info);
        try {
            path = oXMLMgr->GetFullPath(node);
        } catch (const DOMException&) {
        }
    }
    if (count < 0)
        msg = info;
    SetMsg(msg + QStringLiteral(" Total=") + QString::number(oXMLMgr->TotalNodes()) + QStringLiteral(" Path=") + path);
}

void frmMain::txtNodeName_Click()
{
    SetMsg(QStringLiteral(
        "ctrl+shift+click:InsertNodeWithFullPath, NodeDesc=RootNode/NodeA/NodeA1;Key1=Value1:Key2=Value2"));
}

bool frmMain::infoPaneDragEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* e = static_cast<QDropEvent*>(event);
        if (e->mimeData()->hasUrls()) {
            e->acceptProposedAction();
            return true;
        }
        return false;
    }
    case QEvent::Drop: {
        auto* e = static_cast<QDropEvent*>(event);
        const QStringList paths = localFiles(e->mimeData());
        if (paths.isEmpty())
            return false;
        e->acceptProposedAction();
        txtInfo_DropFiles(paths);
        return true;
    }
    default:
        return false;
    }
}

void frmMain::txtInfo_DropFiles(const QStringList& paths)
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
    txtInfo->setPlainText(text);
}

void frmMain::DispAttributes(const DOMNode& pNode, const QString& sTitle)
{
    QString text;
    DOMNamedNodeMap attrs = pNode.attributes();
    for (qint64 i = 0; !attrs.isNull() && i < attrs.length(); ++i)
        text += attrs.item(i).name() + QLatin1Char('=') + attrs.item(i).value() + QLatin1Char('\n');
    prompts().message(text, MsgButtons::OK, sTitle);
}

} // namespace treelark
