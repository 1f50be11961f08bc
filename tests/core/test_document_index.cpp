// Large document form: the index must show what the DOM shows of the same file, keep
// what it read before a fault, and refuse to read from a file that changed under it.
#include "test_support.h"
#include "../shared/dom_meaning.h"
#include "treelark/RowSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <random>
#include <unordered_map>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>

using namespace treelark;
using testsupport::meaningOf;
using testsupport::writeFile;

namespace {

// Names, prefixes, escapes, text, comments, CDATA and depth in a seeded mix.
QByteArray generatedDocument(unsigned seed, int elements)
{
    std::mt19937 rng(seed);
    const char* names[] = {"Layer", "Field", "p:Item", "q:Item", "Item", "Description"};
    QByteArray out = "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- top -->\n"
                     "<Root xmlns:p='urn:p' xmlns='urn:d' Name='r &amp; &#x41;'>\n";
    std::vector<QByteArray> open{"Root"};
    for (int i = 0; i < elements; ++i) {
        const unsigned r = rng();
        if (open.size() > 1 && r % 5 == 0) {
            out += "</" + open.back() + ">\n";
            open.pop_back();
        }
        // q is declared only where it is used
        const QByteArray name = r % 6 == 3 && r % 17 != 0 ? "Item" : names[r % 6];
        QByteArray tag = "<" + name + " TagName='t" + QByteArray::number(i) + "' Name=\"a&lt;b\tc&#10;d\"";
        if (r % 17 == 0)
            tag += " xmlns:q='urn:q" + QByteArray::number(i) + "'";
        if (r % 13 == 0)
            tag += " xmlns=''";
        if (r % 19 == 0)
            tag += " xml:space='preserve'";
        // blanks the DOM takes for text and for layout, in text-only and mixed content
        static const char* bodies[] = {"text &gt; <![CDATA[<raw>]]><!-- c -->\r\nmore", " ", "\n  ",
                                       "word <Field/>\n  <!-- c -->\n  ", "<?pi x?>\n  <Field/>\n", "\n <!-- c --> "};
        if (r % 3 == 0) {
            out += tag + "/>\n";
        } else if (r % 3 == 1) {
            out += tag + ">" + bodies[(r / 3) % 6] + "</" + name + ">\n";
        } else {
            out += tag + ">\n";
            open.push_back(name);
        }
    }
    while (!open.empty()) {
        out += "</" + open.back() + ">\n";
        open.pop_back();
    }
    return out;
}

QString subtreeMeaning(const DOMNode& n)
{
    QStringList attrs;
    const DOMNamedNodeMap map = n.attributes();
    for (qint64 i = 0; i < map.length(); ++i)
        if (const DOMNode a = map.item(i); a.namespaceURI() != QLatin1String("http://www.w3.org/2000/xmlns/"))
            attrs << testsupport::expandedName(a) + QLatin1Char('=') + a.value();
    attrs.sort();
    return QStringLiteral("E:") + testsupport::expandedName(n) + QLatin1Char(' ') + attrs.join(QLatin1Char(' '))
        + QLatin1Char('\n') + meaningOf(n) + QStringLiteral("/E\n");
}

QStringList sortedAttributes(const RowDetails& d)
{
    QStringList out;
    for (const IndexedAttribute& a : d.attributes)
        out << a.name + QLatin1Char('=') + a.value;
    out.sort();
    return out;
}

RowDetails details(const RowSource& source, const TreeRow& row)
{
    RowDetails d;
    EXPECT_TRUE(source.read(row, &d)) << source.lastError().toStdString();
    return d;
}

// Walks a document's rows and an index's side by side through the row interface (the
// index shows every element, and one "#text" row under an element holding only text),
// and hands back which index row shows which element.
void expectSameRows(const IndexRowSource& index, const DomRowSource& dom, std::unordered_map<DOMNode, TreeRow>& rows)
{
    ASSERT_EQ(dom.topRows().size(), 1u);
    ASSERT_EQ(index.topRows().size(), 1u);
    std::vector<std::pair<TreeRow, TreeRow>> stack{{dom.topRows()[0], index.topRows()[0]}};
    while (!stack.empty()) {
        const auto [d, i] = stack.back();
        stack.pop_back();
        rows.emplace(d.node, i);
        SCOPED_TRACE(dom.path(d).toStdString());
        ASSERT_FALSE(i.isNull());
        EXPECT_EQ(index.label(i), dom.label(d));
        EXPECT_EQ(index.path(i), dom.path(d));
        const RowDetails di = details(index, i), dd = details(dom, d);
        EXPECT_EQ(di.name, dd.name);
        EXPECT_EQ(sortedAttributes(di), sortedAttributes(dd));
        EXPECT_EQ(di.childElements, dd.childElements);
        std::vector<TreeRow> kids;
        bool text = false;
        for (TreeRow c = dom.firstChild(d); !c.isNull(); c = dom.nextSibling(c)) {
            if (c.node.nodeType() == NODE_ELEMENT)
                kids.push_back(c);
            text = text || c.node.nodeType() == NODE_TEXT || c.node.nodeType() == NODE_CDATA_SECTION;
        }
        EXPECT_EQ(index.index().hasText(index.elementOf(i)), text);
        TreeRow r = index.firstChild(i);
        if (kids.empty() && text) {
            ASSERT_TRUE(IndexRowSource::isTextRow(r));
            EXPECT_EQ(index.label(r), QStringLiteral("#text"));
            EXPECT_EQ(details(index, r).text, dd.text);
            EXPECT_EQ(index.parent(r), i);
            r = index.nextSibling(r);
        }
        std::vector<std::pair<TreeRow, TreeRow>> pairs;
        for (const TreeRow& k : kids) {
            EXPECT_EQ(index.parent(r), i);
            pairs.push_back({k, r});
            r = r.isNull() ? r : index.nextSibling(r);
        }
        EXPECT_TRUE(r.isNull());
        stack.insert(stack.end(), pairs.rbegin(), pairs.rend());
    }
    EXPECT_EQ(qint64(rows.size()), index.elementCount());
    EXPECT_EQ(dom.elementCount(), index.elementCount());
}

QString extractedMeaning(const RowSource& source, const TreeRow& row)
{
    QByteArray bytes;
    EXPECT_TRUE(source.extract(row, &bytes)) << source.lastError().toStdString();
    const DOMDocumentPtr alone = DOMDocument::create();
    alone->setValidateOnParse(false);
    EXPECT_TRUE(alone->loadXML(bytes)) << alone->parseError().reason.toStdString() << "\n" << bytes.toStdString();
    return subtreeMeaning(alone->documentElement());
}

// The index of the file against its DOM: the same rows, names, attributes and text, the
// same search results, and subtrees taken out that mean what the DOM's do.
void expectSameAsDom(const QString& path)
{
    SCOPED_TRACE(path.toStdString());
    auto built = std::make_shared<DocumentIndex>();
    ASSERT_TRUE(built->build(path)) << built->error().reason.toStdString();
    const DOMDocumentPtr doc = DOMDocument::create();
    doc->setValidateOnParse(false);
    ASSERT_TRUE(doc->load(path));
    const IndexRowSource index(built);
    const DomRowSource dom(doc);
    std::unordered_map<DOMNode, TreeRow> rows;
    expectSameRows(index, dom, rows);
    for (const DocumentIndex::Row probe : {built->root(), built->firstChild(built->root()),
                                           DocumentIndex::Row(built->rowCount() / 2),
                                           DocumentIndex::Row(built->rowCount() - 1)}) {
        const QString name = built->name(probe);
        std::vector<TreeRow> found;
        for (const TreeRow& d : dom.findByName(name))
            found.push_back(rows.at(d.node));
        EXPECT_EQ(index.findByName(name), found) << name.toStdString();
        EXPECT_EQ(built->findFirst(name), index.elementOf(found.front()));
        EXPECT_EQ(built->findFirst(name, index.elementOf(found.back()) + 1), DocumentIndex::NoRow);
    }
    for (const auto& [node, row] : rows) {
        if (index.elementOf(row) % 997 == 0 || index.elementOf(row) == built->rowCount() - 1) {
            EXPECT_EQ(extractedMeaning(index, row), extractedMeaning(dom, node));
        }
    }
}

} // namespace

