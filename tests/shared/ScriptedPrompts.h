// Prompts for tests: answers are queued in advance and every question is recorded.
// A question with no queued answer gets Cancel (or nullopt), never a hang.
#pragma once

#include "treelark/Prompts.h"

#include <QFileInfo>
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
    void setReadOnly(const QString& path, bool readOnly = true)
    {
        if (readOnly)
            m_readOnly.insert(path);
        else
            m_readOnly.remove(path);
    }

    const QList<Asked>& asked() const { return m_asked; }
    QStringList messagesShown() const
    {
        QStringList out;
        for (const Asked& a : m_asked)
            if (a.kind == QLatin1String("message"))
                out << a.text;
        return out;
    }
    void clearAsked() { m_asked.clear(); }

    MsgResult message(const QString& text, MsgButtons buttons, const QString& title = QString()) override
    {
        m_asked.append({QStringLiteral("message"), text, title, buttons, {}});
        if (!m_messages.empty()) {
            MsgResult r = m_messages.front();
            m_messages.pop_front();
            return r;
        }
        return buttons == MsgButtons::OK ? MsgResult::OK : MsgResult::Cancel;
    }
    std::optional<QString> input(const QString& prompt, const QString& title, const QString& defaultText) override
    {
        m_asked.append({QStringLiteral("input"), prompt, title, MsgButtons::OKCancel,
                        {QString(), QString(), QString(), defaultText}});
        return takeFront(m_inputs);
    }
    std::optional<QString> openFile(const FileDialogRequest& request) override
    {
        m_asked.append({QStringLiteral("open"), request.title, request.title, MsgButtons::OKCancel, request});
        return takeFront(m_opens);
    }
    std::optional<QString> saveFile(const FileDialogRequest& request) override
    {
        m_asked.append({QStringLiteral("save"), request.title, request.title, MsgButtons::OKCancel, request});
        return takeFront(m_saves);
    }
    std::optional<PrintRequest> printDialog(const PrintRequest&) override
    {
        m_asked.append({QStringLiteral("print"), QString(), QString(), MsgButtons::OKCancel, {}});
        return takeFront(m_prints);
    }
    bool fileExists(const QString& path) override { return QFileInfo(path).isFile(); }
    bool fileIsReadOnly(const QString& path) override
    {
        if (m_readOnly.contains(path))
            return true;
        QFileInfo info(path);
        return info.exists() && !info.isWritable();
    }
    QString setting(const QString& section, const QString& key, const QString& defaultValue) override
    {
        return settings.value(section + QLatin1Char('/') + key, defaultValue);
    }
    void setSetting(const QString& section, const QString& key, const QString& value) override
    {
        settings.insert(section + QLatin1Char('/') + key, value);
    }

    QMap<QString, QString> settings; // "section/key" → value; never the user's real settings

private:
    template <typename T>
    static std::optional<T> takeFront(std::deque<std::optional<T>>& q)
    {
        if (q.empty())
            return std::nullopt;
        std::optional<T> r;
        r.swap(q.front());
        q.pop_front();
        return r;
    }

    std::deque<MsgResult> m_messages;
    std::deque<std::optional<QString>> m_inputs, m_opens, m_saves;
    std::deque<std::optional<PrintRequest>> m_prints;
    QSet<QString> m_readOnly;
    QList<Asked> m_asked;
};

} // namespace treelark
