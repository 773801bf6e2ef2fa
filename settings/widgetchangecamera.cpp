#include "widgetchangecamera.h"

#include "wizardparawidget.h"

#include "cameras/cameraregistry.h"
#include "core/imagesize.h"
#include "core/startup.h"
#include "core/uitexttable.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/uistyle.h"
#include "widgets/warnbox.h"

#include <QPainter>

namespace {

QFont choiceFont()
{
    QFont font(QStringLiteral("times"));
    font.setWeight(2);
    font.setPixelSize(32);
    return font;
}

int views()
{
    return qBound(0, gCameraCount, 8);
}

} // namespace

WidgetChangeCamera::WidgetChangeCamera(QWidget *parent) : QWidget(parent)
{
    // Japanese labels are longer: the window is wider and the choices start further right.
    const bool japanese = gLanguage == 3;
    const int w = japanese ? 750 : 550;
    setGeometry(gShowW / 2 - w / 2, gShowH / 2 - 280, w, 560);

    void (WidgetChangeCamera::*const setters[8])(int) = {
        &WidgetChangeCamera::SetCameraNO0, &WidgetChangeCamera::SetCameraNO1, &WidgetChangeCamera::SetCameraNO2,
        &WidgetChangeCamera::SetCameraNO3, &WidgetChangeCamera::SetCameraNO4, &WidgetChangeCamera::SetCameraNO5,
        &WidgetChangeCamera::SetCameraNO6, &WidgetChangeCamera::SetCameraNO7};
    for (int i = 0; i < views(); ++i) {
        auto *combo = new ComboBox(this);
        combo->setFont(choiceFont());
        for (int k = 1; k <= views(); ++k)
            combo->addItem(uiText(394).arg(k), k - 1);
        styleComboBox(combo, 50);
        combo->setGeometry(japanese ? 375 : 360, 10 + 60 * i, 160, 50);
        combo->setCurrentIndex(i);
        gCameraPositions[i] = i;
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this, setters[i]);
        positionCombos.append(combo);
    }
    okButton = new ColorButton(uiText(121), this, 3);
    okButton->setGeometry(30, 490, w - 60, 50);
    connect(okButton, &QAbstractButton::clicked, this, &WidgetChangeCamera::SlotOK);
    hide();
}

void WidgetChangeCamera::SetCameraNO(int camera, int position)
{
    if (camera >= 0 && camera < 8 && position >= 0 && position < 8)
        gCameraPositions[camera] = position;
}

void WidgetChangeCamera::SetCameraNO0(int position) { SetCameraNO(0, position); }
void WidgetChangeCamera::SetCameraNO1(int position) { SetCameraNO(1, position); }
void WidgetChangeCamera::SetCameraNO2(int position) { SetCameraNO(2, position); }
void WidgetChangeCamera::SetCameraNO3(int position) { SetCameraNO(3, position); }
void WidgetChangeCamera::SetCameraNO4(int position) { SetCameraNO(4, position); }
void WidgetChangeCamera::SetCameraNO5(int position) { SetCameraNO(5, position); }
void WidgetChangeCamera::SetCameraNO6(int position) { SetCameraNO(6, position); }
void WidgetChangeCamera::SetCameraNO7(int position) { SetCameraNO(7, position); }

void WidgetChangeCamera::SlotOK()
{
    // Two cameras on one position would leave one of them without a view at the next start.
    for (int i = 0; i < views(); ++i) {
        for (int j = i + 1; j < views(); ++j) {
            if (gCameraPositions[i] != gCameraPositions[j])
                continue;
            if (gWarnBox) {
                gWarnBox->setMessage(uiText(361).arg(gCameraPositions[i] + 1));
                gWarnBox->exec();
            }
            return; // stays open for the correction
        }
    }
    hide();
    saveCameraSerials(0);
    if (paraWidget)
        paraWidget->SlotShutDown(); // the new order takes effect at the next start
}

void WidgetChangeCamera::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (gPixBackground && !gPixBackground->isNull())
        p.drawPixmap(rect(), *gPixBackground);
    p.setPen(Qt::yellow);
    // A label longer than the room left of its choice (English, Japanese) is drawn smaller rather than
    // hidden under the choice.
    const int room = (positionCombos.isEmpty() ? width() : positionCombos.first()->x()) - 30;
    for (int k = 1; k <= views(); ++k) {
        const QString label = uiText(395).arg(k);
        QFont font = choiceFont();
        while (font.pixelSize() > 16 && QFontMetrics(font).horizontalAdvance(label) > room)
            font.setPixelSize(font.pixelSize() - 1);
        p.setFont(font);
        p.drawText(QRect(20, 10 + 60 * (k - 1), width() - 20, 50), Qt::AlignLeft | Qt::AlignVCenter, label);
    }
}
