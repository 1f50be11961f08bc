// The rows of a document on screen while it loads. A second thread indexes the file
// ahead of the load; the tree shows the elements as they are found, branch by branch,
// and a person can scroll, select and open branches while the document is built. Editing
// waits for the document (the rows are read-only, so every editing command says why).
// When the document is ready the tree changes to its nodes, keeping the branches open,
// the selection and the scroll position; a load that gives no document puts back what
// was shown before.
#pragma once

#include "TreeViewState.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

namespace treelark {

class DocumentSession;
class IndexFeed;
class LoadProgress;
class TreeNavigator;

class LoadPreview : public QObject {
    Q_OBJECT
public:
    LoadPreview(DocumentSession& session, TreeNavigator& tree, LoadProgress& progress, QObject* parent = nullptr);
    ~LoadPreview() override;

    // Files smaller than this load before anyone could look at a first row.
    static constexpr qint64 kSmallestFile = qint64(2) << 20;
    // Rows a preview holds at most: the first screens' worth many times over, a few
    // megabytes twice (the build's own and the one handed over). The rest comes with the
    // document: a preview that indexed the whole file would compete with the load for
    // the second core and memory for the whole time it runs.
    static constexpr qint64 kMaxRows = qint64(128) << 10;

    // Starts showing the rows of the local file `path` while it loads; false when it is
    // too small to need it (nothing is shown then).
    bool begin(const QString& path);
    // The load is over: the document it gave is shown (kept view), or what was shown before.
    void end();
    bool active() const { return m_feed != nullptr; }

private:
    void tick();
    void stopFeed();

    DocumentSession& m_session;
    TreeNavigator& m_tree;
    LoadProgress& m_progress;
    std::unique_ptr<IndexFeed> m_feed;
    std::shared_ptr<IndexRowSource> m_rows; // what the tree shows while the feed runs
    std::optional<TreeViewState> m_before; // what was open, as it was shown
    QTimer m_timer;
};

} // namespace treelark
