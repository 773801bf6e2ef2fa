// Camera view layout and the zoom of the one enlarged camera view.

#include "cameralayout.h"

#include "cammerwidget.h"
#include "devewizard.h"
#include "imagesize.h"
#include "iostatuswidget.h"
#include "startup.h"
#include "uistyle.h"

#include <QAbstractButton>
#include <QTimer>
#include <algorithm>

CameraLayout cameraLayout(int cameraCount, int shownCamera, int screenW, int screenH)
{
    CameraLayout layout;
    const int n = qBound(0, cameraCount, 8);
    layout.shownCamera = n;
    if (n == 0)
        return layout;
    if (n == 1)
        shownCamera = 0;
    if (shownCamera >= 0 && shownCamera < n) {
        layout.shownCamera = shownCamera;
        layout.cells[shownCamera] = QRect(0, 0, screenW, screenH);
        layout.cell = QSize(screenW, screenH);
        layout.zoomButtonMode = 1;
        return layout;
    }
    int columns = 1;
    int w = screenW;
    int h = screenH;
    if (n == 2) {
        columns = 2;
        w = screenW / 2;
    } else if (n <= 4) {
        columns = 2;
        w = screenW / 2;
        h = screenH / 2;
    } else if (n <= 6) {
        columns = 3;
        w = screenW / 3 + 1;
        h = screenH / 2;
    } else {
        columns = 4;
        w = screenW / 4;
        h = screenH / 2;
    }
    for (int i = 0; i < n; ++i)
        layout.cells[i] = QRect((i % columns) * w, (i / columns) * h, w, h);
    layout.cell = QSize(w, h);
    return layout;
}

void DeVeWizard::ChangeCammer()
{
    zoomOffsetX = 0.0;
    zoomOffsetY = 0.0;
    zoomScale = 1.0;
    if (gCameraCount <= 0)
        return;
    const CameraLayout layout = cameraLayout(gCameraCount, shownCamera, gShowW, gShowH);
    shownCamera = layout.shownCamera;
    const float w = float(layout.cell.width());
    const float h = float(layout.cell.height());
    if (gCameraCount > 1) {
        // One camera alone keeps the ratios taken at start, which are those of the full screen.
        cellScaleX = w / float(firstImageSize().width());
        cellScaleY = h / float(firstImageSize().height());
        cellScreenX = w / float(gShowW);
        cellScreenY = h / float(gShowH);
    }
    for (int i = 0; i < gCameraCount; ++i) {
        CammerWidget *view = cammerWidgets[i];
        if (!view)
            continue;
        if (layout.cells[i].isEmpty()) {
            view->hide();
            continue;
        }
        view->setGeometry(layout.cells[i]);
        view->screenRatioX = w / float(gShowW);
        view->screenRatioY = h / float(gShowH);
        view->imageRatioX = view->imageWidth > 0 ? w / float(view->imageWidth) : 0.0f;
        view->imageRatioY = view->imageHeight > 0 ? h / float(view->imageHeight) : 0.0f;
        view->show();
    }
    MShowHide(layout.zoomButtonMode);
}

void DeVeWizard::MShowHide(int mode)
{
    if (mode < 0 || mode > 2)
        return;
    zoomButtonMode = mode;
    for (QAbstractButton *button : zoomButtons()) {
        if (button)
            button->setVisible(mode == 2 || (mode == 1 && button == enlargeButton));
    }
}

void DeVeWizard::MHideAll()
{
    if (zoomButtonMode == 2)
        MShowHide(1);
}

void DeVeWizard::MTimerScale()
{
    zoomTimer->stop();
    MHideAll();
}

void DeVeWizard::MEnlargeScale()
{
    zoomTimer->start(kZoomButtonsMs);
    if (zoomButtonMode == 1)
        MShowHide(2);
    else if (zoomButtonMode == 2)
        MScale(1);
}

void DeVeWizard::MRecovery()
{
    zoomTimer->start(kZoomButtonsMs);
    MScale(0);
}

