// Confirm on the settings screen: the question, the undo on a decline, the refusal without algorithms,
// the derived slot words against the loader's after a real save and reload, and the update decisions
// seen through recording actions. The exact record line, stored in RECORD.db, is checked on the real
// window (tests/mainwindow/tst_menubar.cpp).
#include "boxtestpolicy.h"
#include "cameradeviceinfo.h"
#include "cammersingleton.h"
#include "cammerwidget.h"
#include "choosebox.h"
#include "confirmactions.h"
#include "databasecut.h"
#include "imagesize.h"
#include "paramquery.h"
#include "paramstore.h"
#include "regiontabledb.h"
#include "settingshooks.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "widgets/checkbox.h"
#include "widgets/editbox.h"
#include "wizardparawidget.h"

#include <QApplication>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <cstddef>
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
    void declineSendsBackWhatWasTriedOut_data();
    void declineSendsBackWhatWasTriedOut();
    void derivationMatchesTheLoaderAfterReload_data();
    void derivationMatchesTheLoaderAfterReload();
    void updateDecisions_data();
    void updateDecisions();
    void recordLineNamesEveryChange_data();
    void recordLineNamesEveryChange();
    void storeTroubleOnConfirm_data();
    void storeTroubleOnConfirm();
    void unsavedCopiedRegionsAreShown();
    void cutConfirmLeavesOldOrNewSettings();

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
    a.saveRegions = [this](int c) {
        m_calls << QStringLiteral("save %1").arg(c);
        return true;
    };
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

// Declining puts back on each camera what was tried out live: a changed exposure mode (automatic
// exposure or automatic shading) re-sends every camera's exposure, a changed value only that value.
void TestWizardAccept::declineSendsBackWhatWasTriedOut_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("automatic shading") << "autoWDR" << QStringList{"exposure 0", "exposure 1"};
    QTest::newRow("automatic exposure") << "autoExp" << QStringList{"exposure 0", "exposure 1"};
    QTest::newRow("gain of camera 2") << "gain" << QStringList{"gain 1"};
    QTest::newRow("clarity and gamma of camera 1") << "sharp gamma" << QStringList{"sharpness 0", "gamma 0"};
    QTest::newRow("a field of no camera") << "filterSize" << QStringList();
}

void TestWizardAccept::declineSendsBackWhatWasTriedOut()
{
    QFETCH(QString, change);
    QFETCH(QStringList, calls);
    const SysParam original = m_inForce;
    if (change == QLatin1String("autoExp"))
        m_edit.autoExp = original.autoExp ? 0 : 1;
    if (change == QLatin1String("gain"))
        m_edit.adjustPlus[1] = original.adjustPlus[1] % 60 + 2;
    if (change.contains(QLatin1String("sharp")))
        m_edit.sharp[0] = original.sharp[0] % 90 + 3;
    if (change.contains(QLatin1String("gamma")))
        m_edit.gamma[0] = original.gamma[0] % 200 + 4;
    WizardParaWidget screen(nullptr);
    screen.show();
    if (change == QLatin1String("autoWDR"))
        static_cast<CheckBox *>(screen.fieldWidget(QStringLiteral("autoWDR")))->setChecked(!original.autoWDR);
    if (change == QLatin1String("filterSize"))
        static_cast<EditBox *>(screen.fieldWidget(QStringLiteral("filterSize")))
            ->setValue(original.filterSize == 5 ? 6 : 5);
    m_calls.clear();
    BoxTestPolicy::queueAnswer(0);
    screen.accept();
    QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{uiText(234)});
    QCOMPARE(m_calls, calls);
    QVERIFY(m_records.isEmpty());
    QVERIFY(std::memcmp(&m_edit, &original, sizeof original) == 0);
    QVERIFY(std::memcmp(&m_inForce, &original, sizeof original) == 0);
}

