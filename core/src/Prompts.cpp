#include "treelark/Prompts.h"
#include "treelark/ScriptedPrompts.h"

#include <QFileInfo>

namespace treelark {

Prompts::~Prompts() = default;

QString applicationTitle() { return QStringLiteral("Treelark"); }

namespace {

// Stands in before the program installs real prompts (or in a library user's process):
// never blocks, never decides anything destructive.
class SilentPrompts : public Prompts {
public:
    MsgResult message(const QString&, MsgButtons buttons, const QString&) override
    {
        return buttons == MsgButtons::OK ? MsgResult::OK : MsgResult::Cancel;
    }
    std::optional<QString> input(const QString&, const QString&, const QString&) override { return std::nullopt; }
    std::optional<QString> openFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<QString> saveFile(const FileDialogRequest&) override { return std::nullopt; }
    std::optional<PrintRequest> printDialog(const PrintRequest&) override { return std::nullopt; }
    bool fileExists(const QString& path) override { return QFileInfo(path).isFile(); }
    bool fileIsReadOnly(const QString& path) override
    {
        QFileInfo info(path);
        return info.exists() && !info.isWritable();
    }
    QString setting(const QString&, const QString&, const QString& defaultValue) override { return defaultValue; }
    void setSetting(const QString&, const QString&, const QString&) override {}
};

std::shared_ptr<Prompts>& current()
{
    static std::shared_ptr<Prompts> p = std::make_shared<SilentPrompts>();
    return p;
}

} // namespace

Prompts& prompts() { return *current(); }

void setPrompts(std::shared_ptr<Prompts> p)
{
    current() = p ? std::move(p) : std::make_shared<SilentPrompts>();
}

// ---- ScriptedPrompts ----

void ScriptedPrompts::setReadOnly(const QString& path, bool readOnly)
{
    if (readOnly)
        m_readOnly.insert(path);
    else
        m_readOnly.remove(path);
}

QStringList ScriptedPrompts::messagesShown() const
{
    QStringList out;
    for (const Asked& a : m_asked)
        if (a.kind == QLatin1String("message"))
            out << a.text;
    return out;
}

MsgResult ScriptedPrompts::message(const QString& text, MsgButtons buttons, const QString& title)
{
    m_asked.append({QStringLiteral("message"), text, title, buttons, {}});
    if (!m_messages.empty()) {
        MsgResult r = m_messages.front();
        m_messages.pop_front();
        return r;
    }
    return buttons == MsgButtons::OK ? MsgResult::OK : MsgResult::Cancel;
}

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

std::optional<QString> ScriptedPrompts::input(const QString& prompt, const QString& title, const QString& defaultText)
{
    m_asked.append({QStringLiteral("input"), prompt, title, MsgButtons::OKCancel, {QString(), QString(), QString(), defaultText}});
    return takeFront(m_inputs);
}

std::optional<QString> ScriptedPrompts::openFile(const FileDialogRequest& request)
{
    m_asked.append({QStringLiteral("open"), request.title, request.title, MsgButtons::OKCancel, request});
    return takeFront(m_opens);
}

std::optional<QString> ScriptedPrompts::saveFile(const FileDialogRequest& request)
{
    m_asked.append({QStringLiteral("save"), request.title, request.title, MsgButtons::OKCancel, request});
    return takeFront(m_saves);
}

std::optional<PrintRequest> ScriptedPrompts::printDialog(const PrintRequest&)
{
    m_asked.append({QStringLiteral("print"), QString(), QString(), MsgButtons::OKCancel, {}});
    return takeFront(m_prints);
}

bool ScriptedPrompts::fileExists(const QString& path) { return QFileInfo(path).isFile(); }

bool ScriptedPrompts::fileIsReadOnly(const QString& path)
{
    if (m_readOnly.contains(path))
        return true;
    QFileInfo info(path);
    return info.exists() && !info.isWritable();
}

QString ScriptedPrompts::setting(const QString& section, const QString& key, const QString& defaultValue)
{
    return settings.value(section + QLatin1Char('/') + key, defaultValue);
}

void ScriptedPrompts::setSetting(const QString& section, const QString& key, const QString& value)
{
    settings.insert(section + QLatin1Char('/') + key, value);
}

} // namespace treelark
