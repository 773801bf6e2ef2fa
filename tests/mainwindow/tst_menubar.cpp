// The operator's frame: the menu bar's layout and visibility rules, its page actions against the login
// level and a latched alarm, and what the application object does with every press (wake, logout and
// screen timers, long-press calibration) - run under the box's own application object.

#include "boxtestpolicy.h"
#include "cameraviewhooks.h"
#include "cammerwidget.h"
#include "checkbox.h"
#include "colorbutton.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "drawroiwidget.h"
#include "editbox.h"
#include "editorhooks.h"
#include "hardwareconfigurationwidget.h"
#include "helpwidget.h"
#include "imagesize.h"
#include "indexbutton.h"
#include "iostatuswidget.h"
#include "mainwindowglobals.h"
#include "mapplication.h"
#include "numberinput.h"
#include "pagehooks.h"
#include "paramstore.h"
#include "passwordbox.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "temperaturechartwidget.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "wizardparawidget.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <climits>
#include <cstring>

namespace {

class RecordingRunner : public CommandRunner
{
public:
    QStringList calls;
    CommandResult run(const QString &program, const QStringList &arguments, int) override
    {
        calls << (QStringList{program} + arguments).join(QLatin1Char(' '));
        CommandResult result;
        result.started = true;
        result.exitCode = 0;
        return result;
    }
};

// "y0-y1" of every button that shows, top to bottom, by its text row.
QString visibleButtons(const IndexButton &bar)
{
    QStringList out;
    for (auto *b : bar.findChildren<ColorButton *>()) {
        if (!b->isHidden())
            out << QStringLiteral("%1:%2-%3").arg(b->text()).arg(b->y()).arg(b->geometry().bottom());
    }
    std::sort(out.begin(), out.end(), [](const QString &a, const QString &b) {
        return a.section(QLatin1Char(':'), 1).section(QLatin1Char('-'), 0, 0).toInt() <
               b.section(QLatin1Char(':'), 1).section(QLatin1Char('-'), 0, 0).toInt();
    });
    return out.join(QLatin1Char(' '));
}

// "level|remarks" of every line of the working directory's RECORD.db, through a connection of our own.
QStringList recordLines()
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("look"));
        db.setDatabaseName(QStringLiteral("RECORD.db"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery q(db);
        if (db.open() && q.exec(QStringLiteral("select recordpassword, remarks from RECORD")))
            while (q.next())
                out << q.value(0).toString() + QLatin1Char('|') + q.value(1).toString();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("look"));
    return out;
}

QString row(int textRow, int y)
{
    return QStringLiteral("%1:%2-%3").arg(uiText(textRow)).arg(y).arg(y + 82);
}

} // namespace