void TestWizardAccept::derivationMatchesTheLoaderAfterReload_data()
{
    QTest::addColumn<int>("machineType");
    QTest::addColumn<int>("detectMold");
    QTest::addColumn<int>("semiAuto");
    QTest::addColumn<int>("prod");
    QTest::addColumn<int>("pulseOnNg");
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<int>("trig0");
    QTest::addColumn<int>("trig1");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("idle");
    // The set-up of each machine type and inspected mould, written down from the machine's wiring:
    // slot enables (P: product inspection on, ?: not set for this machine), the two slots' trigger
    // inputs (S0: input 2 when semi-automatic, else 0; S=: input 2 when semi-automatic, else the first
    // slot's input), the mould side (-: untouched) and the idle level of outputs 4 to 7 (I: 0 with
    // "ejector pulse on product NG", else 1; -: untouched).
    struct Answer
    {
        int type, mold;
        const char *enabled, *trig0, *trig1, *side, *idle;
    };
    const Answer answers[] = {
        {0, 0, "P1??", "0", "S0", "-", "I"},  {1, 0, "P100", "0", "2", "1", "-"},
        {1, 1, "00P1", "0", "3", "0", "-"},   {1, 2, "P1P1", "0", "255", "-", "-"},
        {2, 0, "P100", "0", "S=", "1", "-"},  {2, 1, "00P1", "3", "S=", "0", "-"},
        {2, 2, "P1P1", "255", "S=", "-", "-"},
    };
    for (const Answer &a : answers)
        for (int flags = 0; flags < 8; ++flags) {
            const int semi = flags & 1, prod = flags >> 1 & 1, pulse = flags >> 2 & 1;
            QString enabled = QString::fromLatin1(a.enabled);
            enabled.replace(QLatin1Char('P'), QString::number(prod));
            const int trig0 = QByteArray(a.trig0).toInt();
            const QByteArray t1(a.trig1);
            const int trig1 = t1 == "S0" ? (semi ? 2 : 0) : t1 == "S=" ? (semi ? 2 : trig0) : t1.toInt();
            const int side = QByteArray(a.side) == "-" ? -1 : QByteArray(a.side).toInt();
            const int idle = QByteArray(a.idle) == "-" ? -1 : (pulse ? 0 : 1);
            QTest::addRow("type %d mould %d semi %d prod %d pulse %d", a.type, a.mold, semi, prod, pulse)
                << a.type << a.mold << semi << prod << pulse << enabled << trig0 << trig1 << side << idle;
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
    QCOMPARE(m_inForce.machineType, machineType);
    QCOMPARE(m_inForce.slotCount, 4);

    // The known set-up of this machine ...
    QFETCH(QString, enabled);
    QFETCH(int, trig0);
    QFETCH(int, trig1);
    QFETCH(int, side);
    QFETCH(int, idle);
    for (int s = 0; s < 4; ++s)
        if (enabled[s] != QLatin1Char('?'))
            QCOMPARE(m_inForce.slotEnabled[s], enabled[s].digitValue());
    QCOMPARE(m_inForce.slotTrigInput[0], trig0);
    QCOMPARE(m_inForce.slotTrigInput[1], trig1);
    QCOMPARE(confirmedSide, side);
    if (idle >= 0)
        for (int o = 4; o < 8; ++o)
            QCOMPARE(m_inForce.outputInit[o], idle);

    // ... and the same words when the box starts again from what Confirm stored.
    for (int s = 0; s < 4; ++s) {
        QCOMPARE(reloaded.slotEnabled[s], m_inForce.slotEnabled[s]);
        QCOMPARE(reloaded.slotTrigInput[s], m_inForce.slotTrigInput[s]);
    }
    for (int o = 4; o < 8; ++o)
        QCOMPARE(reloaded.outputInit[o], m_inForce.outputInit[o]);
    QCOMPARE(reloaded.slotCount, 4);
    QCOMPARE(moldSide, side);
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
    // The product slot goes out of the set-up: the mould slot is trained again, and both menu-bar
    // updates follow the product choice.
    QTest::newRow("product inspection off")
        << "enableProdDetect" << 0
        << QStringList{"position 0.1", "train 0.1", "position 1.1", "train 1.1", "menu", "menu"};
    // The copied regions are saved with the parameters, before any template is made.
    QTest::newRow("sync copies and retrains")
        << "syncParams" << 1 << QStringList{"copy 0",       "save 0",    "copy 1",       "save 1",
                                            "position 0.0", "train 0.0", "position 0.1", "train 0.1",
                                            "position 1.0", "train 1.0", "position 1.1", "train 1.1"};
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

namespace {

// The settings a record line can name, by the name a table row below uses.
struct NamedField
{
    const char *name;
    size_t offset;
};
#define AT(name, field) {name, offsetof(SysParam, field)}
const NamedField kNamedFields[] = {
    AT("trigInDelay0", trigInDelay[0]), AT("trigInDelay1", trigInDelay[1]), AT("reMoldTimes", reMoldTimes),
    AT("filterSize", filterSize), AT("alarmArea", alarmArea), AT("semiAuto", semiAuto),
    AT("enableProdDetect", enableProdDetect), AT("motionCorrect", motionCorrect),
    AT("syncParams", syncParams), AT("templateAutoUpdate", templateAutoUpdate),
    AT("exposeTime0", exposeTime[0]), AT("exposeTime2", exposeTime[2]), AT("exposeTime7", exposeTime[7]),
    AT("adjustPlus2", adjustPlus[2]), AT("sharp2", sharp[2]), AT("contrast2", contrast[2]),
    AT("gamma2", gamma[2]), AT("distance2", distance[2]), AT("temperatureRange2", temperatureRange[2]),
    AT("adjustPlus5", adjustPlus[5]), AT("frameSpeed", frameSpeed), AT("colorCamera", colorCamera),
    AT("grayChannel", grayChannel), AT("autoExp", autoExp), AT("matchBrightness", matchBrightness),
    AT("autoWDR", autoWDR), AT("noLensOpt", noLensOpt), AT("useExtTrigger", useExtTrigger),
    AT("enableDefectDetect", enableDefectDetect), AT("enableSpotDetect", enableSpotDetect),
    AT("enableIgnoreArea", enableIgnoreArea), AT("enableManualLocate", enableManualLocate),
    AT("angleCorrect", angleCorrect), AT("showAllParams", showAllParams),
    AT("enableBlackArea", enableBlackArea), AT("enableWhiteArea", enableWhiteArea),
    AT("enableWhiteNumber", enableWhiteNumber), AT("enableSimilarity", enableSimilarity),
    AT("tempAlarm", tempAlarm), AT("ioPort", ioPort), AT("inputTimeout", inputTimeout),
    AT("preCutTime", preCutTime), AT("ejectorPulse", ejectorPulse), AT("clampPulse", clampPulse),
    AT("input4Use", input4Use), AT("output4Use", output4Use), AT("outputInit0", outputInit[0]),
    AT("outputInit1", outputInit[1]), AT("outputInit2", outputInit[2]), AT("outputInit3", outputInit[3]),
    AT("detectMold", detectMold), AT("cutEjectorOnClamp", cutEjectorOnClamp),
    AT("stopClampOnStop", stopClampOnStop), AT("noEjectorCtrlInProd", noEjectorCtrlInProd),
    AT("ejectorPulseOnProdNg", ejectorPulseOnProdNg), AT("cutClampAfterMoldOk", cutClampAfterMoldOk),
    AT("safetyDoorClearsAlarm", safetyDoorClearsAlarm), AT("safetyDoorTrigger", safetyDoorTrigger),
    AT("okNgPulse", okNgPulse), AT("templateNum", templateNum), AT("ngRecordMax", ngRecordMax),
    AT("okRecordMax", okRecordMax), AT("diffAmplify", diffAmplify), AT("autoLogoutTime", autoLogoutTime),
    AT("maxOffset", maxOffset), AT("screenOffTime", screenOffTime), AT("minSpot", minSpot),
    AT("rotateAngle", rotateAngle), AT("pswNoDetect", pswNoDetect), AT("pswAddTemplate", pswAddTemplate),
    AT("isPswUsed", isPswUsed), AT("cutEjectorAfterProdOk", cutEjectorAfterProdOk),
};
#undef AT

// Applies "field=old>new" changes: the old value to the block in force, the new one to the copy.
bool applyChanges(const QString &changes, SysParam &inForce, SysParam &edit)
{
    for (const QString &change : changes.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString name = change.section(QLatin1Char('='), 0, 0);
        const QString old = change.section(QLatin1Char('='), 1).section(QLatin1Char('>'), 0, 0);
        const QString now = change.section(QLatin1Char('>'), 1);
        if (name == QLatin1String("password")) {
            std::strcpy(inForce.password, old.toLatin1().constData());
            std::strcpy(edit.password, now.toLatin1().constData());
            continue;
        }
        const NamedField *f = std::find_if(std::begin(kNamedFields), std::end(kNamedFields),
                                           [&](const NamedField &n) { return name == QLatin1String(n.name); });
        if (f == std::end(kNamedFields))
            return false;
        const int32_t o = old.toInt(), n = now.toInt();
        std::memcpy(reinterpret_cast<char *>(&inForce) + f->offset, &o, sizeof o);
        std::memcpy(reinterpret_cast<char *>(&edit) + f->offset, &n, sizeof n);
    }
    return true;
}

} // namespace

// Every change a setter confirms is named in the operation record, in the record's own order, with
// the texts and numbers the operator reads on the record page.
void TestWizardAccept::recordLineNamesEveryChange_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("changes");
    QTest::addColumn<QString>("fragments");
    auto en = [](const char *row, const char *changes, const QString &fragments) {
        QTest::newRow(row) << 1 << QString::fromLatin1(changes) << fragments;
    };
    en("product delay", "trigInDelay0=15>20", ", The time delay for detection Prodis changed from 15 to 20");
    en("mould delay", "trigInDelay1=30>45", ", The time delay for detection Moldis changed from 30 to 45");
    en("re-detections", "reMoldTimes=1>3",
       ", The automatic redetecting times for detection Mold is changed from 1 to 3");
    en("filter size", "filterSize=4>7", ", filter Size is changed from 4 to 7");
    en("area", "alarmArea=400>900", ", Area is changed from 400 to 900");
    en("semi-automatic", "semiAuto=0>1", ", Semiauto is changed to active");
    en("product inspection off", "enableProdDetect=1>0", ", Enable detection prod is changed to deactive");
    en("motion correction off", "motionCorrect=0>-1", ", Motion correcte is changed to deactive");
    en("motion correction on", "motionCorrect=-1>0", ", Motion correcte is changed to active");
    en("same parameters", "syncParams=0>1", ", Two same parameters is changed to active");
    en("template update off", "templateAutoUpdate=1>0", ", Template auto update is changed to deactive");
    en("exposure of camera 3", "exposeTime2=30>45", ", The exposure time of camera 3is changed from 30 to 45 ");
    en("exposure of camera 8", "exposeTime7=12>9", ", The exposure time of camera 8is changed from 12 to 9 ");
    en("gain of camera 3", "adjustPlus2=10>20", ", The gain of camera 3 is changed from 10 to 20");
    en("clarity of camera 3", "sharp2=50>60", ", the clarity of camera 3 is changed from 50 to 60 ");
    en("truth of camera 3", "contrast2=100>150", ", the truth of camera 3 is changed from 100 to 150");
    en("gamma of camera 3", "gamma2=100>120", ", the Gamma of camera 3 is changed from 100 to 120");
    en("distance of camera 3", "distance2=50>250", ", the distance of camera 3 is changed from 50 to 250");
    en("reflection of camera 3", "temperatureRange2=0>2",
       ", the Reflection temperature of camera 3 is changed from 0 to 2");
    en("speed", "frameSpeed=12>20", ", Speed is changed from 12 to 20");
    en("colour camera", "colorCamera=0>1", ", Color camera instead of monochrome is changed to active");
    en("gray channel", "grayChannel=0>1", ", Gray channel instead of color is changed to active");
    en("auto exposure", "autoExp=0>1", ", Auto exposure is changed to active");
    en("match brightness", "matchBrightness=0>1", ", Match template brightness is changed to active");
    en("automatic shading", "autoWDR=0>1", ", Automatic shading is changed to active");
    en("no lens optimisation", "noLensOpt=0>1", ", No lens optimization is changed to active");
    en("external trigger", "useExtTrigger=0>1", ", Use External Trigger is changed to active");
    en("defect algorithm off", "enableDefectDetect=1>0",
       ", Enable the defect detection algorithm is changed to deactive");
    en("spot algorithm", "enableSpotDetect=0>1", ", Enable the spot detection algorithm is changed to active");
    en("ignore areas", "enableIgnoreArea=0>1", ", Enable ignore area algorithm is changed to active");
    en("manual locate", "enableManualLocate=0>1",
       ", Enable manually editing to locate area is changed to active");
    en("angle correction", "angleCorrect=0>1", ", Angle correction is changed to active");
    en("all parameters off", "showAllParams=1>0", ", Display all the parameters is changed to deactive");
    en("black area", "enableBlackArea=0>1", ", Enable black area is changed to active");
    en("white area", "enableWhiteArea=0>1", ", Enable white area is changed to active");
    en("white number", "enableWhiteNumber=0>1", ", Enable white number is changed to active");
    en("similarity off", "enableSimilarity=1>0", ", Enable similarity is changed to deactive");
    en("temperature alarm", "tempAlarm=0>1", ", Temperature alarm is changed to active");
    en("io port", "ioPort=0>3", ", IO Port is changed from 0 to 3");
    en("input time-out", "inputTimeout=60>120", ", I-Time is changed from 60 to 120");
    en("pre-cut", "preCutTime=0>5", ", Pre-Cut is changed from 0 to 5");
    en("ejector pulse", "ejectorPulse=5>10", ", Ejector P is changed from 5 to 10");
    en("clamp pulse", "clampPulse=5>12", ", Clamp P is changed from 5 to 12");
    en("input 4 role", "input4Use=0>2", ", Iuput 4 used for is changed from 0 to 2");
    en("output 4 role", "output4Use=0>3", ", Output 4 used for is changed from 0 to 3");
    en("output 1 idle", "outputInit0=0>1", ", Output 1 initial state is changed from 0 to 1");
    en("output 2 idle", "outputInit1=1>0", ", Output 2 initial state is changed from 1 to 0");
    en("alarm idle", "outputInit2=0>1", ", Alarm initial state is changed from 0 to 1");
    en("output 4 idle", "outputInit3=0>1", ", Output 4 initial state is changed from 0 to 1");
    en("inspected mould", "detectMold=0>2", ", Inspected mould is changed from 0 to 2");
    en("cut ejector on clamp", "cutEjectorOnClamp=0>1", ", Cut ejector when clamping is changed to active");
    en("stop clamping on stop", "stopClampOnStop=0>1",
       ", Stop clamping when stopping detection is changed to Prohibit to clamp");
    en("allow clamping on stop", "stopClampOnStop=1>0",
       ", Stop clamping when stopping detection is changed to Allow to clamp");
    en("no ejector control", "noEjectorCtrlInProd=0>1",
       ", No ejector signal control in prod is changed to active");
    en("ejector pulse on product NG", "ejectorPulseOnProdNg=0>1",
       ", Ejector pulse when NG in prod, don't' alarm is changed to active");
    en("cut clamp after mould OK", "cutClampAfterMoldOk=0>1",
       ", Cut the clamping at fixed time after mold ok is changed to active");
    en("safety door clears", "safetyDoorClearsAlarm=0>1",
       ", Open the safety door to lift the alarm is changed to active");
    en("safety door triggers", "safetyDoorTrigger=0>1", ", Safety door trigger detection is changed to active");
    en("OK and NG pulses", "okNgPulse=0>1", ", OK and NG output pulses is changed to active");
    en("template number", "templateNum=8>10", ", Temp number is changed from 8 to 10");
    en("NG pictures", "ngRecordMax=50>100", ", NG-Rec is changed from 50 to 100");
    en("OK pictures", "okRecordMax=0>20", ", OK-Rec is changed from 0 to 20");
    en("amplify", "diffAmplify=1>3", ", Amplify is changed from 1 to 3");
    en("auto logout", "autoLogoutTime=60>120", ", A-Logout is changed from 60 to 120");
    en("offset", "maxOffset=8000>100", ", Offset is changed from 8000 to 100");
    en("screen off never", "screenOffTime=600>0", ", Scr Off is changed from 600 to 0");
    en("min spot", "minSpot=3>5", ", Min Spot is changed from 3 to 5");
    en("angle", "rotateAngle=0>90", ", Angle is changed from 0 to 90");
    en("no-detect password", "pswNoDetect=0>1",
       ", Don't detect this password protection is changed to active");
    en("add-template password", "pswAddTemplate=0>1",
       ", Add to template password protection is changed to active");
    en("passwords on", "isPswUsed=0>1", ", Enable Password is changed to active");
    en("password", "password=1234>9876", ", the password has been modified");
    en("a field without a fragment", "cutEjectorAfterProdOk=0>1", "");
    // Checking an area algorithm also checks "Display all the parameters", which comes first.
    en("black area shows all parameters", "showAllParams=0>0 enableBlackArea=0>1",
       ", Display all the parameters is changed to active, Enable black area is changed to active");
    // Several changes: the record's order, not the order of editing.
    en("record order", "isPswUsed=0>1 adjustPlus5=10>11 frameSpeed=12>13 exposeTime0=20>21 semiAuto=0>1 "
                       "trigInDelay1=30>31 detectMold=0>1 exposeTime2=30>31",
       ", The time delay for detection Moldis changed from 30 to 31, Semiauto is changed to active"
       ", The exposure time of camera 1is changed from 20 to 21 "
       ", The exposure time of camera 3is changed from 30 to 31 , The gain of camera 6 is changed from 10 to 11"
       ", Speed is changed from 12 to 13, Inspected mould is changed from 0 to 1"
       ", Enable Password is changed to active");
    QTest::newRow("chinese")
        << 0 << QStringLiteral("filterSize=4>7 semiAuto=1>0 exposeTime2=30>45 stopClampOnStop=0>1")
        << QStringLiteral("，过滤尺寸从4改为7，半自动 改为不用，3号相机曝光时间从30改为45"
                          "，停止检测时禁止合模 改为禁止合模");
}

void TestWizardAccept::recordLineNamesEveryChange()
{
    QFETCH(int, language);
    QFETCH(QString, changes);
    QFETCH(QString, fragments);
    // Defect and similarity inspection on, so switching either off still leaves an algorithm.
    m_inForce.enableDefectDetect = m_inForce.enableSimilarity = 1;
    m_inForce.enableSpotDetect = m_inForce.enableWhiteArea = m_inForce.enableBlackArea = 0;
    m_inForce.enableWhiteNumber = m_inForce.tempAlarm = 0;
    m_inForce.machineType = m_inForce.machineTypeEdit = 0;
    m_edit = m_inForce;
    QVERIFY(applyChanges(changes, m_inForce, m_edit));
    gLanguage = language;
    WizardParaWidget screen(nullptr);
    screen.show();
    screen.accept();
    QCOMPARE(m_records.size(), 1);
    QCOMPARE(m_records.first(), (language == 0 ? QStringLiteral("修改了系统参数")
                                                 : QStringLiteral("Modify the system parameters")) +
                                    fragments);
}

// A confirmed change must reach PARAM.db or the setter must hear that it did not. The parameters and
// the regions the parameter sync copies are one transaction: the first statement that fails leaves
// PARAM.db as it was, and so does a transaction that cannot be opened; a row missing from the
// parameters is told but keeps the others.
void TestWizardAccept::storeTroubleOnConfirm_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<bool>("sync");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<bool>("regionsWarned");
    QTest::addColumn<bool>("kept");
    QTest::newRow("sound database") << "select 1" << false << false << false << false;
    QTest::newRow("row of the delays lost")
        << "delete from sysparam where name='trigInDelay'" << false << true << false << false;
    QTest::newRow("table gone") << "alter table sysparam rename to other" << false << true << false << true;
    QTest::newRow("database read-only") << "PRAGMA query_only = ON" << false << true << false << true;
    QTest::newRow("transaction already open") << "BEGIN" << false << true << false << true;
    QTest::newRow("sync: sound database") << "select 1" << true << false << false << false;
    QTest::newRow("sync: row of the delays lost")
        << "delete from sysparam where name='trigInDelay'" << true << true << false << false;
    QTest::newRow("sync: region table gone")
        << "alter table cammer0 rename to other" << true << true << true << true;
    QTest::newRow("sync: transaction already open") << "BEGIN" << true << true << true << true;
}

