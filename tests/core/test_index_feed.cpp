// An index handed over from the thread that builds it: the reader must end with what a
// build on its own thread gives, and between pieces only the rows the feed names may
// change.
#include "test_support.h"
#include "treelark/IndexFeed.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

using namespace treelark;
using Row = DocumentIndex::Row;

namespace {

// Deep and wide by turns, some elements with text only, a few megabytes: the build hands
// over several pieces, and elements stay open across them.
QByteArray nestedDocument(unsigned seed, int elements)
{
    std::mt19937 rng(seed);
    QByteArray out = "<?xml version='1.0'?>\n<Root TagName='Root'>\n";
    int depth = 1;
    for (int i = 0; i < elements; ++i) {
        const unsigned r = rng() % 10;
        if (depth > 1 && r < 3) {
            out += "</Group>\n";
            --depth;
        } else if (r < 6 && depth < 40) {
            out += "<Group Name='g" + QByteArray::number(i) + "'>";
            ++depth;
        } else if (r < 8) {
            out += "<Item TagName='t" + QByteArray::number(i) + "'>some text for the item</Item>\n";
        } else {
            out += "<Empty" + QByteArray::number(r) + "/>";
        }
    }
    while (--depth > 0)
        out += "</Group>\n";
    return out + "</Root>\n";
}

struct RowState {
    Row next;
    qint64 children;
    qint64 end;
    bool text;
    bool operator==(const RowState&) const = default;
};

RowState stateOf(const DocumentIndex& x, Row r)
{
    return {x.nextSibling(r), x.childCount(r), x.endOffset(r), x.hasText(r)};
}

// Takes pieces until the build ends, checking after each that no row outside the ones
// named changed.
void drain(IndexFeed& feed)
{
    std::vector<RowState> seen;
    for (int spins = 0; !feed.finished() && spins < 100000; ++spins) {
        bool changed = false;
        const Row last = feed.take(&changed);
        const DocumentIndex& x = *feed.index();
        if (!changed) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        std::vector<bool> named(seen.size(), false);
        for (Row r = last; r != DocumentIndex::NoRow && r < seen.size(); r = x.parent(r))
            named[r] = true;
        for (Row r = 0; r < seen.size(); ++r) {
            if (!named[r]) {
                ASSERT_EQ(seen[r], stateOf(x, r)) << "row " << r << " changed without being named";
            }
        }
        seen.resize(std::size_t(x.rowCount()));
        for (Row r = 0; r < seen.size(); ++r)
            seen[r] = stateOf(x, r);
    }
    ASSERT_TRUE(feed.finished());
}

} // namespace

TEST(IndexFeed, EndsWithWhatABuildGivesAndNamesEveryRowThatChanges)
{
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir, "nested.xml", nestedDocument(11, 120000));
    DocumentIndex whole;
    ASSERT_TRUE(whole.build(path));
    ASSERT_GT(QFileInfo(path).size(), 2 << 20); // several pieces

    IndexFeed feed(path, 1 << 30);
    drain(feed);
    const DocumentIndex& fed = *feed.index();
    EXPECT_TRUE(fed.error().isNull());
    ASSERT_EQ(fed.rowCount(), whole.rowCount());
    for (Row r = 0; r < Row(whole.rowCount()); ++r) {
        ASSERT_EQ(fed.parent(r), whole.parent(r));
        ASSERT_EQ(stateOf(fed, r), stateOf(whole, r)) << "row " << r;
        ASSERT_EQ(fed.startOffset(r), whole.startOffset(r));
        ASSERT_EQ(fed.nameId(r), whole.nameId(r));
    }
    EXPECT_EQ(fed.nameCount(), whole.nameCount());
    // Reads go to the file through what was handed over.
    IndexedElement a, b;
    const Row probe = Row(whole.rowCount() / 2);
    ASSERT_TRUE(fed.read(probe, &a));
    ASSERT_TRUE(whole.read(probe, &b));
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.attributes.size(), b.attributes.size());
    EXPECT_EQ(a.text, b.text);
}

TEST(IndexFeed, StopsNearItsCapAndWhenAskedWithTheRowsFoundKept)
{
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(dir, "nested.xml", nestedDocument(5, 120000));
    DocumentIndex whole;
    ASSERT_TRUE(whole.build(path));
    {
        IndexFeed feed(path, 1000);
        drain(feed);
        const DocumentIndex& fed = *feed.index();
        EXPECT_GE(fed.rowCount(), 1000);
        EXPECT_LT(fed.rowCount(), whole.rowCount());
        EXPECT_TRUE(fed.error().cancelled);
        for (Row r = 0; r < Row(fed.rowCount()); ++r)
            ASSERT_EQ(fed.parent(r), whole.parent(r));
    }
    // Dropped while it builds: the thread is stopped and waited for.
    for (int i = 0; i < 3; ++i)
        IndexFeed(path, 1 << 30);
    IndexFeed missing(dir.filePath("none.xml"), 10);
    drain(missing);
    EXPECT_EQ(missing.index()->rowCount(), 0);
    EXPECT_FALSE(missing.index()->error().isNull());
}
