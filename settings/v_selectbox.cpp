#include "v_selectbox.h"

#include "core/imagesize.h"
#include "core/startup.h"
#include "core/uitexttable.h"
#include "widgets/boxtestpolicy.h"
#include "widgets/colorbutton.h"
#include "widgets/uistyle.h"

#include <QPainter>

v_SelectBox::v_SelectBox(int x, int y, QWidget *parent, int type)
    : QDialog(parent), posX(x), posY(y), boxType(type)
{
    setWindowFlags(windowFlags() | Qt::CustomizeWindowHint);
    placeBox();
    const bool small = gShowW <= 1024;
    const QSize buttonSize = small ? QSize(140, 60) : QSize(220, 100);
    if (boxType == 1) {
        okButton = new ColorButton(uiText(121), this, 3);
        okButton->setGeometry(
            QRect(small ? QPoint(140, 105) : QPoint((width() - 220) / 2, height() - 150), buttonSize));
    } else if (boxType == 2) {
        okButton = new ColorButton(uiText(122), this, 3);
        okButton->setGeometry(QRect(small ? QPoint(30, 105) : QPoint(100, height() - 150), buttonSize));
        cancelButton = new ColorButton(uiText(123), this, 3);
        cancelButton->setGeometry(
            QRect(small ? QPoint(240, 105) : QPoint(width() - 320, height() - 150), buttonSize));
        connect(cancelButton, &QAbstractButton::clicked, this, &QDialog::reject);
    }
    if (okButton)
        connect(okButton, &QAbstractButton::clicked, this, &QDialog::accept);
}

v_SelectBox::~v_SelectBox() = default;

void v_SelectBox::placeBox()
{
    const bool small = gShowW <= 1024;
    setGeometry(posX, posY, small ? 420 : 750, small ? 180 : 370);
}

void v_SelectBox::setText(const QString &text)
{
    message = text;
    update();
}

int v_SelectBox::exec()
{
    if (BoxTestPolicy::isEnabled()) {
        BoxTestPolicy::recordShown(message);
        const int answer = BoxTestPolicy::nextAnswer();
        setResult(answer);
        return answer;
    }
    return QDialog::exec();
}

void v_SelectBox::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (gPixBackground && !gPixBackground->isNull())
        p.drawPixmap(rect(), *gPixBackground);
    else
        p.fillRect(rect(), QColor(110, 110, 110));
    p.setPen(Qt::red);
    p.setFont(uiFont(gShowW <= 1024 ? 20 : 40));
    const QRect textRect = boxType == 0 ? rect() : QRect(0, 0, width(), height() / 2);
    p.drawText(textRect, Qt::AlignCenter | Qt::TextWordWrap, message);
    p.setPen(QPen(Qt::white, 5));
    p.drawRect(0, 0, width() - 1, height() - 1);
}

void v_SelectBox::showEvent(QShowEvent *event)
{
    placeBox();
    // A notice shown without a modal run is seen by the test policy too.
    if (BoxTestPolicy::isEnabled() && !isModal())
        BoxTestPolicy::recordShown(message);
    QDialog::showEvent(event);
}

void v_SelectBox::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
}
