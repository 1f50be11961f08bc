#include "Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace treelark {

namespace {

QScreen* screenOf(const QWidget* w)
{
    if (w && w->screen())
        return w->screen();
    return QGuiApplication::primaryScreen();
}

double dpiX(const QWidget* w)
{
    QScreen* s = screenOf(w);
    return s ? s->logicalDotsPerInchX() : 96.0;
}

double dpiY(const QWidget* w)
{
    QScreen* s = screenOf(w);
    return s ? s->logicalDotsPerInchY() : 96.0;
}

} // namespace

int twipsToPixelsX(int twips, const QWidget* w) { return int(std::lround(twips * dpiX(w) / 1440.0)); }
int twipsToPixelsY(int twips, const QWidget* w) { return int(std::lround(twips * dpiY(w) / 1440.0)); }
int pixelsToTwipsX(int pixels, const QWidget* w) { return int(std::lround(pixels * 1440.0 / dpiX(w))); }
int pixelsToTwipsY(int pixels, const QWidget* w) { return int(std::lround(pixels * 1440.0 / dpiY(w))); }

} // namespace treelark
