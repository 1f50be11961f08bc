// "ShowText" and the toolbar's "print" on a real main window: the message window it
// opens, and the snapshot printed into a PDF file through the scripted print dialog
// (where on the page it lands is Qt's printer's business).
#include "LargeTextView.h"
#include "WindowTestBase.h"
#include "frmMessage.h"

#include <QDir>
#include <QPointer>
#include <QRegularExpression>

using namespace treelark;

namespace {

// What a PDF written by Qt holds: its page count and the JPEG images drawn on its pages.
struct PdfFacts {
    int pages = 0;
    QList<QImage> images;
};

PdfFacts readPdf(const QString& path)
{
    PdfFacts facts;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return facts;
    const QByteArray pdf = f.readAll();
    facts.pages = int(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type /Page\\b(?!s)"))));
    for (qsizetype at = 0; (at = pdf.indexOf("stream\n", at)) >= 0;) {
        const qsizetype begin = at + 7, end = pdf.indexOf("endstream", begin);
        const QByteArray dict = pdf.mid(pdf.lastIndexOf(" obj", at), at - pdf.lastIndexOf(" obj", at));
        if (dict.contains("/Subtype /Image") && dict.contains("/DCTDecode"))
            facts.images << QImage::fromData(pdf.mid(begin, end - begin), "JPEG");
        at = end + 9;
    }
    return facts;
}

// How far apart two images of the same size are: the mean difference per channel, 0..255.
double meanDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    if (x.size() != y.size() || x.isNull())
        return 255;
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

} // namespace

class MessagePrintTest : public WindowTestBase {
    Q_OBJECT

private slots:
    void showTextShowsTheWholeDocumentInOneReusedWindow()
    {
        const QByteArray doc = "<FrameworkConfig>\n  <ApLayers>\n    <ApLayer Name=\"Stra\xC3\x9F" "e\"/>\n"
                               "  </ApLayers>\n</FrameworkConfig>\n";
        frmMain w(write("doc.xml", doc));
        showAndWait(w, QSize(640, 480));
        w.runMenuCommand("ShowText");
        auto* message = w.findChild<frmMessage*>();
        QVERIFY(message);
        QVERIFY(message->isVisible());
        QCOMPARE(message->txtMessage->bytes(), w.document()->xmlUtf8());
        QCOMPARE(message->txtMessage->lineText(2), QString::fromUtf8("    <ApLayer Name=\"Stra\xC3\x9F" "e\"/>"));
        QVERIFY(script->messagesShown().isEmpty());

        // an edit, then ShowText again: the same window, the new text
        w.document()->documentElement().appendChild(w.document()->createElement("Added"));
        w.runMenuCommand("ShowText");
        QCOMPARE(w.findChildren<frmMessage*>(), QList<frmMessage*>{message});
        QVERIFY(message->txtMessage->bytes().contains("<Added/>"));

        // closing it lets it go; the next ShowText opens a fresh one
        QPointer<frmMessage> closed = message;
        message->close();
        QTRY_VERIFY(closed.isNull());
        w.runMenuCommand("ShowText");
        QVERIFY(w.findChild<frmMessage*>());
    }

    // A file printer makes no copies itself: each is a page of its own.
    void printPutsTheWindowOnEachCopy()
    {
        const int copies = 3;
        frmMain w;
        showAndWait(w, QSize(640, 480));
        const QString pdf = dir.filePath(QStringLiteral("snap.pdf"));
        script->queuePrint(PrintRequest{copies, QString(), pdf});
        w.toolbarClick("print");
        QCOMPARE(script->asked().size(), 1);
        const PdfFacts facts = readPdf(pdf);
        QCOMPARE(facts.pages, copies);
        QCOMPARE(facts.images.size(), copies);
        const QImage screen = w.grab().toImage();
        for (const QImage& shot : facts.images) {
            // the whole window, frame and all; the client area sits inside the frame's band
            QCOMPARE(shot.size(), w.frameGeometry().size());
            const QPoint client = w.geometry().topLeft() - w.frameGeometry().topLeft();
            const QImage inner = shot.copy(QRect(client, screen.size()));
            QVERIFY2(meanDifference(inner, screen) < 8, qPrintable(QString::number(meanDifference(inner, screen))));
        }
    }

    // A cancelled dialog prints nothing; a print that fails is logged, not shown.
    void cancelledOrFailedPrintsShowNothing()
    {
        frmMain w;
        showAndWait(w, QSize(640, 480));
        const QStringList before = QDir(dir.path()).entryList(QDir::Files);
        script->queuePrint(std::nullopt);
        w.toolbarClick("print");
        QCOMPARE(script->asked().size(), 1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), before);
        script->queuePrint(PrintRequest{1, QString(), dir.filePath("no/such/folder/snap.pdf")});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Print: "));
        w.toolbarClick("print");
        QVERIFY(script->messagesShown().isEmpty());
        QVERIFY(w.isVisible());
    }
};

QTEST_MAIN(MessagePrintTest)
#include "test_message_print.moc"
