// The toolbar's "print": a snapshot of the main window on the printer, as it is on screen.
#include "frmMain.h"

#include "modBitBltPrint.h"
#include "treelark/Prompts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPicture>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace treelark {

namespace {

// The printer works at the screen's resolution, so a pixel of the snapshot prints as
// large as it shows: the picture's natural size.
void setUpPrinter(QPrinter& printer, const PrintRequest& chosen)
{
    if (!chosen.outputFileName.isEmpty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(chosen.outputFileName);
    } else if (!chosen.printerName.isEmpty()) {
        printer.setPrinterName(chosen.printerName);
    }
    printer.setCopyCount(std::max(1, chosen.copies));
    printer.setDocName(QStringLiteral("Snapshot"));
}

// Draws the copies the printer cannot make itself as pages of their own. Returns false
// when the printer could not be started.
bool paintSnapshot(QPrinter& printer, const QPicture& picture)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const int pages = printer.supportsMultipleCopies() ? 1 : printer.copyCount();
    for (int i = 0; i < pages; ++i) {
        if (i > 0 && !printer.newPage())
            return false;
        painter.drawPicture(1, 1, picture);
    }
    return painter.end();
}

} // namespace

void frmMain::printClicked()
{
    if (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier)
        PrintPreview();
    else
        PrintSnapshot();
}

// Nothing here is ever put to the user: a cancelled dialog ends it, and so does a failure,
// which goes to the log instead.
void frmMain::PrintSnapshot()
{
    try {
        const std::optional<PrintRequest> chosen = prompts().printDialog(PrintRequest{});
        if (!chosen)
            return;
        // the dialog has just left; what it covered must be painted again before the grab
        QCoreApplication::processEvents();
        repaint();
        const QPixmap bitmap = GrabFormImage(this);
        if (bitmap.isNull())
            qWarning("Print: the snapshot of the main window is empty");
        const QPicture picture = BitmapToPicture(bitmap);
        QPrinter printer(QPrinter::ScreenResolution);
        setUpPrinter(printer, *chosen);
        if (!printer.isValid()) {
            qWarning("Print: the printer \"%s\" cannot be used", qUtf8Printable(printer.printerName()));
            return;
        }
        if (!paintSnapshot(printer, picture))
            qWarning("Print: printing to \"%s\" failed",
                     qUtf8Printable(printer.outputFileName().isEmpty() ? printer.printerName()
                                                                       : printer.outputFileName()));
    } catch (const std::exception& e) {
        qWarning("Print: %s", e.what());
    }
}

void frmMain::PrintPreview()
{
    try {
        repaint();
        const QPicture picture = BitmapToPicture(GrabFormImage(this));
        QPrinter printer(QPrinter::ScreenResolution);
        QPrintPreviewDialog preview(&printer, this);
        preview.setObjectName(QStringLiteral("printPreview"));
        connect(&preview, &QPrintPreviewDialog::paintRequested, this, [&picture](QPrinter* target) {
            if (!paintSnapshot(*target, picture))
                qWarning("Print: printing from the preview failed");
        });
        preview.exec();
    } catch (const std::exception& e) {
        qWarning("Print: %s", e.what());
    }
}

} // namespace treelark
