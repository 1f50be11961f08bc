#include "treelark/Prompts.h"

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

} // namespace treelark
