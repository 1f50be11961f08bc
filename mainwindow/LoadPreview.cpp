#include "LoadPreview.h"

#include "DocumentSession.h"
#include "LoadProgress.h"
#include "TreeNavigator.h"
#include "treelark/IndexFeed.h"

#include <QFileInfo>
#include <QTreeView>

namespace treelark {

namespace {

// The rows found ahead of a document. An element's "#text" row waits for its end: until
// then it may still turn out to hold elements, and text beside elements has no row.
class LoadingRows : public IndexRowSource {
public:
    using IndexRowSource::IndexRowSource;
    TreeRow firstChild(const TreeRow& row) const override
    {
        TreeRow c = IndexRowSource::firstChild(row);
        return isTextRow(c) && !index().isClosed(elementOf(row)) ? TreeRow() : c;
    }
    qint64 knownChildCount(const TreeRow&) const override { return -1; } // still growing
    QString readOnlyReason() const override
    {
        return QStringLiteral("the document is still being read; it can be edited once it is open");
    }
};

// Each tick takes what the indexing thread found; a tenth of a second is as often as a
// person notices, and the load keeps the window turning over every 25 ms.
constexpr int kTickMs = 50;

} // namespace

LoadPreview::LoadPreview(DocumentSession& session, TreeNavigator& tree, LoadProgress& progress, QObject* parent)
    : QObject(parent), m_session(session), m_tree(tree), m_progress(progress)
{
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &LoadPreview::tick);
    // The document is ready: the rows found ahead of it have done their work. (This runs
    // before the tree is given the document's rows, so the tree still shows them.)
    connect(&session, &DocumentSession::replaced, this, [this] {
        if (!m_feed)
            return;
        stopFeed();
        m_tree.keepViewForNextSource();
    });
}

LoadPreview::~LoadPreview() = default;

bool LoadPreview::begin(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() < kSmallestFile)
        return false;
    QTreeView* view = m_tree.view();
    m_before = captureViewState(view, m_tree.model());
    m_feed = std::make_unique<IndexFeed>(info.absoluteFilePath(), kMaxRows);
    m_rows = std::make_shared<LoadingRows>(m_feed->index());
    m_progress.letThrough(view);
    m_timer.start();
    m_session.showLoading(m_rows);
    return true;
}

void LoadPreview::tick()
{
    if (!m_feed)
        return;
    bool changed = false;
    const DocumentIndex::Row last = m_feed->take(&changed);
    if (!changed)
        return;
    const DocumentIndex& index = m_rows->index();
    if (last == DocumentIndex::NoRow) {
        // The first rows: the document element, shown open as always, in place of the
        // empty row shown while there was none.
        if (index.rowCount() > 0)
            m_tree.show(m_rows);
        return;
    }
    // Only the elements open when the last rows were taken can have gained rows.
    std::vector<TreeRow> open;
    for (DocumentIndex::Row r = last; r != DocumentIndex::NoRow; r = index.parent(r))
        open.push_back(m_rows->rowOf(r));
    m_tree.model()->grow(open);
    if (m_feed->finished())
        m_timer.stop();
}

void LoadPreview::stopFeed()
{
    m_timer.stop();
    m_progress.letThrough(nullptr);
    m_feed.reset();
    m_rows.reset();
}

void LoadPreview::end()
{
    if (!m_feed && !m_before)
        return;
    const bool stillLoading = m_session.isLoading();
    stopFeed();
    m_tree.keepViewForNextSource(false);
    if (stillLoading) {
        // No document came (cancelled, or not read): what was open is shown as it was.
        m_session.endLoading();
        if (m_before)
            restoreViewState(m_tree.view(), m_tree.model(), *m_before);
    }
    m_before.reset();
}

} // namespace treelark
