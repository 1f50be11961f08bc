// Opening documents: the Load and Browse buttons, files dropped on the name box, the
// document named at start-up, a file too large for memory opened from its index, and
// what the window shows once a document is ready (pane, status line, title, the names
// remembered). Nothing open is replaced before the unsaved-work question was answered.
#pragma once

#include "treelark/dom.h"

#include <QObject>

#include <functional>

class QEvent;
class QLineEdit;
class QWidget;

namespace treelark {

class ApXmlMgr;
class DocumentSession;
class InfoPane;
class LoadPreview;
class LoadProgress;
class SaveCommands;
class StatusLine;
class TreeNavigator;

// The file a name in the name box stands for: "" for a web address.
QString localPath(const QString& name);

class LoadController : public QObject {
    Q_OBJECT
public:
    LoadController(DocumentSession& session, QWidget* window, QLineEdit* nameBox, InfoPane& pane,
                   StatusLine& status, LoadProgress& progress, SaveCommands& save, TreeNavigator& tree);

    // Loads `name` through `manager` with the window alive. For the session's own manager
    // the unsaved-work question comes first, and a file too large for memory opens in
    // large document form. DOMError::Cancelled when the user stopped it (or answered
    // Cancel): the window shows what it showed.
    qint32 load(ApXmlMgr* manager, QString& name, bool validate);

    // The toolbar's "load": the name box's text, validated as the switch says.
    void loadClicked(bool validate);
    // The toolbar's "browse": a file chosen goes into the name box; nothing is loaded.
    void browse();
    // Start-up with a name: loaded with validation; the starter document when that
    // gave no document element.
    void loadAtStart();
    // Start-up without a name: the last address in the name box, the starter document.
    void startEmpty();

    // Drags over the name box: file lists are taken (the box turns green), others not.
    bool nameBoxDragEvent(QEvent* event, bool validate);
    void nameBoxDrop(const QStringList& paths, bool validate);

    void setAlwaysLargeForm(bool always) { m_alwaysLarge = always; }
    // Where large document indexes are kept between runs ("": the user's cache folder).
    void setIndexCacheFolder(const QString& folder) { m_cacheFolder = folder; }
    // The documents loaded last, newest first (offered as completions in the name box).
    QStringList recentDocuments() const;

private:
    void oXMLMgr_DOMReady(DOMDocumentPtr doc);
    bool wantsLargeForm(const QString& name) const;
    // nullopt: the index could not be made and the file is small enough to read whole.
    std::optional<qint32> openLargeDocument(QString& name);
    void showLargeDocument(const QString& name);
    void setTitle();
    void rememberRecent(const QString& url);
    void setNameBoxGreen(bool green);
    void showStarterIfEmpty();

    DocumentSession& m_session;
    QWidget* m_window;
    QLineEdit* m_nameBox;
    InfoPane& m_pane;
    StatusLine& m_status;
    LoadProgress& m_progress;
    SaveCommands& m_save;
    LoadPreview* m_preview;
    bool m_alwaysLarge = false;
    QString m_cacheFolder;
};

} // namespace treelark