class TestMenuBar : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
    }
    void init()
    {
        BoxTestPolicy::disable(); // drops answers a case queued and did not use
        BoxTestPolicy::enable(1);
        BoxTestPolicy::clearShown();
        BoxTestPolicy::setTypedPassword(QString());
        setCommandRunner(&runner);
        runner.calls.clear();
        mainPageHooks() = MainPageHooks();
    }
    void cleanup()
    {
        setCommandRunner(nullptr);
        mainPageHooks() = MainPageHooks();
    }

    // On the box's 1920 x 1080 screen: where the bar and each button sit, which buttons show, and
    // the left part of the bar folding the buttons away.
    void barLayout_data()
    {
        QTest::addColumn<int>("statisticsAtStart");
        QTest::addColumn<int>("enableStatistics");
        QTest::addColumn<int>("showManualSnap");
        QTest::addColumn<int>("enableProdDetect");
        QTest::addColumn<int>("tempWaveform");
        QTest::addColumn<QStringList>("extra"); // below the five fixed buttons, top to bottom
        const QString fixed;
        QTest::newRow("statistics, every button")
            << 1 << 1 << 1 << 1 << 1
            << QStringList{row(541, 530), row(111, 614), row(132, 698), row(131, 782), row(579, 866)};
        QTest::newRow("no statistics at start: help moves up")
            << 0 << 1 << 1 << 1 << 1 << QStringList{row(111, 530), row(132, 614), row(131, 698), row(579, 782)};
        QTest::newRow("statistics switched off later: a gap stays")
            << 1 << 0 << 0 << 1 << 0 << QStringList{row(111, 614)};
        QTest::newRow("snapshots without product detection: mould only")
            << 0 << 0 << 1 << 0 << 0 << QStringList{row(111, 530), row(132, 614)};
        QTest::newRow("product detection alone shows no snapshot")
            << 0 << 0 << 0 << 1 << 1 << QStringList{row(111, 530), row(579, 782)};
    }
    void barLayout()
    {
        QFETCH(int, statisticsAtStart);
        SysParam param;
        QFETCH(int, enableStatistics);
        QFETCH(int, showManualSnap);
        QFETCH(int, enableProdDetect);
        QFETCH(int, tempWaveform);
        param.enableStatistics = enableStatistics;
        param.showManualSnap = showManualSnap;
        param.enableProdDetect = enableProdDetect;
        param.tempWaveform = tempWaveform;
        GlobalsBackup keep;
        gSysParam = &param;
        gStatisticsEnabled = statisticsAtStart;
        gShowW = 1920;
        gShowH = 1080;
        QWidget screen;
        IndexButton bar(&screen);
        QCOMPARE(bar.geometry(), QRect(1670, 0, 240, 1080));
        QCOMPARE(bar.logoLabel->geometry(), QRect(0, 0, 240, 110));
        QVERIFY(bar.isHidden() && !bar.shown);
        QCOMPARE(bar.statisticsButton != nullptr, statisticsAtStart != 0);

        bar.showBar();
        QVERIFY(!bar.isHidden() && bar.shown);
        QFETCH(QStringList, extra);
        const QStringList expected =
            QStringList{row(126, 110), row(127, 194), row(215, 278), row(129, 362), row(130, 446)} + extra;
        QCOMPARE(visibleButtons(bar), expected.join(QLatin1Char(' ')));

        // Pressing left of x 110 folds the bar; the hide timer's end does the same.
        QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(109, 5));
        QVERIFY(bar.isHidden() && !bar.shown);
        bar.showBar();
        QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(110, 5));
        QVERIFY(!bar.isHidden() && bar.shown);
        bar.hideTimer->start(120000);
        bar.SlotShowHideTimeout();
        QVERIFY(bar.isHidden() && !bar.shown && !bar.hideTimer->isActive());
    }

    // Every press goes through the application object: a dark screen only wakes, the logout and
    // screen timers restart (long settings do not overflow), the keypad closes, and a long press on
    // a simulated-camera box calibrates and restarts on release, only when view 0 is simulated.
    void pressesOnTheWindow()
    {
        TestWorkDir dir;
        DeVeWizard window;
        QCOMPARE(gSimulatedCameras, 1);
        QPushButton target(&window);
        QSignalSpy clicks(&target, &QAbstractButton::clicked);
        runner.calls.clear();

        setBacklight(0);
        QCOMPARE(window.screenOff, 1);
        QTest::mouseClick(&target, Qt::LeftButton);
        QCOMPARE(clicks.count(), 0);
        QCOMPARE(window.screenOff, 0);
        QTest::mouseClick(&target, Qt::LeftButton);
        QCOMPARE(clicks.count(), 1);

        // Seconds -> timer interval.
        const QList<QPair<int, int>> times{{1, 1000}, {2147483, 2147483000}, {2147484, INT_MAX},
                                           {INT_MAX, INT_MAX}};
        for (const auto &t : times) {
            gSysParam->autoLogoutTime = t.first;
            gSysParam->screenOffTime = t.first;
            QTest::mouseClick(&target, Qt::LeftButton);
            QCOMPARE(window.logoutTimer->interval(), t.second);
            QCOMPARE(window.lcdTimer->interval(), t.second);
        }
        window.logoutTimer->stop();
        gSysParam->autoLogoutTime = 0;
        QTest::mouseClick(&target, Qt::LeftButton);
        QVERIFY(!window.logoutTimer->isActive());
        gSysParam->autoLogoutTime = 1;
        window.loginLevel = 2;
        QTest::mouseClick(&target, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(window.loginLevel, 0, 3000);

        // A press elsewhere closes the digit pad; a pad destroyed is made again.
        numberInput()->show();
        QTest::mouseClick(&window, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(!gNumberInput->isVisible());
        delete gNumberInput;
        QVERIFY(gNumberInput != nullptr);

        // Long press: released early nothing happens; held, the calibration runs on release.
        QVERIFY(!gApp->longPressTimer->isActive());
        QTest::mousePress(&target, Qt::LeftButton);
        QVERIFY(gApp->longPressTimer->isActive());
        QCOMPARE(gApp->longPressTimer->interval(), 5000);
        QTest::mouseRelease(&target, Qt::LeftButton);
        QVERIFY(!gApp->longPressTimer->isActive());
        QVERIFY(runner.calls.isEmpty());

        CammerWidget *first = window.cammerWidgets[0];
        QCOMPARE(first->cameraIid, QStringLiteral("simulateCamera_IID"));
        for (const QString &iid : {QStringLiteral("mindCamera_IID"), QString()}) {
            QTest::mousePress(&target, Qt::LeftButton);
            first->cameraIid = iid;
            if (iid.isEmpty())
                window.cammerWidgets[0] = nullptr; // no view at all
            gApp->onLongPressTimeout();
            QVERIFY(!gApp->calibrateOnRelease);
            QTest::mouseRelease(&target, Qt::LeftButton);
        }
        window.cammerWidgets[0] = first;
        first->cameraIid = QStringLiteral("simulateCamera_IID");
        QVERIFY(runner.calls.isEmpty());

        BoxTestPolicy::clearShown();
        QTest::mousePress(&target, Qt::LeftButton);
        gApp->onLongPressTimeout();
        QVERIFY(gApp->calibrateOnRelease);
        QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(370)});
        QTest::mousePress(&target, Qt::LeftButton); // a second finger does not restart the timer
        QVERIFY(!gApp->longPressTimer->isActive());
        QTest::mouseRelease(&target, Qt::LeftButton);
        QCOMPARE(runner.calls, (QStringList{QStringLiteral("./tsc"), QStringLiteral("reboot")}));
        QVERIFY(!gApp->calibrateOnRelease);
        QVERIFY(!window.recordDb.isOpen()); // flushed before the restart
    }

    // The settings and the area adjustment in their order of checks: another page open, the login
    // level (asked only when needed), the latched NG alarm.
    void pageActions_data()
    {
        QTest::addColumn<bool>("area"); // false: settings button
        QTest::addColumn<int>("pswUsed");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("alarm");
        QTest::addColumn<bool>("otherPage");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("opens");
        QTest::addColumn<int>("levelAfter");
        QTest::addColumn<int>("prompts");
        const QString adv = advancedPassword();
        QTest::newRow("settings: advanced drops to basic, no prompt") << false << 1 << 2 << 0 << false << "" << true << 1 << 0;
        QTest::newRow("settings: passwords off, advanced drops to 0") << false << 0 << 2 << 0 << false << "" << true << 0 << 0;
        QTest::newRow("settings: nobody logged in, advanced typed") << false << 1 << 0 << 0 << false << adv << true << 2 << 1;
        QTest::newRow("settings: nobody logged in, cancelled") << false << 1 << 0 << 0 << false << "" << false << 0 << 1;
        QTest::newRow("settings: alarm latched, after the level") << false << 1 << 1 << 2 << false << "" << false << 1 << 0;
        QTest::newRow("settings: another page open") << false << 1 << 2 << 0 << true << "" << false << 2 << 0;
        QTest::newRow("area: basic user") << true << 1 << 1 << 0 << false << "" << true << 1 << 0;
        QTest::newRow("area: alarm latched, no prompt") << true << 1 << 0 << 2 << false << adv << false << 0 << 0;
        QTest::newRow("area: another page open") << true << 0 << 0 << 0 << true << "" << false << 0 << 0;
        QTest::newRow("area: prompt cancelled") << true << 1 << 0 << 0 << false << "" << false << 0 << 1;
    }
    void pageActions()
    {
        QFETCH(bool, area);
        QFETCH(int, pswUsed);
        QFETCH(int, level);
        QFETCH(int, alarm);
        QFETCH(bool, otherPage);
        QFETCH(QString, typed);
        TestWorkDir dir;
        DeVeWizard window;
        int settingsShown = 0;
        int editorOpened = 0;
        mainPageHooks().showSettings = [&] { ++settingsShown; };
        mainPageHooks().openEditor = [&](bool) { ++editorOpened; };
        mainPageHooks().ioNamesVisible = [&] { return otherPage; };
        gSysParam->isPswUsed = pswUsed;
        gSysParam->exposeTime[0] = 1234;
        window.loginLevel = level;
        window.alarmState = alarm;
        BoxTestPolicy::setTypedPassword(typed);
        if (typed.isEmpty())
            BoxTestPolicy::queueAnswer(0); // a prompt is cancelled
        cameraViewHooks().showMenuBar();
        QVERIFY(!window.indexButton->isHidden() || alarm == 2);
        BoxTestPolicy::clearShown();

        QTest::mouseClick(area ? window.indexButton->areaButton : window.indexButton->settingsButton, Qt::LeftButton);
        QFETCH(bool, opens);
        QFETCH(int, levelAfter);
        QFETCH(int, prompts);
        QCOMPARE(area ? editorOpened : settingsShown, opens ? 1 : 0);
        QCOMPARE(window.loginLevel, levelAfter);
        QCOMPARE(BoxTestPolicy::shownTexts().size(), prompts);
        if (opens) {
            QVERIFY(window.indexButton->isHidden());
            if (area) {
                QCOMPARE(window.alarmState, 3);
                QVERIFY(window.ioStatusWidget->isHidden());
            } else {
                QCOMPARE(gSysParamEdit->exposeTime[0], 1234);
            }
        } else {
            QCOMPARE(window.alarmState, alarm);
        }
    }

    // The rest of the bar on the running window: camera-view touches, the start/stop text, the
    // chart page and the area check after re-learning.
    void barOnTheWindow()
    {
        TestWorkDir dir;
        DeVeWizard window;
        IndexButton *bar = window.indexButton;
        QVERIFY(bar->isHidden());
        QCOMPARE(bar->startStopButton->text(), uiText(127)); // detection started by the constructor
        window.machineCycle->StopDetect();
        QCOMPARE(bar->startStopButton->text(), uiText(136));
        window.machineCycle->StartDetect();
        QCOMPARE(bar->startStopButton->text(), uiText(127));

        // Touches: no bar while the settings are up or an alarm is latched; the timer restarts.
        bool settingsUp = true;
        mainPageHooks().settingsVisible = [&] { return settingsUp; };
        cameraViewHooks().showMenuBar();
        QVERIFY(bar->isHidden());
        QCOMPARE(bar->hideTimer->interval(), 120000);
        settingsUp = false;
        window.alarmState = 2;
        cameraViewHooks().showMenuBar();
        QVERIFY(bar->isHidden() && bar->hideTimer->isActive());
        window.alarmState = 0;
        cameraViewHooks().showMenuBar();
        QVERIFY(!bar->isHidden() && bar->shown && !bar->returnButton->isHidden());

        gSysParam->tempWaveform = 1;
        bar->updateVisibility(2);
        QTest::mouseClick(bar->temperatureButton, Qt::LeftButton);
        QVERIFY(gTemperatureChartWidget && gTemperatureChartWidget->parentWidget() == &window);
        QVERIFY(!gTemperatureChartWidget->isHidden());

        // Area check after re-learning: with nobody able to log in the cycle goes back to detecting.
        gSysParam->isPswUsed = 1;
        window.loginLevel = 0;
        window.runState = 2;
        window.CheckArea(7);
        QCOMPARE(window.runState, 1);
        QVERIFY(!gAreaCheckActive);
        window.loginLevel = 1;
        window.CheckArea();
        QVERIFY(gAreaCheckActive && window.alarmState == 3 && bar->isHidden());
        gAreaCheckActive = false;
    }

    // The bar's buttons reach the real settings screen and region editor of a shown window.
    void realPagesOpen()
    {
        TestWorkDir dir;
        DeVeWizard window;
        window.show();
        gSysParam->isPswUsed = 1;
        window.loginLevel = 1;
        window.alarmState = 0;
        cameraViewHooks().showMenuBar();
        QTest::mouseClick(window.indexButton->settingsButton, Qt::LeftButton);
        QVERIFY(window.paraWidget->isVisible() && mainPageHooks().settingsVisible());
        window.paraWidget->hide();
        cameraViewHooks().showMenuBar();
        QTest::mouseClick(window.indexButton->areaButton, Qt::LeftButton);
        QVERIFY(window.drawROIWidget->isVisible() && mainPageHooks().editorVisible());
        QCOMPARE(window.alarmState, 3);

        // A latched alarm clears the screen of every page a setter may have left open over it.
        window.drawROIWidget->hide();
        QWidget *pages[] = {window.paraWidget, window.helpWidget, window.hardwareWidget, window.indexButton};
        for (QWidget *page : pages) {
            QVERIFY(page);
            page->show();
        }
        window.alarmState = 2;
        window.machineCycle->hooks.hideMenus();
        for (QWidget *page : pages)
            QVERIFY2(page->isHidden(), page->metaObject()->className());
    }

    // The status strip hidden by the area adjustment or the alarm-image review comes back when the
    // editor closes, by Return or by the cycle; while an NG alarm is latched it stays as it is.
    void stripBackAfterTheEditor_data()
    {
        QTest::addColumn<bool>("review"); // false: the area adjustment button
        QTest::addColumn<bool>("byReturn"); // false: the cycle closes the page
        QTest::addColumn<int>("alarmAtClose");
        QTest::addColumn<bool>("stripShown");
        QTest::newRow("area adjustment, Return") << false << true << 3 << true;
        QTest::newRow("alarm-image review, Return") << true << true << 3 << true;
        QTest::newRow("area adjustment, closed by the cycle") << false << false << 0 << true;
        QTest::newRow("review, an NG alarm latched meanwhile") << true << false << 2 << false;
    }
    void stripBackAfterTheEditor()
    {
        QFETCH(bool, review);
        QFETCH(bool, byReturn);
        QFETCH(int, alarmAtClose);
        TestWorkDir dir;
        DeVeWizard window;
        window.show();
        gSysParam->isPswUsed = 1;
        window.loginLevel = 1;
        window.alarmState = 0;
        QVERIFY(window.ioStatusWidget->isVisible());
        if (review) {
            window.machineCycle->SlotShowAlarmImgae();
        } else {
            cameraViewHooks().showMenuBar();
            QTest::mouseClick(window.indexButton->areaButton, Qt::LeftButton);
        }
        QVERIFY(window.drawROIWidget->isVisible());
        QVERIFY(window.ioStatusWidget->isHidden());
        window.alarmState = alarmAtClose;
        if (byReturn)
            window.drawROIWidget->SlotReturn();
        else
            window.drawROIWidget->closePage();
        QFETCH(bool, stripShown);
        if (stripShown) {
            QTRY_VERIFY(window.ioStatusWidget->isVisible());
        } else {
            QTest::qWait(50);
            QVERIFY(window.ioStatusWidget->isHidden());
        }
        QVERIFY(!window.drawROIWidget->isVisible());
    }

    // Confirm on the real screen of a real window: the exact English record line of the example
    // changes (delay, camera 3 exposure, the ejector-pulse label with its apostrophes, password) is
    // stored intact in RECORD.db, the block is saved, and the bar's snapshot buttons follow at once.
    void confirmRecordsAndUpdatesTheBar()
    {
        GlobalsBackup keep;
        TestWorkDir dir;
        DeVeWizard window;
        window.show();
        gLanguage = 1;
        SysParam &p = *gSysParam;
        p.trigInDelay[0] = 15;
        p.exposeTime[2] = 30;
        p.ejectorPulseOnProdNg = 0;
        p.showManualSnap = 0;
        p.enableProdDetect = 1;
        p.showAllParams = 1;
        p.isPswUsed = 1;
        std::strcpy(p.password, "1234");
        window.loginLevel = 2; // opening the settings drops it: the line is recorded at level 1
        window.alarmState = 0;
        cameraViewHooks().showMenuBar();
        QVERIFY(window.indexButton->moldSnapButton->isHidden());
        QTest::mouseClick(window.indexButton->settingsButton, Qt::LeftButton);
        WizardParaWidget *screen = window.paraWidget;
        QVERIFY(screen->isVisible());

        static_cast<EditBox *>(screen->fieldWidget(QStringLiteral("trigInDelay0")))->setValue(20);
        static_cast<CheckBox *>(screen->fieldWidget(QStringLiteral("ejectorPulseOnProdNg")))
            ->setChecked(true);
        static_cast<CheckBox *>(screen->fieldWidget(QStringLiteral("showManualSnap")))->setChecked(true);
        gSysParamEdit->exposeTime[2] = 45; // as the camera page writes it for camera 3
        std::strcpy(gSysParamEdit->password, "9876");
        const int before = recordLines().size();
        QTest::mouseClick(screen->tabButtons.last(), Qt::LeftButton); // Confirm

        const QStringList lines = recordLines();
        QCOMPARE(lines.size(), before + 1);
        QCOMPARE(
            lines.last(),
            uiText(155, 1) +
                QStringLiteral(
                    "|Modify the system parameters, The time delay for detection Prodis changed from 15 "
                    "to 20, The exposure time of camera 3is changed from 30 to 45 , Ejector pulse when NG "
                    "in prod, don't' alarm is changed to active, the password has been modified"));
        QVERIFY(!screen->isVisible());
        SysParam reloaded;
        loadSysParam(&reloaded);
        QCOMPARE(reloaded.trigInDelay[0], 20);
        QCOMPARE(reloaded.exposeTime[2], 45);
        QCOMPARE(reloaded.showManualSnap, 1);
        QCOMPARE(QByteArray(reloaded.password), QByteArray("9876"));
        // The bar folds, its snapshot buttons now meant visible with it.
        QVERIFY(window.indexButton->isHidden());
        QVERIFY(!window.indexButton->moldSnapButton->isHidden());
        QVERIFY(!window.indexButton->productSnapButton->isHidden());
    }

private:
    // The screen size and start-up values the bar reads, restored after a case.
    struct GlobalsBackup
    {
        SysParam *param = gSysParam;
        int statistics = gStatisticsEnabled;
        int w = gShowW;
        int h = gShowH;
        int language = gLanguage;
        ~GlobalsBackup()
        {
            gLanguage = language;
            gSysParam = param;
            gStatisticsEnabled = statistics;
            gShowW = w;
            gShowH = h;
        }
    };

    RecordingRunner runner;
};

int main(int argc, char **argv)
{
    MApplication app(argc, argv);
    gApp = &app;
    TestMenuBar test;
    QTEST_SET_MAIN_SOURCE_PATH
    const int result = QTest::qExec(&test, argc, argv);
    gApp = nullptr;
    return result;
}

#include "tst_menubar.moc"
