#include "treelark/dCollection.h"

#include <gtest/gtest.h>
#include "qt_printers.h"

#include <QObject>
#include <QSharedPointer>

#include <algorithm>
#include <random>
#include <stdexcept>

using namespace treelark;

namespace {

// Like the DOM's node handle: a different instance of the same node is equal.
struct FakeHandle
{
    int node = 0;
    friend bool operator==(const FakeHandle &a, const FakeHandle &b) { return a.node == b.node; }
};

QStringList keysOf(const dCollection &c)
{
    QStringList keys;
    for (const QVariant &k : c.ReturnKeys())
        keys.append(k.toString());
    return keys;
}

QVariantList valuesOf(const dCollection &c)
{
    return QVariantList(c.begin(), c.end());
}

// Value i + 1 under each key in turn.
void addKeys(dCollection &c, const QStringList &keys)
{
    for (const QString &k : keys)
        c.Add(c.Count() + 1, k);
}

dOrderedList listOf(const QVariantList &values)
{
    dOrderedList list;
    for (const QVariant &v : values)
        list.add(v);
    return list;
}

// What a sort puts in the array, once it has reported taking every value; the array
// starts with a stale entry, which the sort must replace, not keep.
template <typename T>
QList<T> sorted(qint32 (*sort)(QList<T> &, const dOrderedList *), const QVariantList &values)
{
    QList<T> out(1);
    const dOrderedList list = listOf(values);
    EXPECT_EQ(sort(out, &list), values.size());
    return out;
}

} // namespace

Q_DECLARE_METATYPE(FakeHandle)

TEST(dCollectionKeys, CaseBlindKeysAndListDrift)
{
    dCollection c;
    EXPECT_TRUE(c.Add("first", ""));
    EXPECT_TRUE(c.Add("second", ""));
    EXPECT_TRUE(c.Add("v", "Name"));
    EXPECT_FALSE(c.Add("w", "NAME"));
    EXPECT_TRUE(c.Add("x", "Other"));
    EXPECT_EQ(keysOf(c), (QStringList{"", "", "Name", "Other"}));
    EXPECT_EQ(c.GetValue("nAmE"), QVariant("v"));
    EXPECT_FALSE(c.GetValue("").isValid());

    // The value goes, but the keys-list entry is searched by exact text.
    EXPECT_TRUE(c.RemoveByKey("NAME"));
    EXPECT_EQ(valuesOf(c), (QVariantList{"first", "second", "x"}));
    EXPECT_EQ(keysOf(c), (QStringList{"", "", "Name", "Other"}));
    EXPECT_EQ(c.FindValueKey("x"), "Name");

    c.removeAll();
    EXPECT_EQ(c.Count(), 0);
    EXPECT_EQ(keysOf(c), QStringList{"Other"});
}

TEST(dCollectionKeys, RemovalFailuresAndLiveLists)
{
    dCollection c;
    c.Add("v", "a");
    EXPECT_FALSE(c.RemoveByKey("b"));
    EXPECT_FALSE(c.RemoveByIndex(0));
    EXPECT_FALSE(c.RemoveByIndex(2));
    EXPECT_EQ(keysOf(c), QStringList{"a"});
    EXPECT_TRUE(c.RemoveByIndex(1));
    EXPECT_TRUE(c.Add("again", "A"));

    c.ReturnValues().add(2, "two");
    EXPECT_EQ(c.GetValue("TWO"), QVariant(2));
    EXPECT_THROW(c.ReturnValues().add(3, "Two"), std::invalid_argument);
    // Emptied through the live list, the keys list no longer matches: the
    // value is removed yet the keys-list step fails.
    c.ReturnKeys().clear();
    EXPECT_FALSE(c.RemoveByIndex(1));
    EXPECT_EQ(c.Count(), 1);
}

TEST(dCollectionKeys, SetValueMovesKeyToTheEnd)
{
    dCollection c;
    addKeys(c, {"a", "b", "c"});
    EXPECT_TRUE(c.SetValue(10, "a"));
    EXPECT_EQ(keysOf(c), (QStringList{"b", "c", "a"}));
    EXPECT_EQ(valuesOf(c), (QVariantList{2, 3, 10}));

    EXPECT_TRUE(c.SetValue(20, "B"));
    EXPECT_EQ(keysOf(c), (QStringList{"b", "c", "a", "B"}));
    EXPECT_EQ(valuesOf(c), (QVariantList{3, 10, 20}));
}

