// Screenshots of every page of the settings screen (factory parameters shown, so that every widget
// appears), each also with the list of each of its combo boxes opened in turn, with a made-up working
// copy. Usage: settingsshots <shipped-dir> <output-dir> <language 0..3> (run on a 1920 x 1080 X screen).

#include "combobox.h"
#include "customionamewidget.h"
#include "imagesize.h"
#include "iowidget.h"
#include "settingshooks.h"
#include "shotcommon.h"
#include "startup.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "widgetchangecamera.h"
#include "wizardparawidget.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPalette>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QString shipped;
    QString out;
    if (!startPageShots(argc, argv, "settingsshots", &shipped, &out))
        return 2;

    QTemporaryDir work;
    QDir::setCurrent(work.path());
    loadShippedImages(shipped);
    QDir().mkpath(QStringLiteral("paraGroup/default"));
    QDir().mkpath(QStringLiteral("paraGroup/mould-A"));
    QFile serial(QStringLiteral("serialNB.txt"));
    if (serial.open(QIODevice::WriteOnly))
        serial.write("MG2026-0042\n");
    serial.close();

    // The record page: today's lines on the live connection the main window would hold, and two
    // archived days.
    QDir().mkpath(QStringLiteral("RECORD"));
    for (const QString &day : {QStringLiteral("2026-12-05"), QStringLiteral("2026-12-06")})
        QFile::copy(shipped + QStringLiteral("/RECORDNULL.db"), QStringLiteral("RECORD/%1.db").arg(day));
    QFile::copy(shipped + QStringLiteral("/RECORDNULL.db"), QStringLiteral("RECORD.db"));
    QSqlDatabase live = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dbRecord"));
    live.setDatabaseName(QStringLiteral("RECORD.db"));
    live.open();
    const int lineRows[] = {235, 292, 401, 255, 319, 298};
    for (int i = 0; i < 6; ++i) {
        QSqlQuery insert(live);
        insert.prepare(QStringLiteral("INSERT INTO RECORD VALUES(?, ?, ?)"));
        insert.addBindValue(QStringLiteral("%1.%2.07").arg(8 + i, 2, 10, QLatin1Char('0')).arg(11 * i % 60, 2, 10,
                                                                                             QLatin1Char('0')));
        insert.addBindValue(uiText(154 + i % 3));
        insert.addBindValue(uiText(lineRows[i]));
        insert.exec();
    }

    useFullHdScreen();
    gCameraCount = 2;
    gSysParam = new SysParam;
    gSysParamEdit = new SysParam;
    gSysParamEdit->showFactoryParam = 1;
    gSysParamEdit->machineTypeEdit = 1;
    gSysParamEdit->trigInDelay[0] = 15;
    gSysParamEdit->exposeTime[0] = 20;
    static int lensOpt = 1;
    settingsHooks().lensOptEnabled = &lensOpt;
    settingsHooks().isAdvancedUser = [] { return true; };

    QWidget window;
    window.setGeometry(0, 0, 1920, 1080);
    QPalette dark = window.palette();
    dark.setColor(QPalette::Window, Qt::black);
    window.setPalette(dark);
    window.setAutoFillBackground(true);
    window.show();
    auto *screen = new WizardParaWidget(&window);
    screen->show();
    const QString suffix = QStringLiteral("_lang%1.png").arg(gLanguage);
    bool ok = grab(out + QStringLiteral("/settings_page0") + suffix);
    ok &= grabPopups(screen, out + QStringLiteral("/settings_page0"), suffix);
    screen->SlotToCamera();
    ok &= grab(out + QStringLiteral("/settings_page1") + suffix);
    ok &= grabPopups(screen, out + QStringLiteral("/settings_page1"), suffix);
    screen->SlotChangeShowMode();
    ok &= grab(out + QStringLiteral("/settings_page1_simple") + suffix);
    screen->SlotChangeShowMode();
    screen->SlotToIO();
    ok &= grab(out + QStringLiteral("/settings_page3") + suffix);
    ok &= grabPopups(screen, out + QStringLiteral("/settings_page3"), suffix);
    screen->SlotToAdvance();
    ok &= grab(out + QStringLiteral("/settings_page4") + suffix);
    ok &= grabPopups(screen, out + QStringLiteral("/settings_page4"), suffix);
    screen->SlotToRecord();
    screen->currentPage = 5;
    screen->DoChangePage();
    ok &= grab(out + QStringLiteral("/settings_page5") + suffix);
    ok &= grabPopups(screen, out + QStringLiteral("/settings_page5"), suffix);
    screen->recordDateList->setCurrentRow(1);
    screen->UpdateRecord(screen->recordDateList->item(1));
    ok &= grab(out + QStringLiteral("/settings_page5_archive") + suffix);
    // The multiple-detection I/O page with four detections, and the I/O names page.
    screen->SlotToIO();
    screen->SlotShowIOWidget();
    screen->ioWidget->countCombo->setCurrentIndex(2);
    ok &= grab(out + QStringLiteral("/settings_iopage") + suffix);
    ok &= grabPopups(screen, out + QStringLiteral("/settings_iopage"), suffix);
    auto *names = new CustomIONameWidget(&window, screen, screen->ioWidget);
    screen->hide();
    names->show();
    ok &= grab(out + QStringLiteral("/settings_ionames") + suffix);
    ok &= grabPopups(names, out + QStringLiteral("/settings_ionames"), suffix);
    // The camera-position window of a four-camera box, opened from the camera page, with the first
    // two cameras swapped.
    names->hide();
    gCameraCount = 4;
    auto *positions = new WidgetChangeCamera(&window);
    positions->positionCombos.at(0)->setCurrentIndex(1);
    positions->positionCombos.at(1)->setCurrentIndex(0);
    screen->changeCameraWidget = positions;
    screen->show();
    screen->SlotToCamera();
    screen->SlotTuneCamera();
    ok &= grab(out + QStringLiteral("/settings_camerapositions") + suffix);
    ok &= grabPopups(positions, out + QStringLiteral("/settings_camerapositions"), suffix);
    return ok ? 0 : 1;
}