TEST(DocumentIndex, ShowsWhatTheDomShowsAndExtractsWholeSubtrees)
{
    QTemporaryDir dir;
    QStringList sources = {writeFile(dir, "gen.xml", generatedDocument(7, 3000)),
                           QStringLiteral(TREELARK_TEST_DATA_DIR "/sample_config.xml")};
    for (const char* real : {"/usr/share/mime/packages/freedesktop.org.xml", "/usr/share/X11/xkb/rules/evdev.xml"})
        if (QFileInfo::exists(QString::fromLatin1(real)))
            sources << QString::fromLatin1(real);
    for (const QString& path : sources)
        expectSameAsDom(path);
    EXPECT_EQ(DocumentIndex().findAll(QStringLiteral("x")).size(), 0u);
    EXPECT_EQ(DocumentIndex().path(0), QString());
}

// Every byte one character: the parser's offsets, taken in its UTF-8, map back to the
// file's, across the places where its reads of the file end (two- and three-byte
// characters in names, values, text and blanks).
TEST(DocumentIndex, SingleByteEncodingsShowWhatTheDomShows)
{
    QTemporaryDir dir;
    QByteArray body = generatedDocument(11, 3000);
    body = body.mid(body.indexOf("\n") + 1)
               .replace("Layer", "L\xE4yer")
               .replace("more", "m\xF6re \xE9t\xE9")
               .replace("TagName='t", "TagName='\xC7");
    const std::vector<std::pair<QByteArray, QByteArray>> files = {
        {"ISO-8859-1", body},
        {"windows-1252", QByteArray(body).replace("text", "\x80 \x93quoted\x94").replace("a&lt;b", "\x9C" "a&lt;b")},
    };
    for (const auto& [encoding, bytes] : files) {
        const QString path = writeFile(dir, encoding + ".xml", "<?xml version='1.0' encoding='" + encoding + "'?>\n" + bytes);
        expectSameAsDom(path);
        DocumentIndex index;
        ASSERT_TRUE(index.build(path));
        EXPECT_EQ(index.encoding().toLower(), QString::fromLatin1(encoding).toLower());
        // A subtree taken out is the file's bytes under the file's own declaration.
        QByteArray out;
        ASSERT_TRUE(index.extract(index.findFirst(QString::fromUtf8("L\u00E4yer")), &out));
        EXPECT_TRUE(out.startsWith("<?xml version=\"1.0\" encoding=\"" + index.encoding().toLatin1() + "\"?>\n<L\xE4yer"))
            << out.left(80).toStdString();
    }
}

