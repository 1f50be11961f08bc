#include "MatchListModel.h"

#include "treelark/Busy.h"

namespace treelark {

namespace {

constexpr qsizetype kContext = 30; // characters shown either side of a listed match

} // namespace

QString whereText(FindPlace place, const QString& attribute)
{
    return attribute.isEmpty() ? findPlaceName(place) : QStringLiteral("%1 (%2)").arg(findPlaceName(place), attribute);
}

QString markedText(const FindMatch& m)
{
    const qsizetype from = qMax<qsizetype>(0, m.offset - kContext);
    const qsizetype to = qMin(m.subject.size(), m.offset + m.length + kContext);
    QString out = (from > 0 ? QStringLiteral("\u2026") : QString()) + m.subject.mid(from, m.offset - from)
        + QStringLiteral("\u00AB") + m.subject.mid(m.offset, m.length) + QStringLiteral("\u00BB")
        + m.subject.mid(m.offset + m.length, to - m.offset - m.length) + (to < m.subject.size() ? QStringLiteral("\u2026") : QString());
    out.replace(QLatin1Char('\n'), QChar(0x21B5));
    return out;
}

void MatchListModel::letGo(std::shared_ptr<const std::vector<FindMatch>>& matches)
{
    // Lists are made by the window as plain vectors and only shown as const, so the last
    // holder may empty one.
    if (matches && matches.use_count() == 1)
        releaseWhileBusy(const_cast<std::vector<FindMatch>&>(*matches));
    matches.reset();
}

// The old lists are freed after the view has the new ones: freeing ticks, and a view
// painted meanwhile must see a model that is whole.
template <class Change> void MatchListModel::change(Change&& change)
{
    beginResetModel();
    std::shared_ptr<const std::vector<FindMatch>> oldMatches = std::move(m_matches);
    std::vector<PlannedChange> oldLeftOut = std::move(m_leftOut);
    m_matches.reset();
    m_leftOut.clear();
    change();
    endResetModel();
    letGo(oldMatches);
    releaseWhileBusy(oldLeftOut);
}

void MatchListModel::showMatches(std::shared_ptr<const std::vector<FindMatch>> matches)
{
    change([&] { m_matches = std::move(matches); });
}

void MatchListModel::showLeftOut(std::vector<PlannedChange> leftOut)
{
    change([&] { m_leftOut = std::move(leftOut); });
}

void MatchListModel::clear() { showLeftOut({}); }

const FindMatch* MatchListModel::matchAt(int row) const
{
    return m_matches && row >= 0 && size_t(row) < m_matches->size() ? &(*m_matches)[size_t(row)] : nullptr;
}

int MatchListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return int(m_matches ? m_matches->size() : m_leftOut.size());
}

int MatchListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant MatchListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    if (const FindMatch* m = matchAt(index.row())) {
        switch (index.column()) {
        case 0: return m->path;
        case 1: return whereText(m->place, m->attributeName);
        default: return markedText(*m);
        }
    }
    if (index.row() < 0 || size_t(index.row()) >= m_leftOut.size())
        return QVariant();
    const PlannedChange& c = m_leftOut[size_t(index.row())];
    switch (index.column()) {
    case 0: return c.path;
    case 1: return whereText(c.place, c.attributeName);
    default: return QStringLiteral("left out: %1").arg(c.reason);
    }
}

QVariant MatchListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    static const char* const titles[] = {"Path", "Where", "Text"};
    return section >= 0 && section < 3 ? QString::fromLatin1(titles[section]) : QVariant();
}

} // namespace treelark
