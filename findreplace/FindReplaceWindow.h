// The Find and Replace window: searches the open document's names, attribute values,
// text and comments; Find Next / Previous select the match's node in the tree, Find All
// lists every match, Replace and Replace All change the document through the edit layer
// (Replace All as one undoable step). It knows the main window only through the hooks
// it is given, so it never reaches into the window's parts.
#pragma once

#include "treelark/FindReplace.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QPushButton;
class QTreeView;

namespace treelark {

class DocumentSession;
class MatchListModel;
struct ReplaceOutcome;

class FindReplaceWindow : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void(const DOMNode&)> reveal;  // select the node in the tree
        std::function<void(const QString&)> status;  // the main window's status line
        std::function<DOMNode()> selected;           // the node selected in the tree
        // The large form: select a row, and the row selected (-1 for none).
        std::function<void(qint64)> revealRow;
        std::function<qint64()> selectedRow;
        // Runs long work with the window painted, progress shown and Cancel offered.
        std::function<void(const std::function<void()>&)> runLong;
    };
    FindReplaceWindow(DocumentSession& session, Hooks hooks, QWidget* parent = nullptr);

    // Shown (again), raised, the find text selected for typing over.
    void present();
    FindOptions options() const;

    void findNext() { step(+1); }
    void findPrevious() { step(-1); }
    void findAllMatches();
    void replaceCurrent();
    void replaceEverything();

    QLineEdit* findBox = nullptr;
    QLineEdit* replaceBox = nullptr;
    QLineEdit* xpathBox = nullptr;
    QCheckBox* elementNames = nullptr;
    QCheckBox* attributeNames = nullptr;
    QCheckBox* attributeValues = nullptr;
    QCheckBox* texts = nullptr;
    QCheckBox* comments = nullptr;
    QCheckBox* matchCase = nullptr;
    QCheckBox* wholeWord = nullptr;
    QCheckBox* regularExpression = nullptr;
    QCheckBox* branchOnly = nullptr;
    QPushButton* nextButton = nullptr;
    QPushButton* previousButton = nullptr;
    QPushButton* allButton = nullptr;
    QPushButton* replaceButton = nullptr;
    QPushButton* replaceAllButton = nullptr;
    QLabel* problemLabel = nullptr;
    QTreeView* results = nullptr;
    MatchListModel* resultsModel = nullptr;

protected:
    // Enter on a listed match goes to it (and is not taken as the default button's).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void followSession();
    // The matches now (kept until the document or the search changes), or nullptr with
    // the fault shown when the search cannot run.
    std::shared_ptr<const std::vector<FindMatch>> search();
    void forget();
    void runLong(const std::function<void()>& work);
    void step(int direction);
    void showProblem(const QString& what, const FindProblem& problem);
    void checkPattern();
    void jumpTo(const FindMatch& match);
    // The outcome on the status line; what was left out in the results list.
    void report(const ReplaceOutcome& outcome);
    void activated(const QModelIndex& index);

    DocumentSession& m_session;
    Hooks m_hooks;
    std::shared_ptr<const std::vector<FindMatch>> m_found; // the last search's matches
    FindOptions m_foundFor;
    FindMatch m_current;              // the match Find Next / Previous last went to
    bool m_hasCurrent = false;
};

} // namespace treelark
