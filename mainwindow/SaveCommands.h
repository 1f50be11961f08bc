// Saving the open document, the file dialogs that choose where to, and the questions
// that keep a user's unsaved work: before the window closes and before anything else
// is opened in its place.
#pragma once

#include "treelark/Prompts.h"

#include <optional>

namespace treelark {

class DocumentSession;

class SaveCommands {
public:
    explicit SaveCommands(DocumentSession& session) : m_session(session) {}

    // Asks where, and saves. True when the document has no unsaved changes afterwards.
    bool SaveDocument();
    // The close prompt: true when the window may close (saved, or the user said No).
    bool mayClose();
    // Before another document takes the open one's place: "Save changes to <name>?".
    // Yes saves first and goes on only if that worked; Cancel keeps everything.
    bool mayReplace();

    // The XML file dialogs' request, `title` on top.
    static FileDialogRequest xmlFileRequest(const QString& title);
    // The file to save to: the dialog again after a refused overwrite or a read-only
    // file; nullopt when the user gives up.
    static std::optional<QString> askSaveTarget(const FileDialogRequest& request);

private:
    bool answer(MsgResult result);

    DocumentSession& m_session;
};

// The setting "LastURL": the name or address of the last document reported ready, where
// the file dialogs start.
QString lastUrl();
void rememberLastUrl(const QString& name);

// Splits a file name at its last path separator ("/" or "\"): the folder part keeps
// the separator. Both are "" / the whole name when there is none. A file:/// address
// is split as the path it names.
void splitAtLastSeparator(const QString& address, QString& folder, QString& file);

} // namespace treelark
