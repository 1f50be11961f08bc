#include "SaveCommands.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "treelark/Busy.h"

#include <QUrl>

namespace treelark {

QString lastUrl() { return prompts().setting(QStringLiteral("LastURL"), QStringLiteral("LastURL"), QString()); }

void rememberLastUrl(const QString& name)
{
    prompts().setSetting(QStringLiteral("LastURL"), QStringLiteral("LastURL"), name);
}

void splitAtLastSeparator(const QString& address, QString& folder, QString& file)
{
    // A file:/// address names a file like a path does; dialogs want the path.
    QString name = address;
    if (address.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(address);
        if (url.isLocalFile())
            name = url.toLocalFile();
    }
    // Names may come from this system ("/") or be typed the other way ("\").
    const qsizetype p = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    if (p < 0) {
        folder = QString(QLatin1String(""));
        file = name;
    } else {
        folder = name.left(p + 1);
        file = name.mid(p + 1);
    }
}

FileDialogRequest SaveCommands::xmlFileRequest(const QString& title)
{
    return {title, QStringLiteral("*.xml|*.xml|*.*|*.*"), QString(), QString()};
}

std::optional<QString> SaveCommands::askSaveTarget(const FileDialogRequest& request)
{
    for (;;) {
        const std::optional<QString> chosen = prompts().saveFile(request);
        if (!chosen || chosen->isEmpty())
            return std::nullopt;
        const QString name = *chosen;
        if (!prompts().fileExists(name))
            return name;
        if (!prompts().fileIsReadOnly(name)) {
            if (prompts().message(name + QStringLiteral(" already exist.") + QLatin1Char('\n')
                                      + QStringLiteral("Overwrite ? "),
                                  MsgButtons::YesNoCancel)
                == MsgResult::Yes)
                return name;
        } else {
            prompts().message(name + QStringLiteral(" is ReadOnly.") + QLatin1Char('\n')
                                  + QStringLiteral("Access denied !!!  "),
                              MsgButtons::OK);
        }
    }
}

bool SaveCommands::SaveDocument()
{
    DocumentEditor* editor = m_session.editor();
    const DOMDocumentPtr doc = m_session.document();
    if (m_session.isReadOnly())
        return true; // nothing in it can change
    if (!doc || doc->parseError().errorCode != 0)
        return !editor->isModified();
    FileDialogRequest request = xmlFileRequest(QStringLiteral("Save to an XML file."));
    m_session.setDocumentFile(m_session.loadedFile().isEmpty() ? lastUrl() : m_session.loadedFile());
    splitAtLastSeparator(m_session.documentFile(), request.initialFolder, request.fileName);
    if (request.initialFolder.isEmpty())
        request.fileName.clear();

    const std::optional<QString> chosen = askSaveTarget(request);
    if (!chosen)
        return !editor->isModified();
    const QString name = *chosen;
    // Someone else's changes to the file read are not overwritten unasked.
    if (doc->changedOnDisk(name)
        && prompts().message(QStringLiteral("The file ") + name
                                 + QStringLiteral(" has changed on disk since it was loaded. Overwrite it?"),
                             MsgButtons::YesNo)
            != MsgResult::Yes)
        return !editor->isModified();
    // Writing a big document takes seconds: a long command, which the user may stop.
    runLongCommand([&] { m_session.manager()->Save(name); });
    if (!m_session.manager()->lastError().isEmpty()) {
        // Nothing was written and the old file is whole: say so, and keep the document
        // counted as changed so closing still asks.
        prompts().message(m_session.manager()->lastError(), MsgButtons::OK);
        return !editor->isModified();
    }
    editor->markSaved();
    return !editor->isModified();
}

bool SaveCommands::answer(MsgResult result)
{
    switch (result) {
    case MsgResult::Yes:
        return SaveDocument();
    case MsgResult::No:
        return true;
    default:
        return false;
    }
}

bool SaveCommands::mayClose()
{
    if (!m_session.hasUnsavedChanges())
        return true;
    const QString file = m_session.documentFile();
    QString folder, name;
    splitAtLastSeparator(file, folder, name);
    const QString prompt = name.isEmpty()
        ? QStringLiteral("Do you want to save the cahnges you made ?")
        : QStringLiteral("Do you want to save the changes you made to ") + name + QStringLiteral(" ?");
    return answer(prompts().message(prompt, MsgButtons::YesNoCancel, QStringLiteral("XML ") + file
                                                                         + QStringLiteral(" is changed.")));
}

bool SaveCommands::mayReplace()
{
    if (!m_session.hasUnsavedChanges())
        return true;
    QString folder, name;
    splitAtLastSeparator(m_session.documentFile(), folder, name);
    if (name.isEmpty())
        name = QStringLiteral("the new document");
    return answer(prompts().message(QStringLiteral("Save changes to ") + name + QLatin1Char('?'),
                                    MsgButtons::YesNoCancel));
}

} // namespace treelark
