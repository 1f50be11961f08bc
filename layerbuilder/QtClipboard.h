#pragma once

#include "Clipboard.h"

namespace treelark {

// The system clipboard.
class QtClipboard : public Clipboard {
public:
    void clear() override;
    void setText(const QString& text) override;
};

// The installed clipboard, or the system's when none was installed.
Clipboard& layerClipboard();

} // namespace treelark
