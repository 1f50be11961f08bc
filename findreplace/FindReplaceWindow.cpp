// The window's controls and what follows the open document; the searching and replacing
// behind the buttons is in FindReplaceRun.cpp.
#include "FindReplaceWindow.h"

#include "DocumentEditor.h"
#include "DocumentSession.h"
#include "MatchListModel.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <iterator>

namespace treelark {

FindReplaceWindow::FindReplaceWindow(DocumentSession& session, Hooks hooks, QWidget* parent)
    : QDialog(parent), m_session(session), m_hooks(std::move(hooks))
{
    setWindowTitle(QStringLiteral("Find and Replace"));
    setModal(false);
    build();
    followSession();
    connect(&m_session, &DocumentSession::replaced, this, [this] {
        m_hasCurrent = false;
        forget();
        resultsModel->clear();
        followSession();
    });
    // what was found is kept for Find Next until the document changes
    if (DocumentEditor* editor = m_session.editor()) {
        connect(editor, &DocumentEditor::changed, this, [this] { forget(); });
        connect(editor, &DocumentEditor::historyChanged, this, [this] { forget(); });
    }
}

void FindReplaceWindow::build()
{
    auto* form = new QFormLayout;
    findBox = new QLineEdit(this);
    replaceBox = new QLineEdit(this);
    xpathBox = new QLineEdit(this);
    xpathBox->setPlaceholderText(QStringLiteral("everywhere"));
    auto* findLabel = new QLabel(QStringLiteral("&Find:"), this);
    auto* replaceLabel = new QLabel(QStringLiteral("Re&place with:"), this);
    auto* xpathLabel = new QLabel(QStringLiteral("XPat&h:"), this);
    findLabel->setBuddy(findBox);
    replaceLabel->setBuddy(replaceBox);
    xpathLabel->setBuddy(xpathBox);
    form->addRow(findLabel, findBox);
    form->addRow(replaceLabel, replaceBox);

    auto* places = new QGroupBox(QStringLiteral("Look in"), this);
    auto* placeGrid = new QGridLayout(places);
    elementNames = new QCheckBox(QStringLiteral("&Element names"), places);
    attributeNames = new QCheckBox(QStringLiteral("Attribute na&mes"), places);
    attributeValues = new QCheckBox(QStringLiteral("Attribute val&ues"), places);
    texts = new QCheckBox(QStringLiteral("Te&xt and CDATA"), places);
    comments = new QCheckBox(QStringLiteral("&Comments"), places);
    attributeValues->setChecked(kDefaultFindPlaces & FindAttributeValues);
    texts->setChecked(kDefaultFindPlaces & FindText);
    placeGrid->addWidget(elementNames, 0, 0);
    placeGrid->addWidget(attributeNames, 0, 1);
    placeGrid->addWidget(attributeValues, 0, 2);
    placeGrid->addWidget(texts, 1, 0);
    placeGrid->addWidget(comments, 1, 1);

    auto* how = new QGroupBox(QStringLiteral("Match"), this);
    auto* howRow = new QHBoxLayout(how);
    matchCase = new QCheckBox(QStringLiteral("Match ca&se"), how);
    wholeWord = new QCheckBox(QStringLiteral("&Whole word"), how);
    regularExpression = new QCheckBox(QStringLiteral("Regular expressi&on"), how);
    howRow->addWidget(matchCase);
    howRow->addWidget(wholeWord);
    howRow->addWidget(regularExpression);

    auto* scope = new QFormLayout;
    scope->addRow(xpathLabel, xpathBox);
    branchOnly = new QCheckBox(QStringLiteral("In the selected &branch only"), this);
    scope->addRow(branchOnly);

    problemLabel = new QLabel(this);
    problemLabel->setWordWrap(true);
    problemLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problemLabel->setStyleSheet(QStringLiteral("color: #b00020"));
    problemLabel->hide();

    auto* buttons = new QVBoxLayout;
    nextButton = new QPushButton(QStringLiteral("Find &Next"), this);
    previousButton = new QPushButton(QStringLiteral("Find Pre&vious"), this);
    allButton = new QPushButton(QStringLiteral("Find A&ll"), this);
    replaceButton = new QPushButton(QStringLiteral("&Replace"), this);
    replaceAllButton = new QPushButton(QStringLiteral("Replace &All"), this);
    nextButton->setDefault(true);
    for (QPushButton* b : {nextButton, previousButton, allButton, replaceButton, replaceAllButton})
        buttons->addWidget(b);
    buttons->addStretch();
    connect(nextButton, &QPushButton::clicked, this, [this] { findNext(); });
    connect(previousButton, &QPushButton::clicked, this, [this] { findPrevious(); });
    connect(allButton, &QPushButton::clicked, this, [this] { findAllMatches(); });
    connect(replaceButton, &QPushButton::clicked, this, [this] { replaceCurrent(); });
    connect(replaceAllButton, &QPushButton::clicked, this, [this] { replaceEverything(); });

    results = new QTreeView(this);
    resultsModel = new MatchListModel(results);
    results->setModel(resultsModel);
    results->setRootIsDecorated(false);
    results->setUniformRowHeights(true);
    results->setAllColumnsShowFocus(true);
    results->header()->setStretchLastSection(true);
    results->header()->resizeSection(0, 230);
    results->header()->resizeSection(1, 160); // "attribute value (name)" without eliding
    connect(results, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) { activated(index); });
    results->installEventFilter(this);

