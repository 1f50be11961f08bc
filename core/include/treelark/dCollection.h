#pragma once

// Keyed collection: ordered values with optional case-blind unique keys, plus
// the list of keys in the order they were added. Carries attribute sets into
// node creation, detects duplicate child names and offers a few sorts.

#include "treelark/export.h"

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

namespace treelark {

/// A 1-based ordered list of values. A value may be stored under a key; keys
/// are unique ignoring letter case and address their value in O(1) average.
/// Positions shift down when an earlier value is removed.
class TREELARK_CORE_EXPORT dOrderedList
{
    struct Entry
    {
        QVariant value;
        QString folded; ///< case-folded key, empty when the value has no key
    };
    using Storage = std::vector<std::unique_ptr<Entry>>;

public:
    class const_iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = QVariant;
        using difference_type = std::ptrdiff_t;
        using pointer = const QVariant *;
        using reference = const QVariant &;

        const_iterator() = default;
        reference operator*() const { return (*m_it)->value; }
        pointer operator->() const { return &(*m_it)->value; }
        const_iterator &operator++()
        {
            ++m_it;
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator old = *this;
            ++m_it;
            return old;
        }
        friend bool operator==(const const_iterator &, const const_iterator &) = default;

    private:
        friend class dOrderedList;
        explicit const_iterator(Storage::const_iterator it) : m_it(it) {}
        Storage::const_iterator m_it{};
    };

    dOrderedList() = default;
    dOrderedList(const dOrderedList &other);
    dOrderedList &operator=(const dOrderedList &other);
    dOrderedList(dOrderedList &&) noexcept = default;
    dOrderedList &operator=(dOrderedList &&) noexcept = default;
    ~dOrderedList() = default;

    qsizetype count() const noexcept { return qsizetype(m_entries.size()); }
    bool isEmpty() const noexcept { return m_entries.empty(); }
    void reserve(qsizetype n);

    /// Appends a value; an empty key stores it without one.
    /// Throws std::invalid_argument when the key is already taken (any case).
    void add(const QVariant &value, const QString &key = QString());
    /// As add(), but a taken key gives false and changes nothing. Refusals are
    /// frequent when hunting duplicates, so they must not cost an exception.
    bool tryAdd(const QVariant &value, const QString &key = QString());

    bool contains(const QString &key) const;
    /// nullptr when no value is stored under the key.
    const QVariant *find(const QString &key) const;

    /// Throw std::out_of_range for a position outside 1..count() or a missing key.
    const QVariant &item(qsizetype index) const;
    const QVariant &item(const QString &key) const;
    void remove(qsizetype index);
    void remove(const QString &key);

    void clear() noexcept;

    const_iterator begin() const { return const_iterator(m_entries.cbegin()); }
    const_iterator end() const { return const_iterator(m_entries.cend()); }

private:
    TREELARK_CORE_NO_EXPORT void eraseAt(Storage::size_type pos);

    Storage m_entries;
    QHash<QString, Entry *> m_byKey;
};

/// Values in the order they were added, each optionally under a key unique ignoring case,
/// and the keys in the same order; as an attribute set, key = name and value = text.
class TREELARK_CORE_EXPORT dCollection
{
public:
    dCollection() = default;
    dCollection(const dCollection &) = delete;
    dCollection &operator=(const dCollection &) = delete;
    ~dCollection() = default;

    /// Values of these types count as object references, in addition to
    /// QObject pointers (plain, shared, weak) and any other pointer type.
    /// Objects are compared with the type's operator==.
    static void registerObjectType(QMetaType type);
    static bool isObject(const QVariant &v);

    // An invalid QVariant stands for "nothing" throughout.

    bool Add(const QVariant &objNewMember, const QString &sKey);
    bool SetValue(const QVariant &objNewMember, const QString &sKey);
    void removeAll();
    QVariant GetValue(const QString &sKey) const;
    /// vntIndexKey: a string is a key, a number a 1-based position.
    QVariant Item(const QVariant &vntIndexKey) const;
    qint32 Count() const;
    bool RemoveByKey(const QString &sKey);
    bool RemoveByIndex(qint32 lIndex);

    /// Walks the values in order.
    dOrderedList::const_iterator begin() const { return m_values.begin(); }
    dOrderedList::const_iterator end() const { return m_values.end(); }

    /// A blank sDel is replaced by "," in the caller's variable as well.
    QString ReturnKeysAsString(QString &sDel) const;
    QString ReturnKeysAsString(const QString &sDel) const;
    QString ReturnKeysAsString() const;

    /// The live lists: changes made through them change this collection.
    dOrderedList &ReturnKeys() { return m_keys; }
    const dOrderedList &ReturnKeys() const { return m_keys; }
    dOrderedList &ReturnValues() { return m_values; }
    const dOrderedList &ReturnValues() const { return m_values; }

    QString GetValueString(const QString &sKey) const;
    bool bValueExist(const QString &sValue, bool bCaseSensitive) const;
    /// Throws std::invalid_argument when v or a keys-list entry has no text form.
    qint32 FindIndexOfKey(const QVariant &v) const;
    QString FindValueKey(const QVariant &v) const;

    /// Fills SrtIndex[0..n-1] with the positions of inValue in ascending order
    /// of value; equal values keep later positions first. Throws
    /// std::out_of_range when SrtIndex or inValue is too short and
    /// std::invalid_argument when two values cannot be compared.
    static void SortByValue(const QVariantList &inValue, QList<qint32> &SrtIndex, qint32 n);

    /// CollectionIn == nullptr stands for "nothing".
    static bool IsNumericCollection(const dOrderedList *CollectionIn);
    /// Return the number of values sorted, or -1 with the array untouched.
    static qint32 ReturnSortedNumeric(QList<qint32> &nArray, const dOrderedList *CollectionIn);
    static qint32 ReturnSortedString(QStringList &sArray, const dOrderedList *CollectionIn);
    static qint32 ReturnSortedDouble(QList<double> &nArray, const dOrderedList *CollectionIn);

    /// Sorts List[min..max] ascending; throws std::out_of_range for a segment
    /// outside the list.
    static void QuicksortDouble(QList<double> &List, qint32 min, qint32 max);

    QVariant Item2(const QVariant &vntIndexKey) const;

private:
    TREELARK_CORE_NO_EXPORT const QVariant *lookup(const QVariant &vntIndexKey) const;
    TREELARK_CORE_NO_EXPORT QString keyText(qsizetype index) const;

    dOrderedList m_values;
    dOrderedList m_keys;
};

} ///< namespace treelark
