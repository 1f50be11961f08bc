#include "treelark/dCollection.h"

#include <QDate>
#include <QDateTime>
#include <QSet>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include <locale.h>
#include <stdlib.h>

namespace treelark {

// The collection refuses what it cannot do (a key in use or missing, a position out of
// range, a value without a text form) with std::invalid_argument or std::out_of_range;
// the calls whose interface answers false, -1 or "-1" instead catch those two and nothing
// else: running out of memory, or anything unforeseen, reaches the caller.

// ---------------------------------------------------------------------------
// dOrderedList

dOrderedList::dOrderedList(const dOrderedList &other)
{
    *this = other;
}

dOrderedList &dOrderedList::operator=(const dOrderedList &other)
{
    if (this == &other)
        return *this;
    // Build aside so a failed copy leaves this list as it was.
    Storage entries;
    QHash<QString, Entry *> byKey;
    entries.reserve(other.m_entries.size());
    byKey.reserve(other.m_byKey.size());
    for (const auto &e : other.m_entries) {
        entries.push_back(std::make_unique<Entry>(*e));
        if (!e->folded.isEmpty())
            byKey.insert(e->folded, entries.back().get());
    }
    m_entries = std::move(entries);
    m_byKey = std::move(byKey);
    return *this;
}

void dOrderedList::reserve(qsizetype n)
{
    if (n > 0)
        m_entries.reserve(size_t(n));
}

void dOrderedList::add(const QVariant &value, const QString &key)
{
    if (!tryAdd(value, key))
        throw std::invalid_argument("key already in use: " + key.toStdString());
}

bool dOrderedList::tryAdd(const QVariant &value, const QString &key)
{
    if (key.isEmpty()) {
        m_entries.push_back(std::make_unique<Entry>(Entry{value, QString()}));
        return true;
    }
    // One probe both tests and claims the key: a new slot starts as nullptr.
    QString folded = key.toCaseFolded();
    Entry *&slot = m_byKey[folded];
    if (slot)
        return false;
    try {
        m_entries.push_back(std::make_unique<Entry>(Entry{value, std::move(folded)}));
    } catch (...) {
        m_byKey.remove(key.toCaseFolded());
        throw;
    }
    slot = m_entries.back().get();
    return true;
}

bool dOrderedList::contains(const QString &key) const
{
    return !key.isEmpty() && m_byKey.contains(key.toCaseFolded());
}

const QVariant *dOrderedList::find(const QString &key) const
{
    if (key.isEmpty())
        return nullptr;
    const auto it = m_byKey.constFind(key.toCaseFolded());
    return it == m_byKey.cend() ? nullptr : &it.value()->value;
}

const QVariant &dOrderedList::item(qsizetype index) const
{
    if (index < 1 || index > count())
        throw std::out_of_range("no position " + std::to_string(index));
    return m_entries[size_t(index - 1)]->value;
}

const QVariant &dOrderedList::item(const QString &key) const
{
    if (const QVariant *v = find(key))
        return *v;
    throw std::out_of_range("no key " + key.toStdString());
}

void dOrderedList::remove(qsizetype index)
{
    if (index < 1 || index > count())
        throw std::out_of_range("no position " + std::to_string(index));
    eraseAt(size_t(index - 1));
}

void dOrderedList::remove(const QString &key)
{
    const auto it = key.isEmpty() ? m_byKey.cend() : m_byKey.constFind(key.toCaseFolded());
    if (it == m_byKey.cend())
        throw std::out_of_range("no key " + key.toStdString());
    const Entry *target = it.value();
    const auto pos = std::find_if(m_entries.cbegin(), m_entries.cend(),
                                  [target](const auto &e) { return e.get() == target; });
    eraseAt(size_t(pos - m_entries.cbegin()));
}

void dOrderedList::eraseAt(Storage::size_type pos)
{
    const QString &folded = m_entries[pos]->folded;
    if (!folded.isEmpty())
        m_byKey.remove(folded);
    m_entries.erase(m_entries.begin() + std::ptrdiff_t(pos));
}

void dOrderedList::clear() noexcept
{
    m_byKey.clear();
    m_entries.clear();
}

// ---------------------------------------------------------------------------
// Value helpers

namespace {

std::mutex &objectTypesMutex()
{
    static std::mutex m;
    return m;
}

QSet<int> &objectTypes()
{
    static QSet<int> types;
    return types;
}

bool isArrayType(int id)
{
    switch (id) {
    case QMetaType::QVariantList:
    case QMetaType::QStringList:
    case QMetaType::QByteArrayList:
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
    case QMetaType::QVariantPair:
        return true;
    default:
        return false;
    }
}

// The text of a value, or false for values that have none: nothing, objects
// and arrays.
bool stringForm(const QVariant &v, QString &out)
{
    const QMetaType type = v.metaType();
    if (!type.isValid() || dCollection::isObject(v) || isArrayType(type.id()))
        return false;
    if (type.id() == QMetaType::QString) {
        out = v.toString();
        return true;
    }
    QString s;
    if (!QMetaType::convert(type, v.constData(), QMetaType::fromType<QString>(), &s))
        return false;
    out = std::move(s);
    return true;
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// What a user typing a number expects to be read as one: blanks around, an
// optional sign, digits with an optional decimal point, an optional exponent.
// Fills ascii with the text in a form strtod accepts.
bool scanNumber(QStringView text, std::string &ascii)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto digitsFrom = [&](qsizetype &k) {
        const qsizetype start = k;
        while (k < n && isDigit(text[k]))
            ascii.push_back(char(text[k++].unicode()));
        return k - start;
    };

    ascii.clear();
    while (i < n && isBlank(text[i]))
        ++i;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            ascii.push_back('-');
        ++i;
    }
    qsizetype mantissaDigits = digitsFrom(i);
    if (i < n && text[i] == u'.') {
        ascii.push_back('.');
        ++i;
        mantissaDigits += digitsFrom(i);
    }
    if (mantissaDigits == 0)
        return false;
    if (i < n && (text[i] == u'e' || text[i] == u'E')) {
        ascii.push_back('e');
        ++i;
        if (i < n && (text[i] == u'+' || text[i] == u'-'))
            ascii.push_back(char(text[i++].unicode()));
        if (digitsFrom(i) == 0)
            return false;
    }
    while (i < n && isBlank(text[i]))
        ++i;
    return i == n;
}

bool isNumericText(QStringView text)
{
    std::string ascii;
    return scanNumber(text, ascii);
}

// The decimal point must not follow the user's locale, which the GUI sets.
locale_t cLocale()
{
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return loc;
}

// nullopt for a text that is not numeric or too large for a double; a value
// too small for one reads as that nearest representable value, like 0.
std::optional<double> textToDouble(QStringView text)
{
    std::string ascii;
    if (!scanNumber(text, ascii))
        return std::nullopt;
    const double d = strtod_l(ascii.c_str(), nullptr, cLocale());
    if (std::isinf(d))
        return std::nullopt;
    return d;
}

double roundHalfEven(double x)
{
    const double floorPart = std::floor(x);
    const double diff = x - floorPart;
    if (diff < 0.5)
        return floorPart;
    if (diff > 0.5)
        return floorPart + 1.0;
    return std::fmod(floorPart, 2.0) == 0.0 ? floorPart : floorPart + 1.0;
}

std::optional<qint32> toInt32(double x)
{
    if (!std::isfinite(x))
        return std::nullopt;
    const double r = roundHalfEven(x);
    if (r < double(INT32_MIN) || r > double(INT32_MAX))
        return std::nullopt;
    return qint32(r);
}

bool isIntegerType(int id)
{
    switch (id) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isFloatType(int id)
{
    return id == QMetaType::Double || id == QMetaType::Float;
}

// A 1-based position given as a number; nullopt for anything else.
std::optional<qint64> positionOf(const QVariant &v)
{
    const int id = v.metaType().id();
    if (isIntegerType(id)) {
        bool ok = false;
        const qint64 i = v.toLongLong(&ok);
        return ok ? std::optional<qint64>(i) : std::nullopt;
    }
    if (isFloatType(id)) {
        const double r = roundHalfEven(v.toDouble());
        if (!std::isfinite(r) || std::fabs(r) > 9.0e18)
            return std::nullopt;
        return qint64(r);
    }
    return std::nullopt;
}

// Dates order like the numbers they stand for: days since 30 Dec 1899.
double dateSerial(const QDate &d)
{
    static const qint64 epoch = QDate(1899, 12, 30).toJulianDay();
    return double(d.toJulianDay() - epoch);
}

struct Comparable
{
    bool isText = false;
    bool isInteger = false;
    qint64 i = 0;
    double d = 0;
    QString s;
};

Comparable comparableOf(const QVariant &v)
{
    Comparable c;
    const int id = v.metaType().id();
    if (id == QMetaType::QString || id == QMetaType::QChar || id == QMetaType::QByteArray) {
        c.isText = true;
        c.s = v.toString();
    } else if (id == QMetaType::Bool) {
        c.isInteger = true;
        c.i = v.toBool() ? -1 : 0;
    } else if (id == QMetaType::ULongLong && v.toULongLong() > qulonglong(LLONG_MAX)) {
        c.d = double(v.toULongLong());
    } else if (isIntegerType(id)) {
        c.isInteger = true;
        c.i = v.toLongLong();
    } else if (isFloatType(id)) {
        c.d = v.toDouble();
    } else if (id == QMetaType::QDate) {
        c.d = dateSerial(v.toDate());
    } else if (id == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        c.d = dateSerial(dt.date()) + dt.time().msecsSinceStartOfDay() / 86400000.0;
    } else {
        throw std::invalid_argument("value cannot be compared");
    }
    return c;
}

// Numbers compare numerically and come before any text; texts compare by
// UTF-16 code unit.
bool variantLess(const QVariant &a, const QVariant &b)
{
    const Comparable x = comparableOf(a);
    const Comparable y = comparableOf(b);
    if (x.isText != y.isText)
        return !x.isText;
    if (x.isText)
        return QString::compare(x.s, y.s, Qt::CaseSensitive) < 0;
    if (x.isInteger && y.isInteger)
        return x.i < y.i;
    const double dx = x.isInteger ? double(x.i) : x.d;
    const double dy = y.isInteger ? double(y.i) : y.d;
    return dx < dy;
}

QObject *qobjectOf(const QVariant &v)
{
    QObject *o = nullptr;
    if (QMetaType::convert(v.metaType(), v.constData(), QMetaType::fromType<QObject *>(), &o))
        return o;
    if (v.metaType().flags() & QMetaType::PointerToQObject)
        return *static_cast<QObject *const *>(v.constData());
    return nullptr;
}

// Nothing is a reference too, equal only to itself.
bool isReference(const QVariant &v)
{
    return !v.isValid() || dCollection::isObject(v);
}

bool sameObject(const QVariant &a, const QVariant &b)
{
    if (!a.isValid() || !b.isValid())
        return a.isValid() == b.isValid();
    if (a.metaType() == b.metaType())
        return a == b;
    constexpr auto qobjectFlags = QMetaType::PointerToQObject | QMetaType::SharedPointerToQObject
                                  | QMetaType::WeakPointerToQObject;
    if ((a.metaType().flags() & qobjectFlags) && (b.metaType().flags() & qobjectFlags))
        return qobjectOf(a) == qobjectOf(b);
    return false;
}

qint64 pivotPosition(qint64 min, qint64 max)
{
    thread_local std::mt19937_64 generator;
    const double r = double(generator() >> 11) * 0x1.0p-53; // [0, 1)
    return std::min(max, min + qint64(r * double(max - min + 1)));
}

// Quicksort with a random pivot moved into a hole that travels between the
// two ends. The smaller part is sorted by recursion and the larger by the
// loop, so the stack stays logarithmic. Since everything right of the pivot
// is >= it, the run of values equal to the pivot found just after it is
// already in place; skipping it keeps equal-valued input linear instead of
// quadratic.
template<typename T, typename Less>
void quicksort(T *a, qint64 min, qint64 max, Less less)
{
    while (min < max) {
        const qint64 p = pivotPosition(min, max);
        const T v = a[p];
        a[p] = a[min];
        qint64 lo = min;
        qint64 hi = max;
        for (;;) {
            while (!less(a[hi], v)) {
                --hi;
                if (hi <= lo)
                    break;
            }
            if (hi <= lo) {
                a[lo] = v;
                break;
            }
            a[lo] = a[hi];
            ++lo;
            while (less(a[lo], v)) {
                ++lo;
                if (lo >= hi)
                    break;
            }
            if (lo >= hi) {
                lo = hi;
                a[hi] = v;
                break;
            }
            a[hi] = a[lo];
        }

        qint64 rightStart = lo + 1;
        while (rightStart <= max && !less(v, a[rightStart]))
            ++rightStart;

        if (lo - min < max - rightStart + 1) {
            quicksort(a, min, lo - 1, less);
            min = rightStart;
        } else {
            quicksort(a, rightStart, max, less);
            max = lo - 1;
        }
    }
}

template<typename T>
void quicksortAll(QList<T> &list)
{
    if (list.size() > 1)
        quicksort(list.data(), 0, list.size() - 1, std::less<T>());
}

template<>
void quicksortAll<QString>(QList<QString> &list)
{
    if (list.size() > 1)
        quicksort(list.data(), 0, list.size() - 1, [](const QString &a, const QString &b) {
            return QString::compare(a, b, Qt::CaseSensitive) < 0;
        });
}

// Shared body of the three sorted-array operations: the target is replaced
// only when every value converted, so a failure leaves it untouched.
template<typename T, typename Convert>
qint32 returnSorted(QList<T> &target, const dOrderedList *collection, Convert convert)
{
    const qsizetype n = collection->count();
    if (n < 1 || n > INT32_MAX)
        return -1;
    QList<T> sorted;
    sorted.reserve(n);
    QString text;
    for (const QVariant &v : *collection) {
        if (!stringForm(v, text))
            return -1;
        const std::optional<T> converted = convert(text);
        if (!converted)
            return -1;
        sorted.append(*converted);
    }
    quicksortAll(sorted);
    target = std::move(sorted);
    return qint32(n);
}

} // namespace

// ---------------------------------------------------------------------------
// dCollection

void dCollection::registerObjectType(QMetaType type)
{
    if (!type.isValid())
        return;
    std::lock_guard lock(objectTypesMutex());
    objectTypes().insert(type.id());
}

bool dCollection::isObject(const QVariant &v)
{
    const QMetaType type = v.metaType();
    if (!type.isValid())
        return false;
    constexpr auto objectFlags = QMetaType::PointerToQObject | QMetaType::SharedPointerToQObject
                                 | QMetaType::WeakPointerToQObject | QMetaType::IsPointer;
    if (type.flags() & objectFlags)
        return true;
    std::lock_guard lock(objectTypesMutex());
    return objectTypes().contains(type.id());
}

bool dCollection::Add(const QVariant &objNewMember, const QString &sKey)
{
    try {
        if (!m_values.tryAdd(objNewMember, sKey))
            return false;
        m_keys.add(QVariant(sKey));
        return true;
    } catch (const std::logic_error&) {
        return false;
    }
}

bool dCollection::SetValue(const QVariant &objNewMember, const QString &sKey)
{
    RemoveByKey(sKey);
    return Add(objNewMember, sKey);
}

void dCollection::removeAll()
{
    // The keys list may have drifted out of step; an entry it lacks is no
    // reason to stop emptying the values.
    for (qsizetype i = m_values.count(); i >= 1; --i) {
        m_values.remove(i);
        if (i <= m_keys.count())
            m_keys.remove(i);
    }
}

QVariant dCollection::GetValue(const QString &sKey) const
{
    const QVariant *v = m_values.find(sKey);
    return v ? *v : QVariant();
}

const QVariant *dCollection::lookup(const QVariant &vntIndexKey) const
{
    if (vntIndexKey.metaType().id() == QMetaType::QString)
        return m_values.find(vntIndexKey.toString());
    const std::optional<qint64> pos = positionOf(vntIndexKey);
    if (!pos || *pos < 1 || *pos > m_values.count())
        return nullptr;
    return &m_values.item(qsizetype(*pos));
}

QVariant dCollection::Item(const QVariant &vntIndexKey) const
{
    const QVariant *v = lookup(vntIndexKey);
    return v && isObject(*v) ? *v : QVariant();
}

qint32 dCollection::Count() const
{
    return qint32(m_values.count());
}

bool dCollection::RemoveByKey(const QString &sKey)
{
    try {
        m_values.remove(sKey);
        const qint32 k = FindIndexOfKey(QVariant(sKey));
        if (k > 0)
            m_keys.remove(k);
        return true;
    } catch (const std::logic_error&) {
        return false;
    }
}

bool dCollection::RemoveByIndex(qint32 lIndex)
{
    try {
        m_values.remove(lIndex);
        m_keys.remove(lIndex);
        return true;
    } catch (const std::logic_error&) {
        return false;
    }
}

QString dCollection::ReturnKeysAsString(QString &sDel) const
{
    if (std::all_of(sDel.cbegin(), sDel.cend(), [](QChar c) { return c == u' '; }))
        sDel = QStringLiteral(",");
    QString joined;
    QString entry;
    for (const QVariant &key : m_keys) {
        if (!joined.isEmpty())
            joined += sDel;
        if (stringForm(key, entry))
            joined += entry;
    }
    return joined;
}

QString dCollection::ReturnKeysAsString(const QString &sDel) const
{
    QString del = sDel;
    return ReturnKeysAsString(del);
}

QString dCollection::ReturnKeysAsString() const
{
    return ReturnKeysAsString(QStringLiteral(","));
}

QString dCollection::GetValueString(const QString &sKey) const
{
    QString text;
    const QVariant *v = m_values.find(sKey);
    return v && stringForm(*v, text) ? text : QString();
}

bool dCollection::bValueExist(const QString &sValue, bool bCaseSensitive) const
{
    const QString wanted = bCaseSensitive ? sValue : sValue.toUpper();
    QString text;
    for (const QVariant &v : m_values) {
        if (!stringForm(v, text))
            return false;
        if ((bCaseSensitive ? text : text.toUpper()) == wanted)
            return true;
    }
    return false;
}

qint32 dCollection::FindIndexOfKey(const QVariant &v) const
{
    QString wanted;
    if (!stringForm(v, wanted))
        throw std::invalid_argument("key to look for has no text form");
    qint32 index = 0;
    QString text;
    for (const QVariant &key : m_keys) {
        ++index;
        if (!stringForm(key, text))
            throw std::invalid_argument("keys list entry has no text form");
        if (text == wanted)
            return index;
    }
    return -1;
}

QString dCollection::keyText(qsizetype index) const
{
    QString text;
    if (!stringForm(m_keys.item(index), text))
        throw std::invalid_argument("keys list entry has no text form");
    return text;
}

QString dCollection::FindValueKey(const QVariant &v) const
{
    try {
        const bool wantObject = isReference(v);
        std::optional<QString> wantedText;
        QString text;
        qsizetype index = 0;
        for (const QVariant &value : m_values) {
            ++index;
            if (wantObject) {
                if (!isReference(value))
                    throw std::invalid_argument("object compared with a non-object");
                if (sameObject(value, v))
                    return keyText(index);
                continue;
            }
            if (!wantedText) {
                if (!stringForm(v, text))
                    throw std::invalid_argument("value to look for has no text form");
                wantedText = text;
            }
            if (!stringForm(value, text))
                throw std::invalid_argument("stored value has no text form");
            if (text == *wantedText)
                return keyText(index);
        }
        return QString();
    } catch (const std::logic_error&) {
        return QStringLiteral("-1");
    }
}

void dCollection::SortByValue(const QVariantList &inValue, QList<qint32> &SrtIndex, qint32 n)
{
    if (SrtIndex.isEmpty() || SrtIndex.size() < n)
        throw std::out_of_range("SrtIndex has no room for every position");
    auto value = [&inValue](qint32 pos) -> const QVariant & {
        if (pos < 0 || pos >= inValue.size())
            throw std::out_of_range("no value at position " + std::to_string(pos));
        return inValue[pos];
    };
    SrtIndex[0] = 0;
    for (qint32 i = 1; i < n; ++i) {
        qint32 j = i;
        while (j >= 1 && !variantLess(value(SrtIndex[j - 1]), value(i))) {
            SrtIndex[j] = SrtIndex[j - 1];
            --j;
        }
        SrtIndex[j] = i;
    }
}

bool dCollection::IsNumericCollection(const dOrderedList *CollectionIn)
{
    if (!CollectionIn)
        return false;
    try {
        QString text;
        for (const QVariant &v : *CollectionIn) {
            if (!stringForm(v, text) || !isNumericText(text))
                return false;
        }
        return true;
    } catch (const std::logic_error&) {
        return false;
    }
}

qint32 dCollection::ReturnSortedNumeric(QList<qint32> &nArray, const dOrderedList *CollectionIn)
{
    try {
        if (!CollectionIn || !IsNumericCollection(CollectionIn))
            return -1;
        return returnSorted(nArray, CollectionIn, [](const QString &text) -> std::optional<qint32> {
            const std::optional<double> d = textToDouble(text);
            return d ? toInt32(*d) : std::nullopt;
        });
    } catch (const std::logic_error&) {
        return -1;
    }
}

qint32 dCollection::ReturnSortedString(QStringList &sArray, const dOrderedList *CollectionIn)
{
    try {
        if (!CollectionIn)
            return -1;
        return returnSorted(sArray, CollectionIn,
                            [](const QString &text) { return std::optional<QString>(text); });
    } catch (const std::logic_error&) {
        return -1;
    }
}

qint32 dCollection::ReturnSortedDouble(QList<double> &nArray, const dOrderedList *CollectionIn)
{
    try {
        if (!CollectionIn || !IsNumericCollection(CollectionIn))
            return -1;
        return returnSorted(nArray, CollectionIn,
                            [](const QString &text) { return textToDouble(text); });
    } catch (const std::logic_error&) {
        return -1;
    }
}

void dCollection::QuicksortDouble(QList<double> &List, qint32 min, qint32 max)
{
    if (max < min)
        return;
    if (min < 0 || max >= List.size())
        throw std::out_of_range("segment outside the list");
    quicksort(List.data(), min, max, std::less<double>());
}

QVariant dCollection::Item2(const QVariant &vntIndexKey) const
{
    const QVariant *v = lookup(vntIndexKey);
    return v ? *v : QVariant();
}

} // namespace treelark
