// Confirm on the settings screen: the question, the undo on a decline, the refusal without algorithms,
// the derived slot words against the loader's after a real save and reload, and the update decisions
// seen through recording actions. The exact record line, stored in RECORD.db, is checked on the real
// window (tests/mainwindow/tst_menubar.cpp).
#include "boxtestpolicy.h"
#include "cameradeviceinfo.h"
#include "cammerwidget.h"
#include "choosebox.h"
#include "confirmactions.h"
#include "imagesize.h"
#include "paramquery.h"
#include "paramstore.h"
#include "settingshooks.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "widgets/checkbox.h"
#include "widgets/editbox.h"
#include "wizardparawidget.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <cstring>

class TestWizardAccept : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void noChangeAsksNothingAndDeclineUndoesTheCameras();
    void noAlgorithmRefusesAndSavesNothing();
    void derivationMatchesTheLoaderAfterReload_data();
    void derivationMatchesTheLoaderAfterReload();
    void updateDecisions_data();
    void updateDecisions();
    void storeTroubleOnConfirm_data();
    void storeTroubleOnConfirm();
    void unsavedCopiedRegionsAreShown();

private:
    void openDatabases();
    TestWorkDir *m_dir = nullptr;
    SysParam m_inForce;
    SysParam m_edit;
    QStringList m_calls;
    QStringList m_records;
    int m_level = 0;
    QSqlQuery *m_paramQuery = nullptr;
    QSqlQuery *m_snQuery = nullptr;
};

void TestWizardAccept::initTestCase()
{
    fillUiTextTable();
    gChooseBox = new ChooseBox;
    gWarnBox = new WarnBox;
}

void TestWizardAccept::openDatabases()
{
    QSqlDatabase in = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("acceptIn"));
    in.setDatabaseName(m_dir->filePath(QStringLiteral("PARAM.db")));
    QVERIFY(in.open());
    QSqlDatabase sn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("acceptSn"));
    sn.setDatabaseName(m_dir->filePath(QStringLiteral("SN.db")));
    QVERIFY(sn.open());
    m_paramQuery = new QSqlQuery(in);
    m_snQuery = new QSqlQuery(sn);
    setParamQueryHook([this] { return m_paramQuery; });
    setSnQueryHook([this] { return m_snQuery; });
}

void TestWizardAccept::init()
{
    m_dir = new TestWorkDir;
    QVERIFY(m_dir->isValid());
    openDatabases();
    gShowW = 1920;
    gShowH = 1080;
    gLanguage = 1;
    m_inForce = SysParam();
    loadSysParam(&m_inForce);
    gLanguage = 1; // the record texts below are the English ones
    // Detailed parameters shown, as Confirm makes them once any detailed algorithm is on.
    m_inForce.showAllParams = 1;
    m_edit = m_inForce;
    gSysParam = &m_inForce;
    gSysParamEdit = &m_edit;
    gCameraCount = 2;
    m_calls.clear();
    m_records.clear();
    m_level = 2;
    BoxTestPolicy::enable(1);
    BoxTestPolicy::clearShown();

    ConfirmActions &a = confirmActions();
    const char *const names[5] = {"exposure", "gain", "sharpness", "contrast", "gamma"};
    a.apply = [this, names](int c, CameraSetting s) {
        m_calls << QStringLiteral("%1 %2").arg(QLatin1String(names[int(s)])).arg(c);
    };
    a.triggerModeOff = [this](int c) { m_calls << QStringLiteral("trigger %1").arg(c); };
    a.createPositionTemplate = [this](int c, int s) {
        m_calls << QStringLiteral("position %1.%2").arg(c).arg(s);
    };
    a.buildRegistrationTemplate = [this](int c, int s) {
        m_calls << QStringLiteral("registration %1.%2").arg(c).arg(s);
    };
    a.trainTemplates = [this](int c, int s) { m_calls << QStringLiteral("train %1.%2").arg(c).arg(s); };
    a.copyPara = [this](int c) { m_calls << QStringLiteral("copy %1").arg(c); };
    a.updateView = [](int) {};
    a.insertRecord = [this](const QString &line) { m_records << line; };
    a.applyFrameSpeedToAll = [this] { m_calls << QStringLiteral("speed"); };
    a.updateMenuVisibility = [this] { m_calls << QStringLiteral("menu"); };
    a.loginLevel = [this] { return &m_level; };
    settingsHooks() = SettingsHooks();
}

