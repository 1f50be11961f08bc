// What the core tells a window about a load in progress and the file behind a document:
// a load the user stops changes nothing, a fault comes with its line, and a file someone
// else changed is told apart from one this document last read or wrote.
#include "test_support.h"
#include "treelark/ApXmlMgr.h"
#include "treelark/Busy.h"
#include "treelark/dom.h"
#include "stop_long_commands.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace treelark;
using testsupport::writeFile;

TEST(LoadCancel, StoppedLoadKeepsThePreviousDocumentAndTellsNoOne)
{
    QTemporaryDir dir;
    const QString small = writeFile(dir, "small.xml", "<kept/>");
    const QByteArray row = "<row n='1'>some text to read</row>\n";
    const QString big = writeFile(dir, "big.xml", "<r>" + row.repeated(100000) + "</r>"); // several progress reports
    ApXmlMgr mgr;
    ASSERT_EQ(mgr.LoadXml(small, false), 0);
    const DOMDocumentPtr before = mgr.DOMDoc();
    int ready = 0;
    QObject::connect(&mgr, &ApXmlMgr::DOMReady, [&ready](DOMDocumentPtr) { ++ready; });
    int reports = 0;
    QObject::connect(&mgr, &ApXmlMgr::LoadProgress, [&reports](qint64, qint64) {
        if (++reports == 1)
            requestCancel();
    });
    EXPECT_EQ(mgr.LoadXml(big, false), qint32(DOMError::Cancelled));
    EXPECT_EQ(mgr.DOMDoc(), before);
    EXPECT_EQ(mgr.sXMLFileName(), small);
    EXPECT_EQ(ready, 0);
    EXPECT_EQ(mgr.lastError(), "The load was cancelled.");

    // A request left over from before does not stop the next load.
    requestCancel();
    EXPECT_EQ(mgr.LoadXml(big, false), 0);
    EXPECT_EQ(mgr.DOMDoc()->parseError().errorCode, 0);
    EXPECT_EQ(ready, 1);
}

TEST(LoadCancel, AFileWrittenToWhileItIsReadIsRefusedWithTheReason)
{
    QTemporaryDir dir;
    const QByteArray row = "<row n='1'>some text to read</row>\n";
    const QString big = writeFile(dir, "big.xml", "<r>" + row.repeated(100000) + "</r>");
    ApXmlMgr mgr;
    int reports = 0;
    QObject::connect(&mgr, &ApXmlMgr::LoadProgress, [&](qint64, qint64) {
        if (++reports != 1)
            return;
        // Someone else appends a comment: still well-formed, but not the file first read.
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("<!-- later -->");
    });
    mgr.LoadXml(big, false);
    EXPECT_NE(mgr.DOMDoc()->parseError().errorCode, 0);
    EXPECT_TRUE(mgr.DOMDoc()->documentElement().isNull());
    EXPECT_TRUE(mgr.lastError().contains("changed on disk while it was being read")) << mgr.lastError().toStdString();
    // Read again as it is now, it loads.
    EXPECT_EQ(mgr.LoadXml(big, false), 0);
    EXPECT_EQ(mgr.DOMDoc()->documentElement().childNodes().length(), 100000);
}

TEST(LoadCancel, OnlyALongCommandStopsAndItLeavesTheDocumentAsItWas)
{
    const QByteArray row = "<row n='1'><cell>text</cell></row>";
    const DOMDocumentPtr doc = DOMDocument::create();
    ASSERT_TRUE(doc->loadXML("<r><big>" + row.repeated(3000) + "</big><to/></r>"));
    const DOMNode big = doc->documentElement().firstChild();
    const QByteArray before = doc->saveToBytes();
    // Asked for outside a long command, a stop stops nothing.
    requestCancel();
    EXPECT_EQ(doc->importNode(big, true).childNodes().length(), 3000);
    EXPECT_FALSE(stopRequested());
    // Inside one, the copy stops and says so; the stop is forgotten once it is over.
    int result = 0, text = 0;
    {
        const testsupport::StopEveryLongCommand stop;
        result = testsupport::errorOfLongCommand(
            [&] { doc->documentElement().lastChild().appendChild(doc->importNode(big, true)); });
        // The document's text is not given in part either.
        text = testsupport::errorOfLongCommand([&] { doc->xmlUtf8(); });
    }
    EXPECT_EQ(result, int(DOMError::Cancelled));
    EXPECT_EQ(text, int(DOMError::Cancelled));
    EXPECT_FALSE(cancelRequested());
    EXPECT_EQ(doc->saveToBytes(), before);
    EXPECT_EQ(doc->xmlUtf8(), before);
}

