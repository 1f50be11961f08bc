#include "frmMessage.h"

#include "LargeTextView.h"
#include "Twips.h"
#include "clsWin32API.h"
#include "modUtils.h"

#include <QKeyEvent>
#include <QResizeEvent>

namespace treelark {

frmMessage::frmMessage(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("frmMessage"));
    setWindowTitle(QStringLiteral("Message"));
    txtMessage = new LargeTextView(this);
    txtMessage->setObjectName(QStringLiteral("txtMessage"));
    txtMessage->setGeometry(twipsToPixelsX(45, this), twipsToPixelsY(45, this), twipsToPixelsX(11130, this),
                            twipsToPixelsY(10770, this));
    resize(twipsToPixelsX(11310, this), twipsToPixelsY(10965, this));
    registerForm(this);
    clsWin32API().SetTopMost(this, -1);
}

void frmMessage::setCaption(const QString& sTitle)
{
    if (!sTitle.isEmpty())
        setWindowTitle(sTitle);
}

void frmMessage::ShowMessage(const QString& sMsg, const QString& sTitle)
{
    setCaption(sTitle);
    txtMessage->setPlainText(sMsg);
}

void frmMessage::ShowMessageUtf8(QByteArray sMsg, const QString& sTitle)
{
    setCaption(sTitle);
    txtMessage->setText(std::move(sMsg));
}

void frmMessage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void frmMessage::keyPressEvent(QKeyEvent* event)
{
    // the view keeps an Escape that closes its find bar; one that reaches here is ours
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMessage::Form_Resize()
{
    if (isMinimized())
        return;
    // The outer size, frame included where the window system reports one. Twips are
    // held in 32 bits here, so a window wider or taller than 32767 twips (about 2200
    // pixels at 96 dpi) is laid out by the same rule as any other.
    const QRect outer = frameGeometry();
    const qint32 W = pixelsToTwipsX(outer.width(), this);
    const qint32 H = pixelsToTwipsY(outer.height(), this);
    if (W > 1000 && H > 1000)
        txtMessage->setGeometry(twipsToPixelsX(100, this), twipsToPixelsY(100, this), twipsToPixelsX(W - 200, this),
                                twipsToPixelsY(H - 500, this));
}

} // namespace treelark
