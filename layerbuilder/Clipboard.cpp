#include "Clipboard.h"

namespace treelark {

namespace {

std::shared_ptr<Clipboard>& installed()
{
    static std::shared_ptr<Clipboard> clipboard;
    return clipboard;
}

} // namespace

Clipboard::~Clipboard() = default;

Clipboard* installedClipboard() { return installed().get(); }

void setClipboard(std::shared_ptr<Clipboard> clipboard) { installed() = std::move(clipboard); }

} // namespace treelark
