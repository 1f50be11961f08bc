// Hostile documents loaded the way a user loads them (name box, then Load), each held
// to two seconds and 200 MB, and after each one the window must still do its job: load
// a good file, search it and save it. Saving that fails must keep the document marked
// changed and leave the old file as it was.
#include "../core/file_size_limit.h"
#include "../core/hostile_docs.h"
#include "AppState.h"
#include "frmMain.h"
#include "ScriptedPrompts.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <QUrl>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace treelark;

namespace {

// A loopback listener that is never served: the kernel completes any connection into
// its backlog, so the connections attempted are exactly the ones that can be accepted.
class SilentListener {
public:
    SilentListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        ::listen(m_fd, 64);
    }
    ~SilentListener() { ::close(m_fd); }
    QByteArray url(const char* path) const { return "http://127.0.0.1:" + QByteArray::number(m_port) + path; }
    int connections()
    {
        int n = 0;
        for (int c; (c = ::accept(m_fd, nullptr, nullptr)) >= 0; ++n)
            ::close(c);
        m_seen += n;
        return m_seen;
    }

private:
    int m_fd = -1;
    int m_port = 0;
    int m_seen = 0;
};

// A 1 MB file system of its own, unmounted when done; empty when mounting is not allowed.
struct SmallMount {
    explicit SmallMount(const QString& where) : path(where)
    {
        if (::mount("tmpfs", where.toLocal8Bit().constData(), "tmpfs", 0, "size=1m") != 0)
            path.clear();
    }
    ~SmallMount()
    {
        if (!path.isEmpty())
            ::umount2(path.toLocal8Bit().constData(), MNT_DETACH);
    }
    QString path;
};


} // namespace