TEST(LoadCancel, AStoppedSaveLeavesTheOldFileAndNothingBesideIt)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "doc.xml", "<old/>");
    const DOMDocumentPtr doc = DOMDocument::create();
    ASSERT_TRUE(doc->loadXML("<r>" + QByteArray("<row>text</row>").repeated(5000) + "</r>"));
    {
        const testsupport::StopEveryLongCommand stop;
        try {
            runLongCommand([&] { doc->save(path); });
            ADD_FAILURE() << "the save was not stopped";
        } catch (const DOMException& e) {
            EXPECT_TRUE(e.description().startsWith("Saving was stopped"));
            EXPECT_EQ(int(e.code()), int(DOMError::Cancelled));
        }
    }
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "<old/>");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"doc.xml"});
    doc->save(path); // and saves when nobody stops it
    EXPECT_GT(QFileInfo(path).size(), 5000 * 15);
}

TEST(LoadFault, ComesWithTheLineItIsOn)
{
    struct Case {
        QByteArray text;
        qint64 line;
        QString srcText; // "" where the line cannot be shown
    } cases[] = {
        {"<a>\n  <b>text</a>\n</a>\n", 2, "  <b>text</a>"},
        {"<a>\r\n\t<b x='1' x='2'/>\r\n</a>", 2, "\t<b x='1' x='2'/>"},
        {"<a>\n<b>\n", 3, ""},                                          // the end of the text
        {"<!DOCTYPE a [<!ENTITY e '<b>'>]>\n<a>&e;</a>\n", 2, "<a>&e;</a>"}, // fault inside an entity
    };
    for (const Case& c : cases) {
        const DOMDocumentPtr doc = DOMDocument::create();
        EXPECT_FALSE(doc->loadXML(c.text));
        const DOMParseError& err = doc->parseError();
        EXPECT_EQ(err.line, c.line) << c.text.constData();
        EXPECT_EQ(err.srcText, c.srcText) << c.text.constData();
        if (!err.srcText.isEmpty()) {
            EXPECT_LE(err.linepos, err.srcText.size() + 1);
        }
    }
}

TEST(ChangedOnDisk, OnlySomeoneElsesChangeToTheFileReadCounts)
{
    QTemporaryDir dir;
    const QString path = writeFile(dir, "a.xml", "<a><b/></a>\n");
    const QString other = dir.filePath("other.xml");
    const DOMDocumentPtr doc = DOMDocument::create();
    ASSERT_TRUE(doc->load(path));
    EXPECT_FALSE(doc->changedOnDisk(path));
    EXPECT_FALSE(doc->changedOnDisk(other));
    EXPECT_FALSE(testsupport::parsed("<a/>")->changedOnDisk(path)); // read from text

    // Our own saves move what the file is expected to be; saves elsewhere do not.
    doc->documentElement().setAttribute("n", "1");
    doc->save(path);
    EXPECT_FALSE(doc->changedOnDisk(path));
    doc->save(other);
    EXPECT_FALSE(doc->changedOnDisk(other));

    // Same size, time set back: only the content tells.
    const QFileInfo info(path);
    const QDateTime when = info.lastModified();
    QByteArray bytes = testsupport::readFile(path);
    bytes.replace("n=\"1\"", "n=\"2\"");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.flush();
        f.setFileTime(when, QFileDevice::FileModificationTime);
    }
    ASSERT_EQ(QFileInfo(path).lastModified(), when);
    EXPECT_TRUE(doc->changedOnDisk(path));
    doc->save(path);
    EXPECT_FALSE(doc->changedOnDisk(path));
    QFile::remove(path);
    EXPECT_TRUE(doc->changedOnDisk(path));
}
