#include "PrintController.h"

#include "modBitBltPrint.h"
#include "treelark/Prompts.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QPicture>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QWidget>

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

void PrintController::clicked()
{
    if (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier)
        PrintPreview();
    else
        PrintSnapshot();
}

void PrintController::PrintSnapshot()
{
    try {
        const std::optional<PrintRequest> chosen = prompts().printDialog(PrintRequest{});
        if (!chosen)
            return;
        // the dialog has just left; what it covered must be painted again before the grab
        QCoreApplication::processEvents();
        m_window->repaint();
        const QPixmap bitmap = GrabFormImage(m_window);
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

void PrintController::PrintPreview()
{
    try {
        m_window->repaint();
        const QPicture picture = BitmapToPicture(GrabFormImage(m_window));
        QPrinter printer(QPrinter::ScreenResolution);
        QPrintPreviewDialog preview(&printer, m_window);
        preview.setObjectName(QStringLiteral("printPreview"));
        QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, m_window, [&picture](QPrinter* target) {
            if (!paintSnapshot(*target, picture))
                qWarning("Print: printing from the preview failed");
        });
        preview.exec();
    } catch (const std::exception& e) {
        qWarning("Print: %s", e.what());
    }
}

} // namespace treelark