class HostileWindowTest : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<ScriptedPrompts> script;
    QTemporaryDir dir;

    QString write(const QString& name, const QByteArray& bytes)
    {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly))
            return QString();
        f.write(bytes);
        return f.fileName();
    }

    static QByteArray readAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static QStringList topTexts(frmMain& w)
    {
        QStringList out;
        for (qsizetype i = 0; i < w.treeModel()->topLevelCount(); ++i)
            out << w.treeModel()->topLevelItem(i)->text;
        return out;
    }

    hostile::Cost loadInWindow(frmMain& w, const QString& path, const QString& name)
    {
        w.txtNodeName->setText(path);
        const hostile::Cost c = hostile::measure(name, [&] { w.toolbarClick("load"); });
        [&] {
            QVERIFY2(c.millis < hostile::kMaxMillis, qPrintable(name));
            QVERIFY2(c.peakMegabytes < hostile::kMaxMegabytes, qPrintable(name));
        }();
        return c;
    }

    // The load ended in an error the user can read, and the tree shows nothing of it.
    void expectRefused(frmMain& w, const QString& path, const QString& name)
    {
        loadInWindow(w, path, name);
        QVERIFY2(w.document()->parseError().errorCode != 0, qPrintable(name));
        QVERIFY2(!w.document()->parseError().reason.trimmed().isEmpty(), qPrintable(name));
        QCOMPARE(topTexts(w), QStringList{""});
        QVERIFY(w.windowTitle().startsWith("Treelark [win] " + path));
    }

    void expectLoaded(frmMain& w, const QString& path, const QString& name, const QString& rootText)
    {
        loadInWindow(w, path, name);
        QVERIFY2(w.document()->parseError().errorCode == 0,
                 qPrintable(name + ": " + w.document()->parseError().reason));
        QCOMPARE(topTexts(w), QStringList{rootText});
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
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        script = std::make_shared<ScriptedPrompts>();
        setPrompts(script);
        sDocumentFile.clear();
    }

    void cleanup() { setPrompts(nullptr); }

    void entityBombsAreRefusedAndTheWindowGoesOn()
    {
        frmMain w;
        for (bool validate : {false, true}) {
            (validate ? w.optOn : w.optOff)->click();
            const QString v = validate ? " (window, validating)" : " (window)";
            expectRefused(w, write("laughs.xml", hostile::billionLaughs()), "billion laughs" + v);
            expectRefused(w, write("default.xml", hostile::laughsInADefaultAttribute()), "laughs in a DTD default" + v);
            expectRefused(w, write("quadratic.xml", hostile::quadraticBlowup()), "quadratic blowup" + v);
            expectRefused(w, write("chain.xml", hostile::deepThroughEntities(30, 2000)), "levels through entities" + v);
            stillUsable(w);
        }
        write("bomb.dtd", hostile::parameterBombDtd());
        w.optOn->click();
        expectRefused(w, write("pe.xml", "<!DOCTYPE r SYSTEM 'bomb.dtd'><r/>"), "parameter-entity bomb (window)");
        stillUsable(w);
    }

    void nothingOutsideTheDocumentIsRead()
    {
        SilentListener net;
        const QString secret = write("secret.txt", "LOCAL-SECRET");
        const QByteArray cases[] = {
            "<!DOCTYPE r [<!ENTITY e SYSTEM '" + QUrl::fromLocalFile(secret).toEncoded() + "'>]><r>&e;</r>",
            "<!DOCTYPE r [<!ENTITY e SYSTEM '" + net.url("/secret.txt") + "'>]><r>&e;</r>",
            "<!DOCTYPE r SYSTEM '" + net.url("/evil.dtd") + "'><r/>",
            "<!DOCTYPE r [<!ENTITY % p SYSTEM '" + net.url("/evil.dtd") + "'> %p;]><r/>",
        };
        frmMain w;
        for (bool validate : {false, true}) {
            (validate ? w.optOn : w.optOff)->click();
            int i = 0;
            for (const QByteArray& text : cases) {
                const QString path = write(QStringLiteral("outside%1.xml").arg(i), text);
                loadInWindow(w, path, QStringLiteral("outside reference %1%2").arg(i++).arg(validate ? " (validating)" : ""));
                if (w.document()->parseError().errorCode == 0) {
                    QVERIFY(!w.document()->xml().contains("SECRET"));
                    QVERIFY(!w.txtInfo->toPlainText().contains("SECRET"));
                }
                stillUsable(w);
            }
        }
        QCOMPARE(net.connections(), 0);
        // the listener would have seen one
        const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        const QUrl u(QString::fromLatin1(net.url("/")));
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(quint16(u.port()));
        QCOMPARE(::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        QTRY_COMPARE(net.connections(), 1);
        ::close(probe);
    }

    void aLocalDtdCountsOnlyWhenValidating()
    {
        write("local.dtd", "<!ELEMENT r (#PCDATA)><!ENTITY who 'the dtd'>");
        const QString path = write("uses-local.xml", "<!DOCTYPE r SYSTEM 'local.dtd'><r>by &who;</r>");
        frmMain w;
        w.optOn->click();
        expectLoaded(w, path, "local DTD (window, validating)", "r");
        QCOMPARE(w.document()->documentElement().text(), QString("by the dtd"));
        w.optOff->click();
        expectLoaded(w, path, "local DTD (window)", "r");
        QVERIFY(!w.document()->documentElement().text().contains("the dtd"));
    }

    void brokenAndForeignBytes()
    {
        frmMain w;
        w.optOff->click();
        const struct {
            const char* name;
            QByteArray bytes;
        } broken[] = {
            {"gzip named .xml", hostile::gzip("<r>" + QByteArray(16 << 20, 'x') + "</r>")},
            {"invalid UTF-8", "<r>ok \xC3\x28 broken</r>"},
            {"truncated", "<r><a x='1'>text</a><b"},
            {"empty", ""},
            {"binary", hostile::binaryJunk(1 << 20)},
        };
        for (const auto& b : broken) {
            expectRefused(w, write("broken.xml", b.bytes), QString(b.name) + " (window)");
            stillUsable(w);
        }
        expectRefused(w, dir.path(), "a directory (window)");
        stillUsable(w);
        expectRefused(w, dir.filePath("missing.xml"), "a missing file (window)");
        stillUsable(w);

        const QString text = QString::fromUtf8("grüße 日本");
        expectLoaded(w, write("u16.xml", hostile::utf16le("<r Name=\"" + text + "\">" + text + "</r>")),
                     "UTF-16 with BOM (window)", "r(" + text + ")");
        QCOMPARE(w.document()->documentElement().text(), text);
        stillUsable(w);
        expectLoaded(w,
                     write("sjis.xml", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r Name=\"\x93\xfa\x96\x7b\">\x93\xfa\x96\x7b</r>"),
                     "Shift_JIS (window)", QString::fromUtf8("r(日本)"));
        stillUsable(w);
    }

    void tooDeepIsAnErrorAndTwoHundredFiftySixLevelsWorkEverywhere()
    {
        frmMain w;
        w.resize(800, 600);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.optOff->click();
        for (int depth : {10000, 1000000}) {
            expectRefused(w, write("deep.xml", hostile::nested(depth)), QStringLiteral("%1 levels (window)").arg(depth));
            stillUsable(w);
        }

        const QString path = write("deep256.xml", hostile::namedLevels(256));
        expectLoaded(w, path, "256 levels (window)", "n0(level 0)");
        DocumentTreeModel* m = w.treeModel();
        // expand all the way down, one branch at a time, as a user would
        TreeItem* item = m->topLevelItem(0);
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
        // Rows this deep start far to the right: the column widens to reach them.
        QVERIFY(w.TreeView1->visualRect(m->indexOf(m->child(item, 0))).isValid());

        // search from a collapsed tree finds and reveals the bottom
        w.TreeView1->collapseAll();
        w.txtNodeName->setText("n255");
        w.cmdGetNode_MouseDown(Qt::NoModifier);
        QCOMPARE(w.statusText(), QString("nNodes=1"));
        QVERIFY(w.selectedItem());
        QCOMPARE(w.selectedItem()->text, QString("n255(level 255)"));
        QVERIFY(w.txtInfo->toPlainText().endsWith("\n" + hostile::levelPath(256) + "\n"));

        // path insertion below the bottom, with an attribute
        w.txtNodeName->setText(hostile::levelPath(256) + "/leaf;Name=new");
        w.cmdGetNode_MouseDown(Qt::ControlModifier | Qt::ShiftModifier);
        DOMNode leaf = w.xmlMgr()->GetNodeByName("leaf");
        QVERIFY(!leaf.isNull());
        QCOMPARE(w.xmlMgr()->GetFullPath(leaf), hostile::levelPath(256) + "/leaf");
        QCOMPARE(leaf.getAttribute("Name"), QString("new"));
        w.txtNodeName->setText("leaf");
        w.cmdGetNode_MouseDown(Qt::NoModifier);
        QVERIFY(w.selectedItem());
        QCOMPARE(w.selectedItem()->text, QString("leaf(new)"));

        // saved and loaded again, the insertion is there, 257 levels down
        const QString saved = dir.filePath("deep-saved.xml");
        QFile::remove(saved);
        w.editor()->setModified(true);
        script->queueSave(saved);
        QVERIFY(w.SaveDocument());
        expectLoaded(w, saved, "257 levels, reloaded (window)", "n0(level 0)");
        w.txtNodeName->setText("leaf");
        w.cmdGetNode_MouseDown(Qt::NoModifier);
        QCOMPARE(w.statusText(), QString("nNodes=1"));
        QCOMPARE(w.selectedItem()->text, QString("leaf(new)"));
        stillUsable(w);
    }

    void hugeValuesLoadAndHugeAttributeListsAreRefused()
    {
        frmMain w;
        w.resize(800, 600);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.optOff->click();
        expectLoaded(w, write("text.xml", "<r>" + QByteArray(20 << 20, 't') + "</r>"), "20 MB text node (window)", "r");
        // describing the root must not try to show 20 MB
        w.txtNodeName->setText("r");
        const hostile::Cost search = hostile::measure("search beside 20 MB of text", [&] { w.cmdGetNode_MouseDown(Qt::NoModifier); });
        QVERIFY(search.millis < hostile::kMaxMillis);
        QVERIFY(w.txtInfo->toPlainText().size() < (1 << 20));
        stillUsable(w);

        expectLoaded(w, write("value.xml", "<r Name=\"" + QByteArray(1 << 20, 'v') + "\"/>"), "1 MB attribute (window)",
                     "r(" + QString(1 << 20, QLatin1Char('v')) + ")");
        stillUsable(w);

        expectRefused(w, write("many.xml", hostile::manyAttributes(100000)), "100,000 attributes (window)");
        stillUsable(w);
        expectLoaded(w, write("limit.xml", hostile::manyAttributes(10000)), "10,000 attributes (window)", "r");
        w.txtNodeName->setText("r");
        const hostile::Cost listed =
            hostile::measure("describe 10,000 attributes", [&] { w.cmdGetNode_MouseDown(Qt::NoModifier); });
        QVERIFY(listed.millis < hostile::kMaxMillis);
        QVERIFY(w.txtInfo->toPlainText().contains("9999:a9999=v"));
        stillUsable(w);
    }

    // ---- saving that fails ----

    void failedSaveIntoAPathUnderAFileKeepsTheDocumentChanged()
    {
        frmMain w;
        stillUsable(w);
        const QString blocker = write("plain-file", "not a folder");
        w.editor()->setModified(true);
        script->clearAsked();
        script->queueSave(blocker + "/x.xml");
        QVERIFY(!w.SaveDocument());
        QVERIFY(w.editor()->isModified());
        QCOMPARE(script->messagesShown().size(), 1);
        QVERIFY(script->messagesShown().first().contains(blocker));
        QCOMPARE(readAll(blocker), QByteArray("not a folder"));
    }

    void failedSaveOnAFullDiskKeepsTheOldFileAndTheDocumentChanged()
    {
        QTemporaryDir mountPoint;
        SmallMount small(mountPoint.path());
        if (small.path.isEmpty())
            QSKIP("mounting a small tmpfs is not permitted here; the file-size-limit case covers the failure");
        QFile old(small.path + "/old.xml");
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("<old>kept</old>\n");
        old.close();

        frmMain w;
        w.optOff->click();
        expectLoaded(w, write("two-mb.xml", "<r>" + QByteArray(2 << 20, 'x') + "</r>"), "2 MB (window)", "r");
        w.editor()->setModified(true);
        script->clearAsked();
        script->queueSave(old.fileName());
        script->queueMessage(MsgResult::Yes); // overwrite
        QVERIFY(!w.SaveDocument());
        QVERIFY(w.editor()->isModified());
        QCOMPARE(script->messagesShown().size(), 2); // the overwrite question, then the failure
        QCOMPARE(readAll(old.fileName()), QByteArray("<old>kept</old>\n"));
        QCOMPARE(QDir(small.path).entryList(QDir::Files | QDir::Hidden), QStringList{"old.xml"});
    }

    void failedSaveAtTheFileSizeLimitKeepsTheOldFileAndTheDocumentChanged()
    {
        const QString target = write("limited.xml", "<old>kept</old>\n");
        frmMain w;
        w.optOff->click();
        expectLoaded(w, write("two-mb.xml", "<r>" + QByteArray(2 << 20, 'x') + "</r>"), "2 MB (window)", "r");
        w.editor()->setModified(true);
        script->clearAsked();
        script->queueSave(target);
        script->queueMessage(MsgResult::Yes);
        {
            FileSizeLimit limit(64 * 1024);
            QVERIFY(!w.SaveDocument());
        }
        QVERIFY(w.editor()->isModified());
        QCOMPARE(script->messagesShown().size(), 2);
        QCOMPARE(readAll(target), QByteArray("<old>kept</old>\n"));
        // and once the disk has room again, the same save goes through
        script->queueSave(target);
        script->queueMessage(MsgResult::Yes);
        QVERIFY(w.SaveDocument());
        QVERIFY(!w.editor()->isModified());
        QCOMPARE(QFileInfo(target).size(), (2 << 20) + 7); // the bytes it was read from
    }
};

QTEST_MAIN(HostileWindowTest)
#include "test_hostile_window.moc"
