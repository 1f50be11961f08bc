// Hostile documents loaded the way a user loads them (name box, then Load). What the
// loader refuses is the core suite's business; here the window must say why, show none
// of it, stay within two seconds and 200 MB, and afterwards still load, search and save
// a good file. Saving that fails must keep the document marked changed and the old file.
#include "../core/file_size_limit.h"
#include "../core/hostile_docs.h"
#include "WindowTestBase.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QTextEdit>
#include <QUrl>

using namespace treelark;

class HostileWindowTest : public WindowTestBase {
    Q_OBJECT

private:
    void loadInWindow(frmMain& w, const QString& path, const QString& name)
    {
        w.txtNodeName->setText(path);
        const hostile::Cost c = hostile::measure(name, [&] { w.toolbarClick("load"); });
        QVERIFY2(c.millis < hostile::kMaxMillis, qPrintable(name));
        QVERIFY2(c.peakMegabytes < hostile::kMaxMegabytes, qPrintable(name));
    }

    // After whatever came before, the window loads, searches and saves a good document.
    void stillUsable(frmMain& w)
    {
        const QString good = write("good.xml", "<FrameworkConfig TagName=\"FrameworkConfig\">\n"
                                               "  <ApLayer TagName=\"A\" Name=\"Roads\"/>\n"
                                               "  <ApLayer TagName=\"B\"/>\n"
                                               "</FrameworkConfig>\n");
        w.txtNodeName->setText(good);
        w.toolbarClick("load");
        QCOMPARE(topTexts(w), QStringList{"FrameworkConfig (FrameworkConfig)"});
        w.txtNodeName->setText("ApLayer");
        w.cmdGetNode_MouseDown(Qt::NoModifier);
        QCOMPARE(w.statusText(), QString("nNodes=2"));
        QVERIFY(w.selectedItem() && w.selectedItem()->text == "ApLayer (A,Roads)");
        const QString copy = dir.filePath("good-copy.xml");
        QFile::remove(copy);
        w.editor()->setModified(true);
        script->queueSave(copy);
        QVERIFY(w.SaveDocument());
        QVERIFY(!w.editor()->isModified());
        QCOMPARE(readAll(copy), readAll(good));
    }

private slots:
    // An empty `root` means refused: a reason on screen and an empty tree.
    void eachDocumentIsShownOrRefusedAndTheWindowGoesOn()
    {
        write("bomb.dtd", hostile::parameterBombDtd());
        write("local.dtd", "<!ELEMENT r (#PCDATA)><!ENTITY who 'the dtd'>");
        const QString secret = write("secret.txt", "LOCAL-SECRET");
        const QString text = QString::fromUtf8("grüße 日本");
        const struct {
            const char* name;
            QByteArray bytes;
            bool validate;
            QString root;
            QString rootText = {};
        } cases[] = {
            {"billion laughs", hostile::billionLaughs(), false, ""},
            {"quadratic blowup", hostile::quadraticBlowup(), true, ""},
            {"levels through entities", hostile::deepThroughEntities(30, 2000), false, ""},
            {"parameter-entity bomb", "<!DOCTYPE r SYSTEM 'bomb.dtd'><r/>", true, ""},
            {"gzip named .xml", hostile::gzip("<r>" + QByteArray(16 << 20, 'x') + "</r>"), false, ""},
            {"invalid UTF-8", "<r>ok \xC3\x28 broken</r>", false, ""},
            {"empty", "", false, ""},
            {"binary", hostile::binaryJunk(1 << 20), false, ""},
            {"a million levels", hostile::nested(1000000), false, ""},
            {"100,000 attributes", hostile::manyAttributes(100000), false, ""},
            {"external entity", "<!DOCTYPE r [<!ENTITY e SYSTEM '" + QUrl::fromLocalFile(secret).toEncoded()
                                    + "'>]><r>&e;</r>",
             false, "r", ""},
            {"local DTD, validating", "<!DOCTYPE r SYSTEM 'local.dtd'><r>by &who;</r>", true, "r", "by the dtd"},
            {"local DTD, not validating", "<!DOCTYPE r SYSTEM 'local.dtd'><r>by &who;</r>", false, "r", "by "},
            {"UTF-16 with BOM", hostile::utf16le("<r Name=\"" + text + "\">" + text + "</r>"), false,
             "r(" + text + ")", text},
            {"Shift_JIS",
             "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r Name=\"\x93\xfa\x96\x7b\">\x93\xfa\x96\x7b</r>", false,
             QString::fromUtf8("r(日本)")},
            {"1 MB attribute", "<r Name=\"" + QByteArray(1 << 20, 'v') + "\"/>", false,
             "r(" + QString(1 << 20, QLatin1Char('v')) + ")"},
        };
        frmMain w;
        for (const auto& c : cases) {
            (c.validate ? w.optOn : w.optOff)->click();
            const QString path = write("case.xml", c.bytes);
            loadInWindow(w, path, QString(c.name) + " (window)");
            const DOMParseError& e = w.document()->parseError();
            if (c.root.isEmpty()) {
                QVERIFY2(e.errorCode != 0 && !e.reason.trimmed().isEmpty(), c.name);
                QCOMPARE(topTexts(w), QStringList{""});
                QVERIFY2(w.windowTitle().startsWith("Treelark [win] " + path), c.name);
            } else {
                QVERIFY2(e.errorCode == 0, qPrintable(c.name + (": " + e.reason)));
                QCOMPARE(topTexts(w), QStringList{c.root});
                if (!c.rootText.isNull())
                    QCOMPARE(w.document()->documentElement().text(), c.rootText);
            }
            QVERIFY2(!w.txtInfo->toPlainText().contains("SECRET"), c.name);
            stillUsable(w);
        }
        for (const QString& path : {dir.path(), dir.filePath("missing.xml")}) {
            loadInWindow(w, path, path);
            QVERIFY(w.document()->parseError().errorCode != 0);
            QCOMPARE(topTexts(w), QStringList{""});
            stillUsable(w);
        }
    }