TEST(dCollectionKeys, ReturnKeysAsString)
{
    dCollection c;
    EXPECT_EQ(c.ReturnKeysAsString(), "");
    addKeys(c, {"a", "b"});
    for (QString del : {QString(" "), QString("")}) { // a blank delimiter is a comma, and the caller is told
        EXPECT_EQ(c.ReturnKeysAsString(del), "a,b");
        EXPECT_EQ(del, ",");
    }
    EXPECT_EQ(c.ReturnKeysAsString(" ; "), "a ; b");
    EXPECT_EQ(c.ReturnKeysAsString("\t"), "a\tb");

    // A delimiter goes before an entry only once some text exists.
    const QList<QPair<QStringList, QString>> cases{{{"", "a", ""}, "a,"},
                                                   {{"a", "", "b"}, "a,,b"},
                                                   {{"", ""}, ""}};
    for (const auto &[keys, joined] : cases) {
        dCollection k;
        addKeys(k, keys);
        EXPECT_EQ(k.ReturnKeysAsString(), joined) << keys.join('|').toStdString();
    }
}

TEST(dCollectionValues, TextsExistenceAndItems)
{
    QObject obj;
    dCollection c;
    c.Add("ABC", "s");
    c.Add(2.5, "n");
    c.Add(QVariant::fromValue(&obj), "o");
    c.Add("by key", "1");
    EXPECT_EQ(c.GetValueString("N"), "2.5");
    EXPECT_EQ(c.GetValueString("o"), "");
    EXPECT_EQ(c.GetValueString("none"), "");
    EXPECT_TRUE(c.bValueExist("abc", false));
    EXPECT_FALSE(c.bValueExist("abc", true));
    EXPECT_TRUE(c.bValueExist("2.5", true));
    // The object is met before "by key" and has no text: a failure.
    EXPECT_FALSE(c.bValueExist("by key", true));

    EXPECT_FALSE(c.Item("s").isValid());
    EXPECT_EQ(c.Item2("S"), QVariant("ABC"));
    EXPECT_FALSE(c.Item(1).isValid());
    EXPECT_EQ(c.Item(3).value<QObject *>(), &obj);
    EXPECT_EQ(c.Item2(3.0).value<QObject *>(), &obj);
    EXPECT_EQ(c.Item2("1"), QVariant("by key")); // a string is never a position
    for (const QVariant &missing : {QVariant(0), QVariant(5), QVariant("x"), QVariant(true)})
        EXPECT_FALSE(c.Item2(missing).isValid());
}

// Texts are found by exact text, objects by identity (a shared pointer by what it
// points at, a registered handle type by its own ==); an object looked for among texts
// cannot be compared, which reads "-1".
TEST(dCollectionFind, KeysAndValues)
{
    QObject a, b;
    auto shared = QSharedPointer<QObject>::create();
    dCollection::registerObjectType(QMetaType::fromType<FakeHandle>());
    EXPECT_TRUE(dCollection::isObject(QVariant::fromValue(FakeHandle{7})));
    EXPECT_FALSE(dCollection::isObject(QVariantList{1, 2}));
    dCollection texts, objects, handles;
    texts.Add("x", "first");
    texts.Add(5, "Second");
    objects.Add(QVariant::fromValue(&a), "A");
    objects.Add(QVariant::fromValue(&b), "B");
    EXPECT_EQ(objects.FindValueKey(QVariant()), "");
    objects.Add(QVariant(), "Nothing");
    objects.Add(QVariant::fromValue(shared), "S");
    handles.Add(QVariant::fromValue(FakeHandle{3}), "three");
    handles.Add(QVariant::fromValue(FakeHandle{7}), "seven");
    const dCollection empty;
    const struct {
        const dCollection *in;
        QVariant value;
        const char *key;
    } finds[] = {{&texts, "x", "first"}, {&texts, "X", ""}, {&texts, "5", "Second"}, {&empty, "anything", ""},
                 {&texts, QVariant::fromValue(&a), "-1"}, {&objects, QVariant::fromValue(&b), "B"},
                 {&objects, "A", "-1"}, {&objects, QVariant(), "Nothing"},
                 {&objects, QVariant::fromValue(shared.data()), "S"},
                 {&handles, QVariant::fromValue(FakeHandle{7}), "seven"}, {&handles, QVariant::fromValue(FakeHandle{9}), ""}};
    for (const auto &f : finds)
        EXPECT_EQ(f.in->FindValueKey(f.value), f.key) << f.value.typeName() << " " << f.key;
    EXPECT_EQ(texts.FindIndexOfKey("Second"), 2);
    EXPECT_EQ(texts.FindIndexOfKey("second"), -1);
    EXPECT_THROW(texts.FindIndexOfKey(QVariant::fromValue(&a)), std::invalid_argument);
    EXPECT_EQ(handles.Item("SEVEN").value<FakeHandle>().node, 7);
}

