/// \file
/// Everything that asks the user something or reads the user's environment goes through
/// this interface: message and input boxes, file dialogs, the print dialog, file facts
/// and the per-user settings. The program installs a real implementation at start-up;
/// tests install a scripted one. The core itself never opens a window.
#pragma once

#include "treelark/export.h"

#include <QString>

#include <memory>
#include <optional>

namespace treelark {

enum class MsgButtons { OK, YesNoCancel, YesNo, OKCancel };
enum class MsgResult { OK, Cancel, Yes, No };

struct FileDialogRequest {
    QString title;
    QString filter;        ///< "*.xml|*.xml|*.*|*.*": description and pattern pairs
    QString initialFolder;
    QString fileName;
};

struct PrintRequest {
    int copies = 1;
    QString printerName;    ///< "" for the system's default printer
    QString outputFileName; ///< set when the user chose to print into a (PDF) file
};

class TREELARK_CORE_EXPORT Prompts {
public:
    virtual ~Prompts();

    /// An empty title means the program's own title.
    virtual MsgResult message(const QString& text, MsgButtons buttons, const QString& title = QString()) = 0;
    /// nullopt when cancelled.
    virtual std::optional<QString> input(const QString& prompt, const QString& title, const QString& defaultText) = 0;
    virtual std::optional<QString> openFile(const FileDialogRequest& request) = 0;
    virtual std::optional<QString> saveFile(const FileDialogRequest& request) = 0;
    virtual std::optional<PrintRequest> printDialog(const PrintRequest& request) = 0;

    virtual bool fileExists(const QString& path) = 0;
    virtual bool fileIsReadOnly(const QString& path) = 0;

    virtual QString setting(const QString& section, const QString& key, const QString& defaultValue) = 0;
    virtual void setSetting(const QString& section, const QString& key, const QString& value) = 0;
};

/// The program's title, used for message boxes that name no title of their own.
TREELARK_CORE_EXPORT QString applicationTitle();

/// The prompts in force. Until the program installs its own, a silent stand-in answers
/// every question with Cancel (or OK where that is the only button) and reads the real
/// file system.
TREELARK_CORE_EXPORT Prompts& prompts();
TREELARK_CORE_EXPORT void setPrompts(std::shared_ptr<Prompts> p);

} ///< namespace treelark
