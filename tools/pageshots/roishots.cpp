// Screenshots of the region editor on a made-up camera picture: one with each region shape selected
// (rectangle, ring, polygon; the rectangle also with each selector's list opened), one with the
// parameter panel of a spot region, an alarm review with the last pass's failed region, spots and a
// parameter preview, and a colour frame of red, green and blue bars, for a person to look at.
// Usage: roishots <output-dir> <language 0..3>   (run on a 1920 x 1080 X screen)

#include "cameradeviceinfo.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "drawroiwidget.h"
#include "imagesize.h"
#include "paramquery.h"
#include "shotcommon.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

namespace {

void touch(QWidget *w, QEvent::Type type, QPoint p)
{
    QMouseEvent e(type, p, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

void drag(QWidget *w, QPoint a, QPoint b)
{
    touch(w, QEvent::MouseButtonPress, a);
    touch(w, QEvent::MouseMove, b);
    touch(w, QEvent::MouseButtonRelease, b);
}

// A mould-like gray picture: a bright plate with two dark cavities and a hole pattern.
void paintPicture(CammerWidget &view)
{
    const int w = view.imageWidth, h = view.imageHeight;
    std::vector<uchar> &frame = view.grabBuffer();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int v = 150 + (x * 40) / w - (y * 30) / h;
            if (std::hypot(x - w * 0.3, y - h * 0.5) < h * 0.2 || std::abs(x - w * 0.7) + std::abs(y - h * 0.5) < h * 0.18)
                v = 60;
            if ((x / 40 + y / 40) % 7 == 0 && (x % 40) < 6 && (y % 40) < 6)
                v = 20;
            frame[size_t(y) * size_t(w) + size_t(x)] = uchar(v);
        }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    useBoxFont();
    if (!checkShotUsage(argc, 3, "roishots <output-dir> <language 0..3>"))
        return 2;
    const QString out = absoluteArgument(argv[1]);
    fillUiTextTable();
    gLanguage = languageArgument(argv[2]);
    QDir().mkpath(out);
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbIn"));
        db.setDatabaseName(QStringLiteral("PARAM.db"));
        db.open();
        static QSqlQuery query(db);
        setParamQueryHook([] { return &query; });
    }
    useFullHdScreen();
    gDetectSlotCount = 2;
    static SysParam param;
    param.enableDefectDetect = param.enableSpotDetect = param.enableIgnoreArea = param.enableManualLocate = 1;
    param.motionCorrect = -1;
    gSysParam = &param;
    CameraDeviceInfo info{0, QStringLiteral("simulateCamera_IID"), QStringLiteral("SN-1")};
    auto view = std::make_unique<CammerWidget>(nullptr, 0, &info);
    paintPicture(*view);
    DrawROIWidget editor(nullptr);
    editor.setCameraViews({view.get()});
    editor.openPage(false);
    editor.move(0, 0);
    const QString lang = QStringLiteral("lang%1").arg(gLanguage);

    editor.setDrawMode(DrawROIWidget::DrawRect);
    drag(&editor, {200, 200}, {620, 520});
    grab(out + QStringLiteral("/roi_rectangle_%1.png").arg(lang));
    grabPopups(&editor, out + QStringLiteral("/roi_rectangle"), QStringLiteral("_%1.png").arg(lang));

    editor.setDrawMode(DrawROIWidget::DrawCircle);
    drag(&editor, {1150, 540}, {1150, 760});
    editor.setParameter(4, 110); // a ring
    grab(out + QStringLiteral("/roi_ring_%1.png").arg(lang));

    editor.setDrawMode(DrawROIWidget::DrawPolygon);
    for (QPoint p : {QPoint(300, 650), QPoint(700, 620), QPoint(820, 900), QPoint(500, 1000), QPoint(250, 880)})
        drag(&editor, p, p);
    grab(out + QStringLiteral("/roi_polygon_drawing_%1.png").arg(lang));
    editor.endPolygon();
    grab(out + QStringLiteral("/roi_polygon_%1.png").arg(lang));

    editor.selectRoi(0);
    editor.setFunction(1); // spot detection: its own parameter names and ranges
    grab(out + QStringLiteral("/roi_spot_panel_%1.png").arg(lang));

    // An alarm review: the rectangle failed the last pass with two spots, the ring passed; a
    // parameter preview marks what the spot region would find.
    *view->liveTable = *view->editTable; // judged regions, as after a save
    editor.selectRoi(-1);
    view->roiPass[0][0] = false;
    view->spots[0][0][0].x1 = 2;
    view->spots[0][0][1] = {view->imageWidth / 8, view->imageHeight / 4, view->imageWidth / 8 + 30,
                            view->imageHeight / 4 + 20};
    view->spots[0][0][2] = {view->imageWidth / 5, view->imageHeight / 3, view->imageWidth / 5 + 16,
                            view->imageHeight / 3 + 16};
    view->previewShown = true;
    for (int y = view->imageHeight / 2; y < view->imageHeight / 2 + 40; ++y)
        for (int x = view->imageWidth / 4; x < view->imageWidth / 4 + 60; ++x)
            view->resultBuffer[size_t(y) * size_t(view->imageWidth) + size_t(x)] = 255;
    editor.update();
    grab(out + QStringLiteral("/roi_alarm_review_%1.png").arg(lang));

    // A colour camera's frame (bytes R, G, B, 0): red, green and blue bars from the left.
    view->setImageGeometry(view->imageWidth, view->imageHeight, true);
    uchar *const colourFrame = view->grabBuffer().data();
    for (int y = 0; y < view->imageHeight; ++y)
        for (int x = 0; x < view->imageWidth; ++x) {
            uchar *px = colourFrame + (size_t(y) * size_t(view->imageWidth) + size_t(x)) * 4;
            const int bar = x * 3 / view->imageWidth;
            px[0] = bar == 0 ? 220 : 30;
            px[1] = bar == 1 ? 220 : 30;
            px[2] = bar == 2 ? 220 : 30;
            px[3] = 0;
        }
    editor.setSourceIndex(0);
    grab(out + QStringLiteral("/roi_colour_bars_%1.png").arg(lang));
    editor.closePage();
    view.reset();
    setParamQueryHook(nullptr);
    return 0;
}
