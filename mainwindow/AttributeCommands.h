// The node commands that open the attribute windows: "EditAttributes" and "InsertNode"
// (the attribute editor) and "EditText" (the edit dialog), and the new element the
// attribute editor hands back on OK. Both windows are single instances; whatever else is
// opened closes them, as their rows belong to what was open.
#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace treelark {

class DOMNode;
class DocumentSession;
class StatusLine;
class TreeNavigator;
class frmView;
struct ClickedNode;

class AttributeCommands : public QObject {
    Q_OBJECT
public:
    AttributeCommands(DocumentSession& session, TreeNavigator& tree, StatusLine& status, const ClickedNode& clicked,
                      QWidget* window);

    void editAttributes();
    void insertNode();
    void editText();

    frmView* attributeEditor() const;

private:
    frmView* openView();
    void nodeAdded(bool ok, const DOMNode& added);
    QPoint besideClick(int extraX, int extraY) const;

    DocumentSession& m_session;
    TreeNavigator& m_tree;
    StatusLine& m_status;
    const ClickedNode& m_clicked;
    QWidget* m_window;
    QPointer<frmView> oViewForm;
};

} // namespace treelark
