#include "modBitBltPrint.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace treelark {

namespace {

// The frame (title bar, borders) is drawn by the window manager, not by us, so the only
// way to read it is to read the screen where the window is. X11 lets any client do that.
// Wayland does not, and the offscreen platform has no frame at all: there we render the
// window ourselves, which gives its client area in place and leaves the frame's band (if
// any) white.
bool screenCanBeRead() { return QGuiApplication::platformName() == QLatin1String("xcb"); }

} // namespace

QPixmap GrabWindowImage(QWidget* hWnd, int nLeft, int nTop, int nWidth, int nHeight)
{
    if (!hWnd || nWidth <= 0 || nHeight <= 0)
        return QPixmap();
    QWidget* window = hWnd->window();
    const QRect frame = window->frameGeometry();
    if (screenCanBeRead() && window->isVisible() && !window->isMinimized()) {
        if (QScreen* screen = window->screen()) {
            // Reading the screen gives what is there, a window above ours included, as a
            // user looking at it would see it.
            QPixmap shot = screen->grabWindow(0, frame.x() + nLeft, frame.y() + nTop, nWidth, nHeight);
            if (!shot.isNull())
                return shot;
        }
    }
    const qreal ratio = window->devicePixelRatioF();
    QPixmap image(QSize(nWidth, nHeight) * ratio);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    QPainter painter(&image);
    const QPoint clientInFrame = window->geometry().topLeft() - frame.topLeft();
    window->render(&painter, clientInFrame - QPoint(nLeft, nTop));
    return image;
}

QPixmap GrabFormImage(QWidget* frmTarget)
{
    if (!frmTarget)
        return QPixmap();
    const QRect outer = frmTarget->window()->frameGeometry();
    return GrabWindowImage(frmTarget, 0, 0, outer.width(), outer.height());
}

QPicture BitmapToPicture(const QPixmap& hBitmap)
{
    QPicture picture;
    if (hBitmap.isNull())
        return picture;
    QPainter painter(&picture);
    painter.drawPixmap(QPointF(0, 0), hBitmap);
    return picture;
}

} // namespace treelark