void TestWizardAccept::cleanup()
{
    BoxTestPolicy::disable();
    confirmActions() = ConfirmActions();
    setParamQueryHook({});
    setSnQueryHook({});
    delete m_paramQuery;
    delete m_snQuery;
    m_paramQuery = m_snQuery = nullptr;
    QSqlDatabase::removeDatabase(QStringLiteral("acceptIn"));
    QSqlDatabase::removeDatabase(QStringLiteral("acceptSn"));
    gSysParam = gSysParamEdit = nullptr;
    delete m_dir;
}

void TestWizardAccept::noChangeAsksNothingAndDeclineUndoesTheCameras()
{
    const SysParam original = m_inForce;
    WizardParaWidget screen(nullptr);
    screen.show();
    screen.accept();
    QVERIFY(BoxTestPolicy::shownTexts().isEmpty());
    QVERIFY(m_records.isEmpty());
    QVERIFY(std::memcmp(&m_inForce, &original, sizeof original) == 0);
    QVERIFY(!screen.isVisible());

    // Exposure and gain tried out on camera 1, then declined: camera 1 gets both back, nothing else.
    BoxTestPolicy::queueAnswer(0);
    screen.show();
    screen.SlotChangeCamera();
    static_cast<EditBox *>(screen.fieldWidget(QStringLiteral("exposeTime")))
        ->setValue(original.exposeTime[1] % 90 + 3);
    static_cast<EditBox *>(screen.fieldWidget(QStringLiteral("adjustPlus")))
        ->setValue(original.adjustPlus[1] % 60 + 2);
    QVERIFY(m_edit.exposeTime[1] != original.exposeTime[1]);
    m_calls.clear();
    screen.accept();
    QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(234)});
    QVERIFY(m_records.isEmpty());
    QCOMPARE(m_calls, QStringList({QStringLiteral("exposure 1"), QStringLiteral("gain 1")}));
    QVERIFY(std::memcmp(&m_edit, &original, sizeof original) == 0);
    QVERIFY(std::memcmp(&m_inForce, &original, sizeof original) == 0);
}

void TestWizardAccept::noAlgorithmRefusesAndSavesNothing()
{
    m_inForce.isPswUsed = 1;
    m_edit = m_inForce;
    const SysParam original = m_inForce;
    WizardParaWidget screen(nullptr);
    screen.show();
    for (const char *name : {"enableDefectDetect", "enableSpotDetect", "enableWhiteArea",
                             "enableWhiteNumber", "enableBlackArea", "tempAlarm", "enableSimilarity"})
        static_cast<CheckBox *>(screen.fieldWidget(QLatin1String(name)))->setChecked(false);
    screen.accept();
    QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(232)});
    QVERIFY(screen.isVisible());
    QVERIFY(m_records.isEmpty());
    QCOMPARE(m_level, 1); // Confirm ends an advanced login even when it saves nothing
    QVERIFY(std::memcmp(&m_inForce, &original, sizeof original) == 0);
    SysParam reloaded;
    loadSysParam(&reloaded);
    QCOMPARE(reloaded.enableDefectDetect, original.enableDefectDetect);
}

void TestWizardAccept::derivationMatchesTheLoaderAfterReload_data()
{
    QTest::addColumn<int>("machineType");
    QTest::addColumn<int>("detectMold");
    QTest::addColumn<int>("semiAuto");
    QTest::addColumn<int>("prod");
    QTest::addColumn<int>("pulseOnNg");
    for (int type = 0; type < 3; ++type)
        for (int mold = 0; mold < 3; ++mold)
            for (int flags = 0; flags < 8; ++flags) {
                if (type == 0 && mold > 0)
                    continue;
                QTest::addRow("type %d mould %d semi %d prod %d pulse %d", type, mold, flags & 1,
                              flags >> 1 & 1, flags >> 2 & 1)
                    << type << mold << (flags & 1) << (flags >> 1 & 1) << (flags >> 2 & 1);
            }
}

void TestWizardAccept::derivationMatchesTheLoaderAfterReload()
{
    QFETCH(int, machineType);
    QFETCH(int, detectMold);
    QFETCH(int, semiAuto);
    QFETCH(int, prod);
    QFETCH(int, pulseOnNg);
    int moldSide = -1;
    setMoldSideHook([&](int side) { moldSide = side; });
    WizardParaWidget screen(nullptr);
    m_edit.detectMold = detectMold;
    m_edit.semiAuto = semiAuto;
    m_edit.enableProdDetect = prod;
    m_edit.ejectorPulseOnProdNg = pulseOnNg;
    m_edit.machineTypeEdit = machineType;
    m_edit.trigInDelay[0] += 1; // something always changes
    screen.show();
    screen.accept();
    const int confirmedSide = moldSide;
    SysParam reloaded;
    moldSide = -1;
    loadSysParam(&reloaded);
    setMoldSideHook({});
    QCOMPARE(reloaded.machineType, machineType);
    for (int s = 0; s < 4; ++s) {
        QCOMPARE(m_inForce.slotEnabled[s], reloaded.slotEnabled[s]);
        QCOMPARE(m_inForce.slotTrigInput[s], reloaded.slotTrigInput[s]);
    }
    for (int o = 4; o < 8; ++o)
        QCOMPARE(m_inForce.outputInit[o], reloaded.outputInit[o]);
    QCOMPARE(m_inForce.slotCount, reloaded.slotCount);
    QCOMPARE(confirmedSide, moldSide);
}

