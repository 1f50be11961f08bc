// The Find and Replace window reaches this window only through these hooks: selecting a
// node or a large-form row, the status line, the selection, and the long-work display.
#include "frmMain.h"

#include "DocumentSession.h"
#include "FindReplaceWindow.h"
#include "LoadProgress.h"
#include "TreeNavigator.h"
#include "treelark/RowSource.h"

namespace treelark {

void frmMain::openFindReplace()
{
    if (!m_findReplace) {
        FindReplaceWindow::Hooks hooks;
        // a text or comment the tree does not list is shown by its element
        hooks.reveal = [this](const DOMNode& n) {
            if (!m_tree->reveal(TreeRow(n)) && n.parentNode())
                m_tree->reveal(TreeRow(n.parentNode()));
        };
        hooks.status = [this](const QString& text) { SetMsg(text); };
        hooks.selected = [this] { return selectedItem() ? selectedItem()->tag : DOMNode(); };
        hooks.revealRow = [this](qint64 row) {
            if (auto* index = dynamic_cast<const IndexRowSource*>(&m_session->source()))
                m_tree->reveal(index->rowOf(DocumentIndex::Row(row)));
        };
        hooks.selectedRow = [this]() -> qint64 {
            auto* index = dynamic_cast<const IndexRowSource*>(&m_session->source());
            return index && selectedItem() ? qint64(index->elementOf(selectedItem()->sourceRow())) : -1;
        };
        hooks.runLong = [this](const std::function<void()>& work) {
            m_progress->run([&] {
                work();
                return 0;
            });
        };
        m_findReplace = new FindReplaceWindow(*m_session, std::move(hooks), this);
    }
    m_findReplace->present();
}

FindReplaceWindow* frmMain::findReplace()
{
    openFindReplace();
    return m_findReplace;
}

} // namespace treelark
