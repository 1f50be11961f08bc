// Indexes kept between runs: a kept index must be the index a build gives, used only for
// the file it was made from, refused when it is damaged, and never kept for a build that
// did not read the whole file; the folder stays under its cap, oldest files going first.
#include "test_support.h"
#include "treelark/IndexCache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <fcntl.h>
#include <sys/stat.h>

using namespace treelark;
using testsupport::writeFile;
using Row = DocumentIndex::Row;

namespace {

// Well past twice the hashed edges, so a change between them is neither.
QByteArray document(int items, const QByteArray& word = "text")
{
    QByteArray out = "<?xml version='1.0'?>\n<!DOCTYPE r [<!ENTITY e 'ent'>]>\n<r xmlns:p='urn:p'>\n";
    for (int i = 0; i < items; ++i)
        out += "  <p:item id='" + QByteArray::number(i) + "'><name>" + word + " &e; " + QByteArray::number(i)
            + "</name>" + (i % 7 == 0 ? "<empty/>" : "") + "</p:item>\n";
    return out + "</r>\n";
}

// Everything the index holds, and what reads and extraction give of a few rows.
void expectSameIndex(const DocumentIndex& a, const DocumentIndex& b)
{
    ASSERT_EQ(a.rowCount(), b.rowCount());
    ASSERT_EQ(a.nameCount(), b.nameCount());
    EXPECT_EQ(a.encoding(), b.encoding());
    for (qint64 i = 0; i < a.nameCount(); ++i)
        EXPECT_EQ(a.nameOf(std::uint32_t(i)), b.nameOf(std::uint32_t(i)));
    for (Row r = 0; r < Row(a.rowCount()); ++r) {
        ASSERT_EQ(a.parent(r), b.parent(r)) << r;
        ASSERT_EQ(a.nextSibling(r), b.nextSibling(r)) << r;
        ASSERT_EQ(a.childCount(r), b.childCount(r)) << r;
        ASSERT_EQ(a.nameId(r), b.nameId(r)) << r;
        ASSERT_EQ(a.startOffset(r), b.startOffset(r)) << r;
        ASSERT_EQ(a.endOffset(r), b.endOffset(r)) << r;
        ASSERT_EQ(a.hasText(r), b.hasText(r)) << r;
    }
    for (const Row r : {Row(0), Row(2), Row(a.rowCount() / 2), Row(a.rowCount() - 1)}) {
        if (r >= a.rowCount())
            continue;
        IndexedElement ea, eb;
        ASSERT_TRUE(a.read(r, &ea)) << a.lastError().toStdString();
        ASSERT_TRUE(b.read(r, &eb)) << b.lastError().toStdString();
        EXPECT_EQ(ea.name, eb.name);
        EXPECT_EQ(ea.text, eb.text);
        ASSERT_EQ(ea.attributes.size(), eb.attributes.size());
        for (qsizetype i = 0; i < ea.attributes.size(); ++i)
            EXPECT_EQ(ea.attributes[i].value, eb.attributes[i].value);
        QByteArray xa, xb;
        ASSERT_TRUE(a.extract(r, &xa));
        ASSERT_TRUE(b.extract(r, &xb));
        EXPECT_EQ(xa, xb);
    }
}

void setTimes(const QString& path, const timespec& mtime)
{
    const timespec times[2] = {mtime, mtime};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

timespec mtimeOf(const QString& path)
{
    struct stat info{};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mtim;
}

// Overwrites bytes in place, the size and modification time kept as they were.
void patchInPlace(const QString& path, qint64 at, const QByteArray& bytes)
{
    const timespec before = mtimeOf(path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(at);
    f.write(bytes);
    f.close();
    setTimes(path, before);
}

struct Scratch {
    QTemporaryDir dir;
    IndexCache cache{dir.filePath(QStringLiteral("cache"))};

    IndexCache::Source open(const QString& path, DocumentIndex* index)
    {
        IndexCache::Source from{};
        EXPECT_TRUE(cache.open(path, index, {}, nullptr, &from)) << index->error().reason.toStdString();
        return from;
    }
    int files() const { return int(QDir(cache.folder()).entryList(QDir::Files).size()); }
};

} // namespace

TEST(IndexCache, AHitGivesWhatAFreshBuildGives)
{
    Scratch s;
    const std::vector<QString> docs = {
        writeFile(s.dir, "doc.xml", document(4000)),
        writeFile(s.dir, "latin.xml", "<?xml version='1.0' encoding='ISO-8859-1'?>\n<r a='\xE9t\xE9'><\xE9l>caf\xE9 cr\xE8me</\xE9l></r>"),
    };
    for (const QString& path : docs) {
        SCOPED_TRACE(path.toStdString());
        DocumentIndex built, kept;
        EXPECT_EQ(s.open(path, &built), IndexCache::Source::Built);
        EXPECT_TRUE(QFileInfo::exists(s.cache.cacheFileFor(path)));
        EXPECT_EQ(s.open(path, &kept), IndexCache::Source::Cache);
        EXPECT_EQ(kept.path(), path);
        EXPECT_TRUE(kept.error().isNull());
        expectSameIndex(built, kept);
    }
    // Each document has a file of its own, named for where it is, not for how it was named.
    EXPECT_EQ(s.files(), 2);
    EXPECT_EQ(s.cache.cacheFileFor(docs[0]), s.cache.cacheFileFor(s.dir.path() + "/./doc.xml"));
    EXPECT_EQ(s.cache.cacheFileFor(s.dir.filePath("missing.xml")), QString());
    EXPECT_TRUE(IndexCache().folder().endsWith(QLatin1String("/treelark")));
}

TEST(IndexCache, AChangedFileIsAMissAndIsIndexedAgain)
{
    const std::vector<std::pair<const char*, std::function<void(const QString&)>>> changes = {
        {"grown", [](const QString& p) { QFile f(p); f.open(QIODevice::Append); f.write("<!-- more -->\n"); }},
        {"touched", [](const QString& p) { setTimes(p, {1000, 0}); }},
        {"replaced by a copy", [](const QString& p) {
             QFile::copy(p, p + ".new");
             QFile::remove(p);
             QFile::rename(p + ".new", p);
         }},
        // Size and time kept back: only the bytes at the start or the end tell.
        {"changed at the start", [](const QString& p) { patchInPlace(p, 0, "<?xml version='1.1'?>"); }},
        {"changed at the end", [](const QString& p) { patchInPlace(p, QFileInfo(p).size() - 3, "x>\n"); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        Scratch s;
        const QString path = writeFile(s.dir, "doc.xml", document(4000));
        setTimes(path, {5000, 123456789});
        DocumentIndex index;
        ASSERT_EQ(s.open(path, &index), IndexCache::Source::Built);
        change(path);
        DocumentIndex again;
        EXPECT_FALSE(s.cache.load(path, &again));
        EXPECT_TRUE(s.cache.lastError().contains(QLatin1String("changed"))) << s.cache.lastError().toStdString();
        EXPECT_EQ(again.rowCount(), 0);
        const bool wellFormed = std::string(what) != "changed at the end";
        IndexCache::Source from{};
        EXPECT_EQ(s.cache.open(path, &again, {}, nullptr, &from), wellFormed);
        EXPECT_EQ(from, IndexCache::Source::Built);
        if (!wellFormed) // a build that did not end well is not kept: the old file stays refused
            continue;
        EXPECT_EQ(s.open(path, &index), IndexCache::Source::Cache);
        expectSameIndex(again, index);
    }
}

TEST(IndexCache, ADamagedCacheFileIsRefusedAndReplaced)
{
    Scratch s;
    const QString path = writeFile(s.dir, "doc.xml", document(3000));
    DocumentIndex fresh;
    ASSERT_EQ(s.open(path, &fresh), IndexCache::Source::Built);
    const QString file = s.cache.cacheFileFor(path);
    const QByteArray good = testsupport::readFile(file);
    ASSERT_GT(good.size(), 1000);
    auto patched = [&](qsizetype at, QByteArray bytes) { return QByteArray(good).replace(at, bytes.size(), bytes); };
    const qint64 huge = qint64(1) << 40;
    const std::vector<std::pair<const char*, QByteArray>> damages = {
        {"empty", QByteArray()},
        {"garbage", QByteArray(good.size(), '\x5A')},
        {"cut short", good.left(good.size() / 2)},
        {"cut in its header", good.left(40)},
        {"longer", good + "x"},
        {"another version", patched(8, QByteArray("\x63\0\0\0", 4))},
        {"a huge row count", patched(72, QByteArray(reinterpret_cast<const char*>(&huge), 8))},
        {"a flipped bit in a column", patched(good.size() - 3000, QByteArray(1, char(good[good.size() - 3000] ^ 4)))},
        {"a flipped bit in a name", patched(good.indexOf("item"), "itex")},
    };
    for (const auto& [what, bytes] : damages) {
        SCOPED_TRACE(what);
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        DocumentIndex index;
        EXPECT_FALSE(s.cache.load(path, &index));
        EXPECT_FALSE(s.cache.lastError().isEmpty());
        EXPECT_EQ(index.rowCount(), 0);
        EXPECT_EQ(s.open(path, &index), IndexCache::Source::Built);
        EXPECT_EQ(testsupport::readFile(file), good);
    }
    // No byte of the header can change unnoticed, the places it keeps included.
    for (qsizetype at = 0; at < 144; ++at) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(patched(at, QByteArray(1, char(good[at] ^ 1))));
        f.close();
        DocumentIndex index;
        EXPECT_FALSE(s.cache.load(path, &index)) << at;
    }
}

TEST(IndexCache, TheCapRemovesTheFilesUsedLongestAgo)
{
    Scratch s;
    const QString a = writeFile(s.dir, "a.xml", document(500)), b = writeFile(s.dir, "b.xml", document(500, "other")),
                  c = writeFile(s.dir, "c.xml", document(500, "third"));
    DocumentIndex index;
    s.open(a, &index);
    s.open(b, &index);
    const qint64 one = QFileInfo(s.cache.cacheFileFor(a)).size();
    setTimes(s.cache.cacheFileFor(a), {1000, 0});
    setTimes(s.cache.cacheFileFor(b), {2000, 0});
    // A file not of the cache's naming is never removed, whatever its age.
    QFile(s.cache.folder() + "/notes.idx").open(QIODevice::WriteOnly);
    setTimes(s.cache.folder() + "/notes.idx", {1, 0});
    s.cache.setCapBytes(one * 2 + one / 2);
    EXPECT_EQ(s.open(c, &index), IndexCache::Source::Built);
    EXPECT_FALSE(QFileInfo::exists(s.cache.cacheFileFor(a)));
    EXPECT_TRUE(QFileInfo::exists(s.cache.cacheFileFor(b)));
    EXPECT_TRUE(QFileInfo::exists(s.cache.folder() + "/notes.idx"));
    // Using a kept index makes it the newest.
    setTimes(s.cache.cacheFileFor(c), {3000, 0});
    EXPECT_EQ(s.open(b, &index), IndexCache::Source::Cache);
    EXPECT_EQ(s.open(a, &index), IndexCache::Source::Built);
    EXPECT_TRUE(QFileInfo::exists(s.cache.cacheFileFor(b)));
    EXPECT_FALSE(QFileInfo::exists(s.cache.cacheFileFor(c)));
    // An index larger than the whole cap is not written at all.
    s.cache.setCapBytes(one / 2);
    EXPECT_FALSE(s.cache.save(index));
    EXPECT_TRUE(s.cache.lastError().contains(QLatin1String("larger")));
}

TEST(IndexCache, OnlyAWholeWellFormedBuildIsKept)
{
    Scratch s;
    const QString path = writeFile(s.dir, "doc.xml", document(3000));
    const QString broken = writeFile(s.dir, "broken.xml", document(3000).chopped(3));
    std::atomic<bool> cancel{true};
    DocumentIndex index;
    EXPECT_FALSE(s.cache.open(path, &index, {}, &cancel));
    EXPECT_TRUE(index.error().cancelled);
    EXPECT_FALSE(s.cache.save(index));
    EXPECT_FALSE(s.cache.open(broken, &index));
    EXPECT_GT(index.rowCount(), 0);
    EXPECT_FALSE(s.cache.save(index));
    EXPECT_EQ(s.files(), 0);

    // Cancelled while the kept index is read: nothing is built, the kept file stays.
    ASSERT_EQ(s.open(path, &index), IndexCache::Source::Built);
    const QByteArray kept = testsupport::readFile(s.cache.cacheFileFor(path));
    IndexCache::Source from{};
    EXPECT_FALSE(s.cache.open(path, &index, {}, &cancel, &from));
    EXPECT_TRUE(index.error().cancelled);
    EXPECT_TRUE(s.cache.cancelled());
    EXPECT_EQ(index.rowCount(), 0);
    EXPECT_EQ(testsupport::readFile(s.cache.cacheFileFor(path)), kept);

    // A cache folder that cannot be written does not stop the document opening.
    IndexCache blocked(writeFile(s.dir, "a-file", "not a folder") + "/cache");
    EXPECT_TRUE(blocked.open(path, &index, {}, nullptr, &from));
    EXPECT_EQ(from, IndexCache::Source::Built);
    EXPECT_EQ(index.rowCount(), 3000 * 2 + 3000 / 7 + 1 + 1);
    EXPECT_FALSE(blocked.lastError().isEmpty());
}
