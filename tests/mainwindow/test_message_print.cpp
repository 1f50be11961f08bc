// "ShowText" and the toolbar's "print" on a real main window: the message window it
// opens, and the snapshot printed into a PDF file through the scripted print dialog.
#include "LargeTextView.h"
#include "WindowTestBase.h"
#include "frmMessage.h"

#include <QDir>
#include <QPointer>
#include <QRegularExpression>

using namespace treelark;

namespace {

// What a PDF written by Qt says about its pages and the images drawn on them: the page
// count, and per image its pixel size, its pixels and where its corners land on the page
// (in points, from the content stream's transformations before the image is drawn).
struct PdfImage {
    QSize pixels;
    QImage image;
    QRectF onPage;
};
struct PdfFacts {
    int pages = 0;
    QSizeF pageSize;
    QList<PdfImage> images;
};

PdfFacts readPdf(const QString& path)
{
    PdfFacts facts;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return facts;
    const QByteArray pdf = f.readAll();
    const QString text = QString::fromLatin1(pdf);
    facts.pages = int(text.count(QRegularExpression(QStringLiteral("/Type /Page\\b(?!s)"))));
    const auto box = QRegularExpression(QStringLiteral("/MediaBox \\[0 0 ([\\d.]+) ([\\d.]+)\\]")).match(text);
    if (box.hasMatch())
        facts.pageSize = QSizeF(box.captured(1).toDouble(), box.captured(2).toDouble());

    QMap<QString, QImage> jpegs; // object number -> image
    QList<QPair<QString, QRectF>> placed;
    const QRegularExpression cm(QStringLiteral("([-\\d.]+) ([-\\d.]+) ([-\\d.]+) ([-\\d.]+) ([-\\d.]+) ([-\\d.]+) cm"
                                               "|/Im(\\d+)\\s+Do"));
    for (qsizetype at = 0; (at = pdf.indexOf("stream\n", at)) >= 0;) {
        const qsizetype begin = at + 7;
        const qsizetype end = pdf.indexOf("endstream", begin);
        const qsizetype header = pdf.lastIndexOf(" obj", at);
        const QByteArray dict = pdf.mid(header, at - header);
        const QString number = QString::fromLatin1(pdf.mid(pdf.lastIndexOf('\n', header) + 1).split(' ').first());
        const QByteArray data = pdf.mid(begin, end - begin);
        if (dict.contains("/Subtype /Image") && dict.contains("/DCTDecode")) {
            jpegs[number] = QImage::fromData(data, "JPEG");
        } else if (dict.contains("/FlateDecode")) {
            QByteArray sized(4, '\0');
            sized[0] = 0x10; // room for what a page's drawing commands inflate to
            const QString content = QString::fromLatin1(qUncompress(sized + data));
            QTransform ctm;
            for (auto it = cm.globalMatch(content); it.hasNext();) {
                const auto m = it.next();
                if (m.captured(7).isEmpty()) {
                    const QTransform t(m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                                       m.captured(4).toDouble(), m.captured(5).toDouble(), m.captured(6).toDouble());
                    ctm = t * ctm;
                } else {
                    placed << qMakePair(m.captured(7), ctm.mapRect(QRectF(0, 0, 1, 1)));
                }
            }
        }
        at = end + 9;
    }
    for (const auto& [name, rect] : placed) {
        // "/ImN" names object N
        const QImage image = jpegs.value(name);
        facts.images << PdfImage{image.size(), image, rect};
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

    void printPutsTheWindowOnEachCopy_data()
    {
        QTest::addColumn<int>("copies");
        QTest::newRow("one") << 1;
        QTest::newRow("three") << 3;
    }

    void printPutsTheWindowOnEachCopy()
    {
        QFETCH(int, copies);
        frmMain w;
        showAndWait(w, QSize(640, 480));
        const QString pdf = dir.filePath(QStringLiteral("snap%1.pdf").arg(copies));
        script->queuePrint(PrintRequest{copies, QString(), pdf});
        w.toolbarClick("print");
        QCOMPARE(script->asked().size(), 1);
        const PdfFacts facts = readPdf(pdf);
        QCOMPARE(facts.pages, copies);
        QCOMPARE(facts.images.size(), copies);
        const QImage screen = w.grab().toImage();
        const QSize outer = w.frameGeometry().size();
        for (const PdfImage& shot : facts.images) {
            QCOMPARE(shot.pixels, outer);
            // natural size: one pixel of a 96 dpi screen is 0.75 point
            const qreal perPixel = 72.0 / w.logicalDpiX();
            QVERIFY2(qAbs(shot.onPage.width() - outer.width() * perPixel) < 0.5, qPrintable(QString::number(shot.onPage.width())));
            QVERIFY(qAbs(shot.onPage.height() - outer.height() * perPixel) < 0.5);
            // its top-left corner within the page's top-left inch
            QVERIFY2(shot.onPage.left() >= 0 && shot.onPage.left() < 72, qPrintable(QString::number(shot.onPage.left())));
            QVERIFY(facts.pageSize.height() - shot.onPage.bottom() >= 0);
            QVERIFY(facts.pageSize.height() - shot.onPage.bottom() < 72);
            // and it is the window: the client area sits inside the frame's band
            const QPoint client = w.geometry().topLeft() - w.frameGeometry().topLeft();
            const QImage inner = shot.image.copy(QRect(client, screen.size()));
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
