// Window geometry is designed in twips (1/1440 inch); the screen's logical DPI turns
// them into pixels.
#pragma once

class QWidget;

namespace treelark {

int twipsToPixelsX(int twips, const QWidget* reference = nullptr);
int twipsToPixelsY(int twips, const QWidget* reference = nullptr);
int pixelsToTwipsX(int pixels, const QWidget* reference = nullptr);
int pixelsToTwipsY(int pixels, const QWidget* reference = nullptr);

} // namespace treelark
