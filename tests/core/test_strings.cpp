#include "treelark/modStringHandler.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <stdexcept>

using namespace treelark;

namespace {

QStringList split(const QString &text, const QString &delimiter)
{
    QStringList pieces{"stale"};
    const qsizetype n = SplitString(text, delimiter, pieces);
    EXPECT_EQ(n, pieces.size());
    return pieces;
}

} // namespace

TEST(SplitString, Pieces)
{
    EXPECT_EQ(split("x", ";"), QStringList{"x"});
    EXPECT_EQ(split("k=v=w", "="), (QStringList{"k", "v", "w"}));
    EXPECT_EQ(split("a::b", "::"), (QStringList{"a", "b"}));
    EXPECT_EQ(split("a:b", "::"), QStringList{"a:b"});
    // k delimiters always give k + 1 pieces, empty ones included.
    EXPECT_EQ(split("a;;b", ";"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(split(";a;", ";"), (QStringList{"", "a", ""}));
    EXPECT_EQ(split("", ";"), QStringList{""});
    // Exact case, left to right, no overlap.
    EXPECT_EQ(split("aXbxc", "x"), (QStringList{"aXb", "c"}));
    EXPECT_EQ(split("aaa", "aa"), (QStringList{"", "a"}));
}

TEST(SplitString, EmptyDelimiterIsRefused)
{
    QStringList pieces{"kept"};
    EXPECT_THROW(SplitString("abc", "", pieces), std::invalid_argument);
    EXPECT_EQ(pieces, QStringList{"kept"});
    EXPECT_THROW(ReplaceString("abc", "", "x"), std::invalid_argument);
}

TEST(SplitString, PieceCountIsNotLimitedTo16Bits)
{
    const QStringList pieces = split(QString("v;").repeated(100000), ";");
    EXPECT_EQ(pieces.size(), 100001);
    EXPECT_EQ(pieces[40000], "v");
    EXPECT_EQ(pieces.back(), "");
}

TEST(ReplaceString, EveryOccurrenceOnce)
{
    EXPECT_EQ(ReplaceString("no match", "xyz", "!"), "no match");
    EXPECT_EQ(ReplaceString("\"C:/a file.xml\"", "\"", ""), "C:/a file.xml");
    EXPECT_EQ(ReplaceString("a\tb\t\tc", "\t", " "), "a b  c");
    EXPECT_EQ(ReplaceString("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(ReplaceString("Aa", "a", "x"), "Ax");
    EXPECT_EQ(ReplaceString("a-a", "a", "aa"), "aa-aa");
}