TEST(DocumentIndex, KeepsTheRowsBeforeAFaultAndSaysWhere)
{
    struct Case {
        const char* what;
        QByteArray text;
        qint64 rows;
        std::vector<bool> closed;
    };
    const std::vector<Case> cases = {
        {"end tag of another element", "<a>\n  <b/>\n  <c>\n    <d></c>\n</a>", 4, {false, true, false, false}},
        {"file cut short", "<a><b x='1'>text</b><c>", 3, {false, true, false}},
        {"a '<' in an attribute", "<a>\n<b/>\n<c x='<'/></a>", 2, {false, true}},
        {"an undeclared prefix", "<a><b/>\n<p:c/></a>", 2, {false, true}},
        {"a second document element", "<a><b/></a>\n<a/>", 2, {true, true}},
        {"text before the element", "junk<a/>", 0, {}},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = writeFile(dir, "bad.xml", c.text);
        DocumentIndex index;
        EXPECT_FALSE(index.build(path));
        const DOMDocumentPtr doc = DOMDocument::create();
        doc->setValidateOnParse(false);
        EXPECT_FALSE(doc->load(path));
        EXPECT_FALSE(index.error().reason.isEmpty());
        EXPECT_EQ(index.error().line, doc->parseError().line);
        EXPECT_EQ(index.error().column, doc->parseError().linepos);
        ASSERT_EQ(index.rowCount(), c.rows);
        for (qint64 r = 0; r < c.rows; ++r) {
            EXPECT_EQ(index.isClosed(DocumentIndex::Row(r)), c.closed[size_t(r)]) << r;
            IndexedElement e;
            EXPECT_TRUE(index.read(DocumentIndex::Row(r), &e)) << index.lastError().toStdString();
            QByteArray bytes;
            EXPECT_EQ(index.extract(DocumentIndex::Row(r), &bytes), c.closed[size_t(r)]);
        }
    }
}