TEST(dCollectionSort, SortedArrays)
{
    EXPECT_EQ(sorted(dCollection::ReturnSortedNumeric, {"3", "10", "2"}), (QList<qint32>{2, 3, 10}));
    // Halves go to the even neighbour.
    EXPECT_EQ(sorted(dCollection::ReturnSortedNumeric, {"2.5", "3.5", "-2.5", "0.5", "1.5000001", "-2147483648.4"}),
              (QList<qint32>{INT32_MIN, -2, 0, 2, 2, 4}));
    EXPECT_EQ(sorted(dCollection::ReturnSortedDouble, {" 2.25", "-1e1", 0.5, "3."}), (QList<double>{-10.0, 0.5, 2.25, 3.0}));
    EXPECT_EQ(sorted(dCollection::ReturnSortedString, {"b", "B", "a"}), (QStringList{"B", "a", "b"}));
    QStringList strings{"stale"};
    dCollection c;
    addKeys(c, {"zeta", "10", "9"});
    EXPECT_EQ(dCollection::ReturnSortedString(strings, &c.ReturnKeys()), 3);
    EXPECT_EQ(strings, (QStringList{"10", "9", "zeta"}));
}

TEST(dCollectionSort, FailuresLeaveTheArrayUntouched)
{
    QList<qint32> numbers{42};
    QList<double> doubles{4.2};
    QStringList strings{"kept"};
    QObject obj;
    // Beyond 32 bits (at once or after rounding) fails only the integer sort.
    const dOrderedList empty, nonNumeric = listOf({"1", "x"}), withObject = listOf({"1", QVariant::fromValue(&obj)}),
                       beyondDouble = listOf({"1e400"}), beyond32 = listOf({"1", "3e9"}),
                       roundsBeyond32 = listOf({"1", "2147483647.5"});
    const dOrderedList *const none = nullptr;
    for (const dOrderedList *bad : {&empty, &nonNumeric, &withObject, &beyondDouble, &beyond32, &roundsBeyond32, none})
        EXPECT_EQ(dCollection::ReturnSortedNumeric(numbers, bad), -1);
    for (const dOrderedList *bad : {&empty, &nonNumeric, &withObject, &beyondDouble, none})
        EXPECT_EQ(dCollection::ReturnSortedDouble(doubles, bad), -1);
    for (const dOrderedList *bad : {&empty, &withObject, none})
        EXPECT_EQ(dCollection::ReturnSortedString(strings, bad), -1);
    EXPECT_EQ(numbers, QList<qint32>{42});
    EXPECT_EQ(doubles, QList<double>{4.2});
    EXPECT_EQ(strings, QStringList{"kept"});
}