void TestWizardAccept::storeTroubleOnConfirm()
{
    QFETCH(QString, damage);
    QFETCH(bool, sync);
    QFETCH(bool, kept);
    CameraDeviceInfo info{0, QStringLiteral("simulateCamera_IID"), QStringLiteral("SN-1")};
    CammerWidget view(nullptr, 0, &info);
    if (sync) {
        // One region in the first slot, which the sync copies onto the second (machine type 0).
        view.liveTable->roiCount[0] = 1;
        view.liveTable->shape[0] = ShapeRect;
        view.liveTable->rects[0].screenRect.setCoords(100, 100, 200, 160);
        settingsHooks().cameraView = [&view](int c) { return c == 0 ? &view : nullptr; };
        ConfirmActions real;
        confirmActions().copyPara = real.copyPara;
        confirmActions().saveRegions = real.saveRegions;
    }
    m_inForce.machineType = m_inForce.machineTypeEdit = 0;
    m_inForce.enableProdDetect = 1;
    m_inForce.syncParams = 0;
    m_edit = m_inForce;
    m_edit.syncParams = sync ? 1 : 0;
    const QString path = m_dir->filePath(QStringLiteral("PARAM.db"));
    const QStringList tables{QStringLiteral("sysparam"), QStringLiteral("cammer0")};
    // Another query on the settings' connection, as another writer of the run would hold it.
    QSqlQuery other(QSqlDatabase::database(QStringLiteral("acceptIn")));
    QVERIFY(other.exec(damage));
    const QString before = databaseRows(path, tables);
    WizardParaWidget screen(nullptr);
    m_edit.trigInDelay[0] = 77;
    m_edit.exposeTime[0] = 55;
    screen.show();
    screen.accept();
    QCOMPARE(m_inForce.trigInDelay[0], 77); // in force for this run either way
    QTEST(BoxTestPolicy::shownTexts().contains(uiText(740)), "warned");
    QTEST(BoxTestPolicy::shownTexts().contains(uiText(741)), "regionsWarned");
    if (damage == QLatin1String("BEGIN"))
        QVERIFY(other.exec(QStringLiteral("COMMIT")));
    const QString after = databaseRows(path, tables);
    if (kept) {
        QCOMPARE(after, before);
    } else {
        QVERIFY2(after.contains(QStringLiteral("sysparam exposeTime=55 ")), qPrintable(after));
        QCOMPARE(after.contains(QStringLiteral("cammer0 ROI1-0=")), sync);
    }
}

