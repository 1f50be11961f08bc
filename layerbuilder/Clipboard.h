// Where the builder puts its text. The program uses the system clipboard; tests install
// a RecordingClipboard.
#pragma once

#include <QStringList>

#include <memory>

namespace treelark {

class Clipboard {
public:
    virtual ~Clipboard();
    virtual void clear() = 0;
    virtual void setText(const QString& text) = 0;
};

// The clipboard installed with setClipboard, or nullptr.
Clipboard* installedClipboard();
void setClipboard(std::shared_ptr<Clipboard> clipboard);

class RecordingClipboard : public Clipboard {
public:
    void clear() override
    {
        ++clears;
        current.clear();
    }
    void setText(const QString& text) override
    {
        texts << text;
        current = text;
    }

    int clears = 0;
    QStringList texts;   // every text put on it, in order
    QString current;     // what a paste would give now
};

} // namespace treelark