TEST(dCollectionSort, NumericCollectionTest)
{
    for (const char *text : {"1", " 12 ", "\t7", "-1", "+1.5", ".5", "-.5", "5.", "1E-05", "2.5e+3"}) {
        const dOrderedList list = listOf({text});
        EXPECT_TRUE(dCollection::IsNumericCollection(&list)) << text;
    }
    for (const char *text : {"", "   ", "+", ".", "1e", "e1", "1.2.3", "- 1", "1 2", "1,000",
                             "0x10", "1e5.5", "inf", "nan"}) {
        const dOrderedList list = listOf({text});
        EXPECT_FALSE(dCollection::IsNumericCollection(&list)) << text;
    }
    // numbers of any type count; a bool or nothing does not
    const dOrderedList empty, numbers = listOf({3, 2.5, qint64(-7)}), others = listOf({1, true, QVariant()});
    EXPECT_TRUE(dCollection::IsNumericCollection(&empty) && dCollection::IsNumericCollection(&numbers));
    EXPECT_FALSE(dCollection::IsNumericCollection(&others) || dCollection::IsNumericCollection(nullptr));
}

TEST(dCollectionSort, SortByValueIndexes)
{
    QList<qint32> index(3, -1);
    dCollection::SortByValue({5, 3, 5}, index, 3);
    EXPECT_EQ(index, (QList<qint32>{1, 2, 0}));

    // Numbers compare numerically across types and come before texts; only
    // the first n positions take part.
    QList<qint32> mixed(6, -1);
    dCollection::SortByValue({"b", 10, "B", 2.5, qint64(-3), -100}, mixed, 5);
    EXPECT_EQ(mixed, (QList<qint32>{4, 3, 1, 2, 0, -1}));

    QList<qint32> small(2, 0);
    EXPECT_THROW(dCollection::SortByValue({1, 2, 3}, small, 3), std::out_of_range);
    EXPECT_THROW(dCollection::SortByValue({1}, small, 2), std::out_of_range);
    QObject obj;
    EXPECT_THROW(dCollection::SortByValue({1, QVariant::fromValue(&obj)}, small, 2),
                 std::invalid_argument);
}

TEST(dCollectionSort, QuicksortOfLargeInputsOfEveryShape)
{
    QList<double> segment{9, 8, 7, 6, 5, 4};
    dCollection::QuicksortDouble(segment, 1, 4);
    EXPECT_EQ(segment, (QList<double>{9, 5, 6, 7, 8, 4}));
    EXPECT_THROW(dCollection::QuicksortDouble(segment, 0, 6), std::out_of_range);

    const qint32 n = 200000;
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> any(-1e6, 1e6);
    std::uniform_int_distribution<int> few(0, 3);
    QList<QList<double>> inputs(5);
    for (qint32 i = 0; i < n; ++i) {
        inputs[0].append(any(rng));
        inputs[1].append(i);
        inputs[2].append(n - i);
        inputs[3].append(1.5);
        inputs[4].append(few(rng));
    }
    for (QList<double> &input : inputs) {
        QList<double> expected = input;
        std::sort(expected.begin(), expected.end());
        dCollection::QuicksortDouble(input, 0, n - 1);
        EXPECT_EQ(input, expected);
    }
}

TEST(dCollectionScale, MillionKeysAndTheirDuplicates)
{
    const int n = 1000000;
    dCollection c;
    for (int i = 0; i < n; ++i)
        ASSERT_TRUE(c.Add(i, QStringLiteral("child%1").arg(i)));
    for (int i = 0; i < n; i += 1000)
        ASSERT_FALSE(c.Add(i, QStringLiteral("CHILD%1").arg(i)));
    EXPECT_EQ(c.Count(), n);
    EXPECT_EQ(c.ReturnKeys().count(), n);
    EXPECT_EQ(c.GetValue("Child999999"), QVariant(999999));
}

TEST(dOrderedListTest, CopiesAreIndependent)
{
    dOrderedList list;
    list.add("a", "KeyA");
    list.add("b");
    EXPECT_THROW(list.item(3), std::out_of_range);
    EXPECT_THROW(list.item("b"), std::out_of_range);
    EXPECT_FALSE(list.tryAdd("x", "KEYA"));

    dOrderedList copy = list;
    list.remove("keya");
    EXPECT_EQ(list.item(1), QVariant("b"));
    EXPECT_EQ(copy.item("KeyA"), QVariant("a"));
    copy.remove(1);
    EXPECT_FALSE(copy.contains("KeyA"));
    EXPECT_TRUE(copy.tryAdd("y", "keyA"));
    EXPECT_THROW(list.remove("KeyA"), std::out_of_range);
}
