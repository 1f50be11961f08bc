// The prompts the program uses: Qt dialogs, the real file system and QSettings.
#pragma once

#include "treelark/Prompts.h"

class QWidget;

namespace treelark {

class QtPrompts : public Prompts {
public:
    // Dialogs are parented to the active window, or to `fallbackParent` when none is.
    explicit QtPrompts(QWidget* fallbackParent = nullptr) : m_fallback(fallbackParent) {}
    void setFallbackParent(QWidget* w) { m_fallback = w; }

    MsgResult message(const QString& text, MsgButtons buttons, const QString& title = QString()) override;
    std::optional<QString> input(const QString& prompt, const QString& title, const QString& defaultText) override;
    std::optional<QString> openFile(const FileDialogRequest& request) override;
    std::optional<QString> saveFile(const FileDialogRequest& request) override;
    std::optional<PrintRequest> printDialog(const PrintRequest& request) override;
    bool fileExists(const QString& path) override;
    bool fileIsReadOnly(const QString& path) override;
    QString setting(const QString& section, const QString& key, const QString& defaultValue) override;
    void setSetting(const QString& section, const QString& key, const QString& value) override;

    // "*.xml|*.xml|*.*|*.*" → "*.xml (*.xml);;*.* (*)"
    static QString toQtFilter(const QString& filter);

private:
    QWidget* parent() const;
    QWidget* m_fallback;
};

} // namespace treelark
