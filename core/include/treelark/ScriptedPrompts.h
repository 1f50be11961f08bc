// Prompts for tests: answers are queued in advance and every question is recorded.
// A question with no queued answer gets Cancel (or nullopt), never a hang.
#pragma once

#include "treelark/Prompts.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QStringList>

#include <deque>

namespace treelark {

class ScriptedPrompts : public Prompts {
public:
    struct Asked {
        QString kind;   // "message", "input", "open", "save", "print"
        QString text;   // message text, input prompt, or dialog title
        QString title;
        MsgButtons buttons = MsgButtons::OK;
        FileDialogRequest dialog;
    };

    void queueMessage(MsgResult r) { m_messages.push_back(r); }
    void queueInput(std::optional<QString> r) { m_inputs.push_back(std::move(r)); }
    void queueOpen(std::optional<QString> r) { m_opens.push_back(std::move(r)); }
    void queueSave(std::optional<QString> r) { m_saves.push_back(std::move(r)); }
    void queuePrint(std::optional<PrintRequest> r) { m_prints.push_back(std::move(r)); }
    void setReadOnly(const QString& path, bool readOnly = true);

    const QList<Asked>& asked() const { return m_asked; }
    QStringList messagesShown() const;
    void clearAsked() { m_asked.clear(); }

    MsgResult message(const QString& text, MsgButtons buttons, const QString& title = QString()) override;
    std::optional<QString> input(const QString& prompt, const QString& title, const QString& defaultText) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
    std::optional<PrintRequest> printDialog(const PrintRequest& request) override;
    bool fileExists(const QString& path) override;
    bool fileIsReadOnly(const QString& path) override;
    QString setting(const QString& section, const QString& key, const QString& defaultValue) override;
    void setSetting(const QString& section, const QString& key, const QString& value) override;

    QMap<QString, QString> settings; // "section/key" → value; never the user's real settings

private:
    std::deque<MsgResult> m_messages;
    std::deque<std::optional<QString>> m_inputs, m_opens, m_saves;
    std::deque<std::optional<PrintRequest>> m_prints;
    QSet<QString> m_readOnly;
    QList<Asked> m_asked;
};

} // namespace treelark