// The parameter-sync copy saves the regions it copied; whether it did is the Confirm's to tell, once
// its transaction is over.
void TestWizardAccept::unsavedCopiedRegionsAreShown()
{
    CameraDeviceInfo info{0, QStringLiteral("simulateCamera_IID"), QStringLiteral("SN-1")};
    CammerWidget view(nullptr, 0, &info);
    settingsHooks().cameraView = [&view](int c) { return c == 0 ? &view : nullptr; };
    ConfirmActions real;
    real.copyPara(0);
    QVERIFY(real.saveRegions(0));
    QVERIFY(real.saveRegions(1)); // no view: nothing to write
    QVERIFY(m_paramQuery->exec(QStringLiteral("alter table cammer0 rename to elsewhere")));
    real.copyPara(0);
    QVERIFY(!real.saveRegions(0));
    QVERIFY(!BoxTestPolicy::shownTexts().contains(uiText(741)));
}

namespace {

// Child: Confirm on two camera views with a changed delay and the parameter sync switched on, so that
// the parameters and both cameras' copied regions are saved. The parent cuts it short.
int runCutConfirmChild(int argc, char *argv[])
{
    QApplication app(argc, argv);
    armDatabaseCutFromEnvironment();
    TestWorkDir own; // the working folder the views write their pictures into
    const QString folder = QString::fromLocal8Bit(argv[2]);
    fillUiTextTable();
    gChooseBox = new ChooseBox;
    gWarnBox = new WarnBox;
    BoxTestPolicy::enable(1);
    {
        QSqlDatabase in = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("in"));
        in.setDatabaseName(folder + QStringLiteral("/PARAM.db"));
        QSqlDatabase sn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("sn"));
        sn.setDatabaseName(folder + QStringLiteral("/SN.db"));
        if (!in.open() || !sn.open())
            return 2;
        QSqlQuery paramQuery(in);
        QSqlQuery snQuery(sn);
        setParamQueryHook([&] { return &paramQuery; });
        setSnQueryHook([&] { return &snQuery; });
        gShowW = 1920;
        gShowH = 1080;
        gLanguage = 1;
        gCameraCount = 2;
        SysParam inForce;
        loadSysParam(&inForce);
        inForce.machineType = inForce.machineTypeEdit = 0;
        inForce.enableProdDetect = 1;
        inForce.syncParams = 0;
        inForce.showAllParams = 1;
        SysParam edit = inForce;
        edit.syncParams = 1;
        edit.trigInDelay[0] = 77;
        gSysParam = &inForce;
        gSysParamEdit = &edit;
        CameraDeviceInfo info{0, QStringLiteral("simulateCamera_IID"), QStringLiteral("SN-1")};
        CammerWidget view0(nullptr, 0, &info);
        CammerWidget view1(nullptr, 1, &info);
        settingsHooks().cameraView = [&](int c) { return c == 0 ? &view0 : c == 1 ? &view1 : nullptr; };
        {
            WizardParaWidget screen(nullptr);
            screen.show();
            screen.accept();
        }
        if (BoxTestPolicy::shownTexts().contains(uiText(740)) ||
            BoxTestPolicy::shownTexts().contains(uiText(741)))
            return 3;
        settingsHooks() = SettingsHooks();
        setParamQueryHook({});
        setSnQueryHook({});
        gSysParam = gSysParamEdit = nullptr;
    }
    QSqlDatabase::removeDatabase(QStringLiteral("in"));
    QSqlDatabase::removeDatabase(QStringLiteral("sn"));
    reportDatabaseWrites();
    return 0;
}

} // namespace

// A Confirm cut short by a kill after any of its commits, or before any of its syncs, leaves PARAM.db
// with the whole old parameters and regions or the whole new ones.
void TestWizardAccept::cutConfirmLeavesOldOrNewSettings()
{
    const QString start = m_dir->filePath(QStringLiteral("start.db"));
    const QString folder = m_dir->filePath(QStringLiteral("cut"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::copy(m_dir->filePath(QStringLiteral("SN.db")), folder + QStringLiteral("/SN.db")));
    QVERIFY(QFile::copy(m_dir->filePath(QStringLiteral("PARAM.db")), start));
    QVERIFY(RegionTableDb::layOutTwoSlots(start));
    int cuts = 0;
    const QString error = checkCutRuns(
        {QStringLiteral("--cut-confirm-child"), folder}, start, folder + QStringLiteral("/PARAM.db"),
        {QStringLiteral("sysparam"), QStringLiteral("cammer0"), QStringLiteral("cammer1")}, &cuts);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    qInfo() << "cut runs" << cuts;
    QVERIFY(cuts >= 2);
}

int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--cut-confirm-child") == 0)
        return runCutConfirmChild(argc, argv);
    QApplication app(argc, argv);
    TestWizardAccept tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_wizardaccept.moc"
