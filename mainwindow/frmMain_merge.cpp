// Merging a second document into the open one.
#include "frmMain.h"

#include "treelark/Prompts.h"

#include <QTextEdit>

namespace treelark {

bool frmMain::MergeDocument()
{
    // A fresh manager each time; the previous one (with what its merge left behind) goes.
    // Nodes merged earlier were copied into the open document, so nothing points into it.
    delete pXMLMgr;
    pXMLMgr = new ApXmlMgr(this);
    connect(pXMLMgr, &ApXmlMgr::DOMReady, this, &frmMain::pXMLMgr_DOMReady);

    FileDialogRequest request{QStringLiteral("Open an XML file."), QStringLiteral("*.xml|*.xml|*.*|*.*"), QString(),
                              QString()};
    const QString last = prompts().setting(QStringLiteral("LastURL"), QStringLiteral("LastURL"), QString());
    QString file;
    splitAtLastSeparator(last, request.initialFolder, file);
    if (request.initialFolder.isEmpty())
        request.initialFolder = last;

    // Cancel ends the merge with nothing changed. The merge itself runs inside LoadXml,
    // when the file is reported ready; it is never validated.
    if (const std::optional<QString> chosen = prompts().openFile(request); chosen && !chosen->isEmpty()) {
        QString name = *chosen;
        loadDocument(pXMLMgr, name, false);
    }
    return true;
}

void frmMain::pXMLMgr_DOMReady(DOMDocumentPtr oXmlDoc)
{
    // A file that did not parse has nothing to give: it is not merged at all, and the
    // open document stays exactly as it was.
    const bool parsed = oXmlDoc && oXmlDoc->parseError().errorCode == 0 && !oXmlDoc->documentElement().isNull();
    if (parsed) {
        try {
            m_editor->perform(QStringLiteral("Merge ") + oXmlDoc->parseError().url,
                              [&] { oXMLMgr->MergeAll(oXmlDoc, nullptr, QStringLiteral("TagName")); });
        } catch (const DOMException&) {
        }
    }
    SetMsg(QStringLiteral("TotalNodes=") + QString::number(oXMLMgr->TotalNodes()));
    QString info = sURL + QStringLiteral(" loaded.");
    if (!parsed && oXmlDoc) {
        const DOMParseError& err = oXmlDoc->parseError();
        info += QLatin1Char('\n') + err.url + QStringLiteral(" was not merged: ") + err.reason;
    }
    txtInfo->setPlainText(info);
    prompts().setSetting(QStringLiteral("LastURL"), QStringLiteral("LastURL"), sURL);
}

} // namespace treelark
