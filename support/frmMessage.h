// The message window: a long text (the whole document's XML, typically) in a resizable
// window that stays on top of the program's others. No buttons; the window's own close
// control closes it.
#pragma once

#include <QWidget>

namespace treelark {

class LargeTextView;

class frmMessage : public QWidget {
    Q_OBJECT
public:
    // `owner` is the window it belongs to: it stays above it and goes with it.
    explicit frmMessage(QWidget* owner = nullptr);

    // A non-empty title becomes the caption; the text box's text becomes the message.
    // The window is not shown: the caller does that.
    void ShowMessage(const QString& sMsg, const QString& sTitle = QString());
    // The same for a text already in UTF-8, which is kept as it is and not copied.
    void ShowMessageUtf8(QByteArray sMsg, const QString& sTitle = QString());

    LargeTextView* txtMessage = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Escape closes it, as the other tool windows: there is no button to tab to.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Form_Resize();
    void setCaption(const QString& sTitle);
};

} // namespace treelark