    // Rows this deep start far to the right: the column widens to reach them, and a
    // search from a collapsed tree opens the way down.
    void twoHundredFiftySixLevelsCanBeOpenedAndSearched()
    {
        frmMain w;
        showAndWait(w, QSize(800, 600));
        w.optOff->click();
        loadInWindow(w, write("deep256.xml", hostile::namedLevels(256)), "256 levels (window)");
        DocumentTreeModel* m = w.treeModel();
        TreeItem* item = m->topLevelItem(0);
        QCOMPARE(item->text, QString("n0(level 0)"));
        for (int level = 1; level < 256; ++level) {
            w.TreeView1->expand(m->indexOf(item));
            QVERIFY(w.TreeView1->isExpanded(m->indexOf(item)));
            QCOMPARE(m->childCount(item), 1);
            item = m->child(item, 0);
            QCOMPARE(item->text, QStringLiteral("n%1(level %1)").arg(level));
        }
        w.TreeView1->expand(m->indexOf(item));
        QCOMPARE(m->child(item, 0)->text, QString("#text"));
        w.TreeView1->scrollTo(m->indexOf(m->child(item, 0)));
        QApplication::processEvents();
        QVERIFY(w.TreeView1->visualRect(m->indexOf(m->child(item, 0))).isValid());

        w.TreeView1->collapseAll();
        w.txtNodeName->setText("n255");
        w.cmdGetNode_MouseDown(Qt::NoModifier);
        QCOMPARE(w.statusText(), QString("nNodes=1"));
        QVERIFY(w.selectedItem());
        QCOMPARE(w.selectedItem()->text, QString("n255(level 255)"));
        QVERIFY(w.txtInfo->toPlainText().endsWith("\n" + hostile::levelPath(256) + "\n"));
        stillUsable(w);
    }

    // Describing a node must not try to show 20 MB, nor take long over 10,000 attributes.
    void hugeNodesAreDescribedQuickly()
    {
        frmMain w;
        showAndWait(w, QSize(800, 600));
        w.optOff->click();
        loadInWindow(w, write("text.xml", "<r>" + QByteArray(20 << 20, 't') + "</r>"), "20 MB text node (window)");
        w.txtNodeName->setText("r");
        QVERIFY(hostile::measure("search beside 20 MB of text", [&] { w.cmdGetNode_MouseDown(Qt::NoModifier); }).millis
                < hostile::kMaxMillis);
        QVERIFY(w.txtInfo->toPlainText().size() < (1 << 20));

        loadInWindow(w, write("limit.xml", hostile::manyAttributes(10000)), "10,000 attributes (window)");
        w.txtNodeName->setText("r");
        QVERIFY(hostile::measure("describe 10,000 attributes", [&] { w.cmdGetNode_MouseDown(Qt::NoModifier); }).millis
                < hostile::kMaxMillis);
        QVERIFY(w.txtInfo->toPlainText().contains("9999:a9999=v"));
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
            w.editor()->setModified(true);
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
        QCOMPARE(QFileInfo(limited).size(), (2 << 20) + 7); // the bytes it was read from
    }
};

QTEST_MAIN(HostileWindowTest)
#include "test_hostile_window.moc"