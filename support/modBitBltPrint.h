// Pictures of windows as they are on screen, for printing.
#pragma once

#include <QPicture>
#include <QPixmap>

class QWidget;

namespace treelark {

// The rectangle (nLeft, nTop, nWidth, nHeight), in pixels measured from the window's
// outer top-left corner, of the whole window: title bar and borders included where the
// window system lets them be read (see the note in the source).
QPixmap GrabWindowImage(QWidget* hWnd, int nLeft, int nTop, int nWidth, int nHeight);

// The whole window of frmTarget, at its outer size.
QPixmap GrabFormImage(QWidget* frmTarget);

// A picture that draws hBitmap at its natural size with its top-left corner at the
// origin; it holds its own (shared) copy of the pixels.
QPicture BitmapToPicture(const QPixmap& hBitmap);

} // namespace treelark