    auto* left = new QVBoxLayout;
    left->addLayout(form);
    left->addWidget(places);
    left->addWidget(how);
    left->addLayout(scope);
    left->addWidget(problemLabel);
    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(buttons);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(results, 1);

    // Tab goes from the two texts to the buttons, then to how and where to look
    QWidget* order[] = {findBox,        replaceBox,     nextButton, previousButton,    allButton,
                        replaceButton,  replaceAllButton, elementNames, attributeNames, attributeValues,
                        texts,          comments,       matchCase,  wholeWord,         regularExpression,
                        xpathBox,       branchOnly,     results};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    // what a user types into the pattern is checked as it is typed
    connect(findBox, &QLineEdit::textChanged, this, [this] { checkPattern(); });
    connect(regularExpression, &QCheckBox::toggled, this, [this] { checkPattern(); });
    connect(wholeWord, &QCheckBox::toggled, this, [this] { checkPattern(); });
    // a different search starts from the top
    for (QLineEdit* e : {findBox, xpathBox})
        connect(e, &QLineEdit::textChanged, this, [this] { m_hasCurrent = false; });
    resize(620, 520);
}

bool FindReplaceWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == results && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && results->currentIndex().isValid()) {
            activated(results->currentIndex());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FindReplaceWindow::followSession()
{
    const bool readOnly = m_session.isReadOnly();
    for (QPushButton* b : {replaceButton, replaceAllButton}) {
        b->setEnabled(!readOnly);
        b->setToolTip(readOnly ? m_session.readOnlyTip() : QString());
    }
    replaceBox->setEnabled(!readOnly);
    const bool large = m_session.largeDocument() != nullptr;
    xpathBox->setEnabled(!large);
    xpathBox->setToolTip(large ? QStringLiteral("An XPath needs the document in memory; this one is shown from its index.")
                               : QString());
}

void FindReplaceWindow::present()
{
    followSession();
    show();
    raise();
    activateWindow();
    findBox->setFocus(Qt::ShortcutFocusReason);
    findBox->selectAll();
}

FindOptions FindReplaceWindow::options() const
{
    FindOptions o;
    o.findText = findBox->text();
    o.replaceText = replaceBox->text();
    o.places = (elementNames->isChecked() ? FindElementNames : 0u) | (attributeNames->isChecked() ? FindAttributeNames : 0u)
        | (attributeValues->isChecked() ? FindAttributeValues : 0u) | (texts->isChecked() ? FindText : 0u)
        | (comments->isChecked() ? FindComments : 0u);
    o.matchCase = matchCase->isChecked();
    o.wholeWord = wholeWord->isChecked();
    o.regularExpression = regularExpression->isChecked();
    o.xpath = xpathBox->text();
    if (branchOnly->isChecked() && m_session.largeDocument()) {
        if (m_hooks.selectedRow)
            o.branchRow = m_hooks.selectedRow();
    } else if (branchOnly->isChecked() && m_hooks.selected) {
        o.branch = m_hooks.selected();
    }
    return o;
}

void FindReplaceWindow::showProblem(const QString& what, const FindProblem& problem)
{
    if (!problem.isError()) {
        problemLabel->clear();
        problemLabel->hide();
        return;
    }
    QString text = QStringLiteral("%1: %2").arg(what, problem.message);
    if (problem.offset >= 0)
        text += QStringLiteral(" (at position %1)").arg(problem.offset + 1);
    problemLabel->setText(text);
    problemLabel->show();
}

void FindReplaceWindow::checkPattern()
{
    showProblem(QStringLiteral("Regular expression"), checkFindOptions(options()));
}

} // namespace treelark
