// Screenshots of two and of four simulated camera views side by side, as the main window's layout
// places them on a 1920 x 1080 screen, each with the sample regions, the spots of one pass and its
// verdict, in all four languages.
// Usage: viewshots <shipped-dir> <output-dir>   (run on a 1920 x 1080 X screen)

#include "cameradetector.h"
#include "cameraregistry.h"
#include "cammerwidget.h"
#include "imagesize.h"
#include "inspectionhooks.h"
#include "paramquery.h"
#include "sampleregions.h"
#include "shotcommon.h"
#include "simulatecamera.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <QTemporaryDir>
#include <QTimer>

namespace {

// n views in the cells the layout gives them (two side by side, four in two rows), each judged once.
bool shoot(int n, const QString &path)
{
    QWidget top;
    top.setGeometry(0, 0, gShowW, gShowH);
    top.setStyleSheet(QStringLiteral("background:black;"));
    const int w = gShowW / 2;
    const int h = n == 2 ? gShowH : gShowH / 2;
    for (int i = 0; i < n && i < gCameraInfoList.size(); ++i) {
        auto *view = new CammerWidget(&top, i, &gCameraInfoList.at(i));
        view->setGeometry((i % 2) * w, (i / 2) * h, w, h);
        view->screenRatioX = float(w) / float(gShowW);
        view->screenRatioY = float(h) / float(gShowH);
        view->grabFrame();
        view->detector->timedRegister(1);
        view->detector->findPosition(1);
        view->detector->detectCamera(1);
        view->resultTimer->setInterval(600000);
        view->resultTimer->start();
    }
    top.show();
    return grab(path);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    useBoxFont();
    if (!checkShotUsage(argc, 3, "viewshots <shipped-dir> <output-dir>"))
        return 2;
    const QString shipped = absoluteArgument(argv[1]);
    const QString out = absoluteArgument(argv[2]);
    QDir().mkpath(out);
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QFile::copy(shipped + QStringLiteral("/PARAM.db"), QStringLiteral("PARAM.db"));
    QFile::setPermissions(QStringLiteral("PARAM.db"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // One picture per camera, two of them with something left on the mould.
    const char *pictures[] = {"1/03_foreign.jpg", "2/04_foreign.jpg", "1/01_good.jpg", "2/02_good.jpg"};
    for (int i = 0; i < 4; ++i) {
        QDir().mkpath(QStringLiteral("simcam/%1").arg(i + 1));
        QFile::copy(shipped + QStringLiteral("/simcam/") + QLatin1String(pictures[i]),
                    QStringLiteral("simcam/%1/a.jpg").arg(i + 1));
    }

    fillUiTextTable();
    useFullHdScreen();
    gColorCamera = 0;
    createProcessMutexes();
    auto *param = new SysParam();
    param->showRoiLive = 1;
    param->minSpot = 1;
    param->motionCorrect = -1;
    param->slotEnabled[1] = 1;
    gSysParam = param;
    gSysParamEdit = new SysParam();

    int rc = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("viewshots"));
        db.setDatabaseName(QStringLiteral("PARAM.db"));
        if (!db.open())
            return 1;
        QSqlQuery query(db);
        for (int camera = 0; camera < 4; ++camera) {
            for (const auto &row : sampleRegionRows(gShowW, gShowH)) {
                QSqlQuery ins(db);
                ins.prepare(QStringLiteral("insert into cammer%1 (name, value) values (?, ?)").arg(camera));
                ins.addBindValue(row.first);
                ins.addBindValue(row.second);
                ins.exec();
            }
        }
        setParamQueryHook([&query] { return &query; });
        inspectionHooks().currentSlot = [] { return 1; };
        SimulateCamera::setManualStepping(true);
        useSimulatedCameras();
        const QStringList suffixes{QStringLiteral("zh"), QStringLiteral("en"), QStringLiteral("zh-TW"),
                                   QStringLiteral("ja")};
        for (int lang = 0; lang < 4; ++lang) {
            gLanguage = lang;
            const QString suffix = suffixes[lang];
            if (!shoot(2, out + QStringLiteral("/views2_%1.png").arg(suffix)) ||
                !shoot(4, out + QStringLiteral("/views4_%1.png").arg(suffix)))
                rc = 1;
        }
        setParamQueryHook({});
        inspectionHooks().currentSlot = nullptr;
        clearCameraBackends();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("viewshots"));
    return rc;
}