TEST(DocumentIndex, RefusesWhatItCannotIndexWithAReason)
{
    QTemporaryDir dir;
    const QByteArray japanese = "<?xml version='1.0' encoding='Shift_JIS'?><a>\x82\xA0</a>";
    const QByteArray utf16 = QByteArray("\xFF\xFE", 2) + QByteArray::fromRawData(reinterpret_cast<const char*>(u"<a/>"), 8);
    const std::vector<std::pair<QString, QString>> cases = {
        {dir.filePath("missing.xml"), "cannot be read"},
        {dir.path(), "not a regular file"},
        {writeFile(dir, "empty.xml", ""), "empty"},
        {writeFile(dir, "japanese.xml", japanese), "only UTF-8"},
        {writeFile(dir, "utf16.xml", utf16), "only UTF-8"},
    };
    for (const auto& [path, reason] : cases) {
        DocumentIndex index;
        EXPECT_FALSE(index.build(path)) << path.toStdString();
        EXPECT_TRUE(index.error().reason.contains(reason, Qt::CaseInsensitive)) << index.error().reason.toStdString();
        EXPECT_EQ(index.rowCount(), 0);
    }
    // A build asked to stop stops, and says it was asked to.
    const QString big = writeFile(dir, "big.xml", generatedDocument(3, 20000));
    std::atomic<bool> cancel{true};
    qint64 lastDone = -1, total = -1;
    DocumentIndex index;
    EXPECT_FALSE(index.build(big, {}, &cancel));
    EXPECT_TRUE(index.error().cancelled);
    EXPECT_TRUE(index.build(big, [&](qint64 done, qint64 all) { lastDone = done, total = all; }));
    EXPECT_EQ(total, QFileInfo(big).size());
    EXPECT_EQ(lastDone, total);
}

