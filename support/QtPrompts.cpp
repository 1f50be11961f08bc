#include "QtPrompts.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QSettings>

namespace treelark {

QWidget* QtPrompts::parent() const
{
    QWidget* w = QApplication::activeWindow();
    return w ? w : m_fallback;
}

MsgResult QtPrompts::message(const QString& text, MsgButtons buttons, const QString& title)
{
    QMessageBox box(parent());
    box.setWindowTitle(title.isEmpty() ? applicationTitle() : title);
    // Messages quote node texts and names, which may look like markup: shown as written.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (buttons) {
    case MsgButtons::OK:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case MsgButtons::OKCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case MsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return MsgResult::OK;
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    default: return MsgResult::Cancel;
    }
}

std::optional<QString> QtPrompts::input(const QString& prompt, const QString& title, const QString& defaultText)
{
    QInputDialog dialog(parent());
    dialog.setWindowTitle(title.isEmpty() ? applicationTitle() : title);
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    for (QLabel* label : dialog.findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

QString QtPrompts::toQtFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
        out << QStringLiteral("%1 (%2)").arg(parts[i], pattern.replace(QLatin1Char(';'), QLatin1Char(' ')));
    }
    return out.join(QLatin1String(";;"));
}

static QString startPath(const FileDialogRequest& r)
{
    if (r.initialFolder.isEmpty())
        return r.fileName;
    return QDir(r.initialFolder).filePath(r.fileName);
}

std::optional<QString> QtPrompts::openFile(const FileDialogRequest& request)
{
    const QString path = QFileDialog::getOpenFileName(parent(), request.title, startPath(request),
                                                      toQtFilter(request.filter));
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

// The program asks about overwriting itself, so the dialog must not.
std::optional<QString> QtPrompts::saveFile(const FileDialogRequest& request)
{
    const QString path = QFileDialog::getSaveFileName(parent(), request.title, startPath(request),
                                                      toQtFilter(request.filter), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<PrintRequest> QtPrompts::printDialog(const PrintRequest& request)
{
    QPrinter printer;
    if (!request.printerName.isEmpty())
        printer.setPrinterName(request.printerName);
    if (!request.outputFileName.isEmpty())
        printer.setOutputFileName(request.outputFileName);
    printer.setCopyCount(request.copies);
    QPrintDialog dialog(&printer, parent());
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    // The dialog's printer goes out of scope: hand back what the caller needs to set up
    // its own, including "print to file", which the dialog offers as a PDF destination.
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
    return PrintRequest{printer.copyCount(), printer.printerName(), toFile ? printer.outputFileName() : QString()};
}

bool QtPrompts::fileExists(const QString& path) { return QFileInfo(path).isFile(); }

bool QtPrompts::fileIsReadOnly(const QString& path)
{
    QFileInfo info(path);
    return info.exists() && !info.isWritable();
}

// The settings store belongs to the executable's name, as users of the old program
// expect to find it.
#define QUENMOOR_SETTINGS QSettings store(QStringLiteral("Quenmoor"), QStringLiteral("Quenmoor"))

QString QtPrompts::setting(const QString& section, const QString& key, const QString& defaultValue)
{
    QUENMOOR_SETTINGS;
    return store.value(section + QLatin1Char('/') + key, defaultValue).toString();
}

void QtPrompts::setSetting(const QString& section, const QString& key, const QString& value)
{
    QUENMOOR_SETTINGS;
    store.setValue(section + QLatin1Char('/') + key, value);
}

} // namespace treelark
