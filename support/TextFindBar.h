// The small find bar over the top right corner of a text view: a search field, next and
// previous, and a note of what the last search found.
#pragma once

#include <QFrame>

class QLabel;
class QLineEdit;

namespace treelark {

class TextFindBar : public QFrame {
    Q_OBJECT
public:
    explicit TextFindBar(QWidget* parent = nullptr);

    void open(); // shows the bar with the search text selected, ready to type over
    void setSearchText(const QString& text);
    QString searchText() const;
    // Searches with the current text; opens the bar first when there is none.
    void search(bool backwards);
    // "" after a plain hit, a note after a search that went round or found nothing.
    void setOutcome(bool found, bool wrapped);
    QString outcome() const;

signals:
    void searchRequested(const QString& what, bool backwards);
    void closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* m_edit = nullptr;
    QLabel* m_note = nullptr;
};

} // namespace treelark