TEST(DocumentIndex, ReadsFailCleanlyOnceTheFileChanges)
{
    QTemporaryDir dir;
    const QByteArray text = "<a><b x='1'>hello</b><c/></a>";
    const std::vector<std::pair<const char*, std::function<void(const QString&)>>> changes = {
        {"rewritten longer", [](const QString& p) { QFile f(p); f.open(QIODevice::WriteOnly); f.write("<a><b x='22'>hello</b><c/></a>"); }},
        {"touched only", [](const QString& p) { timeval t[2] = {{1000, 0}, {1000, 0}}; utimes(QFile::encodeName(p).constData(), t); }},
        {"replaced by a same-sized file", [&](const QString& p) {
             const QString other = writeFile(dir, "other.xml", QByteArray(text).replace('1', '2'));
             ::rename(QFile::encodeName(other).constData(), QFile::encodeName(p).constData());
         }},
        {"deleted", [](const QString& p) { QFile::remove(p); }},
        // Nothing on disk tells this one apart: the bytes at the row's place do.
        {"rewritten in place, size and time kept", [](const QString& p) {
             struct stat before{};
             ::stat(QFile::encodeName(p).constData(), &before);
             QFile f(p);
             f.open(QIODevice::ReadWrite);
             f.write("<a><c x='1'>hello</c><b/></a>");
             f.close();
             const timespec times[2] = {before.st_atim, before.st_mtim};
             ::utimensat(AT_FDCWD, QFile::encodeName(p).constData(), times, 0);
         }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        const QString path = writeFile(dir, "doc.xml", text);
        DocumentIndex index;
        ASSERT_TRUE(index.build(path));
        IndexedElement e;
        ASSERT_TRUE(index.read(1, &e));
        EXPECT_EQ(e.text, QStringLiteral("hello"));
        change(path);
        EXPECT_FALSE(index.read(1, &e));
        EXPECT_FALSE(index.lastError().isEmpty());
        QByteArray bytes;
        EXPECT_FALSE(index.extract(1, &bytes));
        EXPECT_FALSE(index.saveSubtree(1, dir.filePath("out.xml")));
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("out.xml")));
        // What the index holds needs no file.
        EXPECT_EQ(index.findAll(QStringLiteral("c")), std::vector<DocumentIndex::Row>{2});
        EXPECT_EQ(index.path(2), QStringLiteral("a/c"));
    }
}

TEST(DocumentIndex, TextIsCappedAndSavedSubtreesStandAlone)
{
    QTemporaryDir dir;
    const QByteArray text = "<r xmlns:p='urn:p' xmlns='urn:d'><p:a xmlns='urn:e'><b>" + QByteArray(10000, 'x')
        + "</b><p:c/></p:a></r>";
    DocumentIndex index;
    ASSERT_TRUE(index.build(writeFile(dir, "doc.xml", text)));
    IndexedElement e;
    ASSERT_TRUE(index.read(2, &e, 100));
    EXPECT_EQ(e.text, QString(100, QLatin1Char('x')));
    EXPECT_TRUE(e.textTruncated);
    const QString out = dir.filePath("c.xml");
    ASSERT_TRUE(index.saveSubtree(3, out));
    EXPECT_EQ(testsupport::readFile(out), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<p:c xmlns='urn:e' xmlns:p='urn:p'/>\n");
    QByteArray bytes;
    EXPECT_FALSE(index.extract(0, &bytes, 100));
    EXPECT_TRUE(index.lastError().contains(QLatin1String("too long")));

    // Entities the subtree refers to come with it.
    const QByteArray withEntities = "<!DOCTYPE r SYSTEM 'x[y].dtd' [<!ENTITY e \"<i>ent</i>\"><!-- ] -->]>\n"
                                    "<r><a k='&e2;'>x &e; y</a></r>";
    ASSERT_TRUE(index.build(writeFile(dir, "ent.xml", QByteArray(withEntities).replace("&e2;", "1"))));
    ASSERT_TRUE(index.extract(1, &bytes));
    EXPECT_EQ(bytes, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE a [<!ENTITY e \"<i>ent</i>\"><!-- ] -->]>\n"
                     "<a k='1'>x &e; y</a>\n");
    EXPECT_EQ(testsupport::parsed(bytes)->documentElement().text(), QStringLiteral("x ent y"));
    EXPECT_EQ(index.rowCount(), 2); // the entity's element is not in the file

    // Only an element stands as a document of its own, from either source.
    const IndexRowSource rows(std::make_shared<DocumentIndex>(std::move(index)));
    const TreeRow textRow = rows.firstChild(rows.rowOf(1));
    ASSERT_TRUE(IndexRowSource::isTextRow(textRow));
    const DOMDocumentPtr doc = testsupport::parsed("<a>x</a>");
    const DomRowSource nodes(doc);
    for (const auto& [source, row] : {std::pair<const RowSource*, TreeRow>{&rows, textRow},
                                      {&nodes, doc->documentElement().firstChild()}}) {
        EXPECT_FALSE(source->extract(row, &bytes));
        EXPECT_FALSE(source->lastError().isEmpty());
    }
}