void DeVeWizard::MReductionScale()
{
    zoomTimer->start(kZoomButtonsMs);
    MScale(-1);
}

void DeVeWizard::MScale(int direction)
{
    const double s = zoomScale;
    // The picture point under the anchor, kept there by the new offsets.
    const float px = float((zoomAnchorX - zoomOffsetX) / s);
    const float py = float((zoomAnchorY - zoomOffsetY) / s);
    if (direction == 0) {
        zoomOffsetX = 0.0;
        zoomOffsetY = 0.0;
        zoomScale = 1.0;
        update();
        return;
    }
    double n = s;
    if (direction < 0) {
        n = s / kZoomStep;
        if (n < kZoomSnap)
            n = 1.0;
    } else {
        n = s * kZoomStep;
        if (n > kZoomMax)
            n = kZoomMax;
    }
    zoomScale = n;
    zoomOffsetX = zoomAnchorX - double(px) * n;
    zoomOffsetY = zoomAnchorY - double(py) * n;
    if (n == 1.0) {
        zoomOffsetX = 0.0;
        zoomOffsetY = 0.0;
    }
    update();
}

void DeVeWizard::SlotMove(int dx, int dy)
{
    if (zoomScale <= 1.0)
        return;
    zoomOffsetX += dx * zoomScale;
    zoomOffsetY += dy * zoomScale;
    update();
}

void DeVeWizard::SlotMoveT()
{
    zoomTimer->start(kZoomButtonsMs);
    SlotMove(0, -1);
}

void DeVeWizard::SlotMoveB()
{
    zoomTimer->start(kZoomButtonsMs);
    SlotMove(0, 1);
}

void DeVeWizard::SlotMoveL()
{
    zoomTimer->start(kZoomButtonsMs);
    SlotMove(-1, 0);
}

void DeVeWizard::SlotMoveR()
{
    zoomTimer->start(kZoomButtonsMs);
    SlotMove(1, 0);
}

// The seven picture buttons at the left edge, hidden until one camera is shown alone.
void DeVeWizard::createZoomControls()
{
    zoomOffsetX = 0.0;
    zoomOffsetY = 0.0;
    zoomScale = 1.0;
    zoomAnchorX = 0;
    zoomAnchorY = 0;
    zoomButtonMode = 0;
    struct ZoomButton
    {
        QAbstractButton **field;
        QPixmap *picture;
        int y;
        bool repeat;
        void (DeVeWizard::*slot)();
    };
    const ZoomButton zoomButtons[] = {
        {&enlargeButton, gPixEnlargeScale, 300, true, &DeVeWizard::MEnlargeScale},
        {&recoveryButton, gPixOrigin, 375, false, &DeVeWizard::MRecovery},
        {&reductionButton, gPixReductionScale, 450, true, &DeVeWizard::MReductionScale},
        {&moveUpButton, gPixMoveUp, 525, true, &DeVeWizard::SlotMoveT},
        {&moveDownButton, gPixMoveDown, 600, true, &DeVeWizard::SlotMoveB},
        {&moveLeftButton, gPixMoveLeft, 675, true, &DeVeWizard::SlotMoveL},
        {&moveRightButton, gPixMoveRight, 750, true, &DeVeWizard::SlotMoveR},
    };
    // The column runs from y 300 to 819; on a screen too short for it (768 lines) it moves up just
    // enough to end above the status strip, or the last move buttons could not be touched.
    const int stripTop = ioStatusWidget ? ioStatusWidget->y() : height();
    const int shift = std::min(0, stripTop - 5 - 820);
    for (const ZoomButton &zb : zoomButtons) {
        QAbstractButton *button = makePictureButton(zb.picture ? *zb.picture : QPixmap());
        button->setGeometry(5, zb.y + shift, 70, 70);
        if (zb.repeat)
            setButtonAutoRepeat(button);
        connect(button, &QAbstractButton::clicked, this, zb.slot);
        button->hide();
        *zb.field = button;
    }
    zoomTimer = new QTimer(this);
    connect(zoomTimer, &QTimer::timeout, this, &DeVeWizard::MTimerScale);
}
