// What every window test needs: scripted prompts installed fresh for each test (so no
// dialog ever waits and no real setting is touched), a clean document-changed state,
// and a scratch folder for the files the test writes.
#pragma once

#include "AppState.h"
#include "ScriptedPrompts.h"

#include <QFile>
#include <QObject>
#include <QStandardPaths>
#include <QTemporaryDir>

class WindowTestBase : public QObject {
protected:
    std::shared_ptr<treelark::ScriptedPrompts> script;
    QTemporaryDir dir;

    static void prepareRun() { QStandardPaths::setTestModeEnabled(true); }

    void resetState()
    {
        script = std::make_shared<treelark::ScriptedPrompts>();
        treelark::setPrompts(script);
        treelark::sDocumentFile.clear();
    }

    static void dropPrompts() { treelark::setPrompts(nullptr); }

    QString write(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return f.fileName();
    }
};