void TestWizardAccept::updateDecisions_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::addColumn<QStringList>("calls");
    // Standard machine with product inspection: slots 0 and 1 enabled, two cameras.
    QTest::newRow("amplify retrains")
        << "diffAmplify" << 3 << QStringList{"train 0.0", "train 0.1", "train 1.0", "train 1.1"};
    QTest::newRow("offset rebuilds positions")
        << "maxOffset" << 100
        << QStringList{"position 0.0", "registration 0.0", "position 0.1", "registration 0.1",
                       "position 1.0", "registration 1.0", "position 1.1", "registration 1.1"};
    QTest::newRow("external trigger") << "useExtTrigger" << 1 << QStringList{"trigger 0", "trigger 1"};
    QTest::newRow("speed") << "frameSpeed" << 20 << QStringList{"speed"};
    QTest::newRow("manual snapshot") << "showManualSnap" << 1 << QStringList{"menu"};
    QTest::newRow("sync copies and retrains")
        << "syncParams" << 1
        << QStringList{"copy 0", "position 0.0", "train 0.0", "position 0.1", "train 0.1",
                       "copy 1", "position 1.0", "train 1.0", "position 1.1", "train 1.1"};
}

void TestWizardAccept::updateDecisions()
{
    QFETCH(QString, field);
    QFETCH(int, value);
    QFETCH(QStringList, calls);
    gDetectSlotCount = 2;
    m_inForce.machineType = m_inForce.machineTypeEdit = 0;
    m_inForce.enableProdDetect = 1;
    m_inForce.syncParams = 0;
    m_inForce.useExtTrigger = 0;
    m_inForce.showManualSnap = 0;
    m_inForce.frameSpeed = 12;
    m_inForce.diffAmplify = 1;
    m_inForce.maxOffset = 8000;
    deriveSlotSetup(&m_inForce);
    m_edit = m_inForce;
    WizardParaWidget screen(nullptr);
    screen.show();
    auto *w = screen.fieldWidget(field);
    QVERIFY(w);
    if (auto *box = qobject_cast<EditBox *>(w))
        box->setValue(value);
    else
        static_cast<CheckBox *>(w)->setChecked(value != 0);
    screen.accept();
    QCOMPARE(m_records.size(), 1);
    QCOMPARE(m_calls, calls);
}

// A confirmed change must reach PARAM.db or the setter must hear that it did not.
void TestWizardAccept::storeTroubleOnConfirm_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("warned");
    QTest::newRow("sound database") << "select 1" << false;
    QTest::newRow("row of the delays lost") << "delete from sysparam where name='trigInDelay'" << true;
    QTest::newRow("table gone") << "alter table sysparam rename to other" << true;
    QTest::newRow("database read-only") << "PRAGMA query_only = ON" << true;
}

void TestWizardAccept::storeTroubleOnConfirm()
{
    QFETCH(QString, damage);
    QVERIFY(m_paramQuery->exec(damage));
    WizardParaWidget screen(nullptr);
    m_edit.trigInDelay[0] = 77;
    screen.show();
    screen.accept();
    QCOMPARE(m_inForce.trigInDelay[0], 77); // in force for this run either way
    QTEST(BoxTestPolicy::shownTexts().contains(uiText(740)), "warned");
}

// The parameter-sync copy saves the regions it copied; a failed save is told as on the editor.
void TestWizardAccept::unsavedCopiedRegionsAreShown()
{
    CameraDeviceInfo info{0, QStringLiteral("simulateCamera_IID"), QStringLiteral("SN-1")};
    CammerWidget view(nullptr, 0, &info);
    settingsHooks().cameraView = [&view](int c) { return c == 0 ? &view : nullptr; };
    ConfirmActions real;
    real.copyPara(0);
    QVERIFY(!BoxTestPolicy::shownTexts().contains(uiText(741)));
    QVERIFY(m_paramQuery->exec(QStringLiteral("alter table cammer0 rename to elsewhere")));
    real.copyPara(0);
    QVERIFY(BoxTestPolicy::shownTexts().contains(uiText(741)));
}

QTEST_MAIN(TestWizardAccept)
#include "tst_wizardaccept.moc"
