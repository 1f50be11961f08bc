// Hostile documents loaded the way a user loads them (name box, then Load). What the
// loader refuses is the core suite's business; here the window must say why, show none
// of it, stay within 200 MB, and afterwards still load, search and save
// a good file. Saving that fails must keep the document marked changed and the old file.
#include "../core/file_size_limit.h"
#include "../core/hostile_docs.h"
#include "WindowTestBase.h"

#include <QFileInfo>
#include <QUrl>

using namespace treelark;

class HostileWindowTest : public WindowTestBase {
    Q_OBJECT

private:
    void loadInWindow(frmMain& w, const QString& path, const QString& name)
    {
        w.txtNodeName->setText(path);
        const hostile::Cost c = hostile::measure(name, [&] { w.toolbarClick("load"); });
        QVERIFY2(c.peakMegabytes < hostile::kMaxMegabytes, qPrintable(name));
    }

    // After whatever came before, the window loads, searches and saves a good document.
    void stillUsable(frmMain& w)
    {
        const QString good = write("good.xml", "<FrameworkConfig><ApLayer TagName=\"A\" Name=\"Roads\"/><ApLayer/>"
                                               "</FrameworkConfig>\n");
        w.txtNodeName->setText(good);
        w.toolbarClick("load");
        w.txtNodeName->setText("ApLayer");
        w.cmdGetNode_MouseDown(Qt::NoModifier);
        QCOMPARE(w.statusText(), QString("nNodes=2"));
        const QString copy = dir.filePath("good-copy.xml");
        QFile::remove(copy);
        script->queueSave(copy);
        QVERIFY(w.SaveDocument());
        QCOMPARE(readAll(copy), readAll(good));
    }

private slots:
    // A bomb is refused with its reason on screen; an external entity loads without
    // what it points at; a 20 MB text is described cut short.
    void theWindowSaysWhyShowsNoneOfItAndGoesOn()
    {
        const QString secret = write("secret.txt", "LOCAL-SECRET");
        frmMain w;
        w.optOff->click();
        const QString bomb = write("bomb.xml", hostile::billionLaughs());
        loadInWindow(w, bomb, "billion laughs (window)");
        const DOMParseError& e = w.document()->parseError();
        QVERIFY(e.errorCode != 0 && !e.reason.trimmed().isEmpty());
        QVERIFY(w.txtInfo->toPlainText().contains("The document could not be loaded: " + e.reason));
        QCOMPARE(childTexts(w, nullptr), QStringList{""});
        stillUsable(w);

        loadInWindow(w, write("entity.xml", "<!DOCTYPE r [<!ENTITY e SYSTEM '" + QUrl::fromLocalFile(secret).toEncoded()
                                                + "'>]><r>&e;</r>"),
                     "external entity (window)");
        QCOMPARE(childTexts(w, nullptr), QStringList{"r"});
        QVERIFY(!w.txtInfo->toPlainText().contains("SECRET") && !w.document()->xml().contains("SECRET"));

        loadInWindow(w, write("text.xml", "<r>" + QByteArray(20 << 20, 't') + "</r>"), "20 MB text node (window)");
        w.txtNodeName->setText("r");
        QVERIFY(hostile::measure("search beside 20 MB of text", [&] { w.cmdGetNode_MouseDown(Qt::NoModifier); })
                    .peakMegabytes < hostile::kMaxMegabytes);
        QVERIFY(w.txtInfo->toPlainText().size() < 10000 && w.txtInfo->toPlainText().contains("text cut"));
        stillUsable(w);
    }

    // The disk-level failures are the safe-save suite's; here: one message naming the
    // trouble, the document still changed, the old file as it was, and a later save works.
    void aFailedSaveKeepsTheOldFileAndTheDocumentChanged()
    {
        frmMain w;
        w.optOff->click();
        loadInWindow(w, write("two-mb.xml", "<r>" + QByteArray(2 << 20, 'x') + "</r>"), "2 MB (window)");
        const QString blocker = write("plain-file", "not a folder");
        const QString limited = write("limited.xml", "<old>kept</old>\n");
        for (bool underAFile : {true, false}) {
            dirty(w);
            script->clearAsked();
            if (underAFile) {
                script->queueSave(blocker + "/x.xml");
            } else {
                script->queueSave(limited);
                script->queueMessage(MsgResult::Yes); // overwrite
            }
            {
                FileSizeLimit limit(64 * 1024);
                QVERIFY(!w.SaveDocument());
            }
            QVERIFY(w.editor()->isModified());
            const QStringList shown = script->messagesShown();
            QCOMPARE(shown.size(), underAFile ? 1 : 2); // after the overwrite question
            QVERIFY2(!underAFile || shown.last().contains(blocker), qPrintable(shown.last()));
        }
        QCOMPARE(readAll(blocker), QByteArray("not a folder"));
        QCOMPARE(readAll(limited), QByteArray("<old>kept</old>\n"));
        script->queueSave(limited);
        script->queueMessage(MsgResult::Yes);
        QVERIFY(w.SaveDocument());
        QVERIFY(!w.editor()->isModified());
        QCOMPARE(QFileInfo(limited).size(), (2 << 20) + 7 + 12); // as read, and ` Changed="1"`
    }
};

QTEST_MAIN(HostileWindowTest)
#include "test_hostile_window.moc"
