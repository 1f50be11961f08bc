#include "QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace treelark {

void QtClipboard::clear() { QGuiApplication::clipboard()->clear(); }

void QtClipboard::setText(const QString& text) { QGuiApplication::clipboard()->setText(text); }

Clipboard& layerClipboard()
{
    static QtClipboard system;
    Clipboard* installed = installedClipboard();
    return installed ? *installed : system;
}

} // namespace treelark
