// The Find and Replace window: searches the open document's names, attribute values,
// text and comments; Find Next / Previous select the match's node in the tree, Find All
// lists every match, Replace and Replace All change the document through the edit layer
// (Replace All as one undoable step). It knows the main window only through the hooks
// it is given, so it never reaches into the window's parts.
#pragma once

#include "treelark/FindReplace.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace treelark {

class DocumentSession;
struct ReplaceOutcome;

class FindReplaceWindow : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void(const DOMNode&)> reveal;  // select the node in the tree
        std::function<void(const QString&)> status;  // the main window's status line
        std::function<DOMNode()> selected;           // the node selected in the tree
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
    QTreeWidget* results = nullptr;

protected:
    // Enter on a listed match goes to it (and is not taken as the default button's).
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void followSession();
    // The matches now, or none with the fault shown; false when the search cannot run.
    bool search(std::vector<FindMatch>* out);
    void step(int direction);
    void showProblem(const QString& what, const FindProblem& problem);
    void checkPattern();
    void jumpTo(const FindMatch& match);
    // The outcome on the status line; what was left out in the results list.
    void report(const ReplaceOutcome& outcome);
    void activated(QTreeWidgetItem* item);

    DocumentSession& m_session;
    Hooks m_hooks;
    std::vector<FindMatch> m_listed;  // what the results list shows, by row
    FindMatch m_current;              // the match Find Next / Previous last went to
    bool m_hasCurrent = false;
};

} // namespace treelark
