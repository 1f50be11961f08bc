// The results list of the Find and Replace window: matches, or the replacements that were
// left out with their reasons. Rows are described only when the view asks for them, so a
// search with a hundred thousand matches lists them at once.
#pragma once

#include "treelark/FindReplace.h"

#include <QAbstractTableModel>

#include <memory>
#include <vector>

namespace treelark {

class MatchListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void showMatches(std::shared_ptr<const std::vector<FindMatch>> matches);
    void showLeftOut(std::vector<PlannedChange> leftOut);
    void clear();
    // A list of a hundred thousand matches takes a while to free: a little at a time.
    static void letGo(std::shared_ptr<const std::vector<FindMatch>>& matches);
    // The match a row lists; nullptr for a row of something left out.
    const FindMatch* matchAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    template <class Change> void change(Change&& change);

    std::shared_ptr<const std::vector<FindMatch>> m_matches;
    std::vector<PlannedChange> m_leftOut;
};

// "attribute value (k)", "text", ...
QString whereText(FindPlace place, const QString& attribute);
// The match in its text, marked «», with a little of the text either side.
QString markedText(const FindMatch& m);

} // namespace treelark
