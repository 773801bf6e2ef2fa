// The settings screen's bindings against a field list written from the screen's own description
// (not from its table), loading rules, page switching and the live camera boxes.
#include "boxtestpolicy.h"
#include "cameradeviceinfo.h"
#include "camerainterface.h"
#include "cameraviewhooks.h"
#include "cammerwidget.h"
#include "checkbox.h"
#include "choosebox.h"
#include "choosedialogs.h"
#include "colorbutton.h"
#include "combobox.h"
#include "editbox.h"
#include "imagesize.h"
#include "settingshooks.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "wizardparawidget.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QtTest>
#include <cstddef>
#include <cstring>

namespace {

enum Kind
{
    Box,
    Check,
    CheckMinusOne,
    Combo
};
struct Binding
{
    const char *widget;
    size_t offset;
    Kind kind;
    int seed;    // a value the widget can show, stored in the block before loading
    int changed; // another value the widget can show
};

#define AT(field) offsetof(SysParam, field)
// Every widget Confirm reads, from the pages' descriptions: field, kind, and two values in range.
const Binding kBindings[] = {
    {"trigInDelay0", AT(trigInDelay[0]), Box, 15, 9999},
    {"trigInDelay1", AT(trigInDelay[1]), Box, 30, 0},
    {"reMoldTimes", AT(reMoldTimes), Box, 3, 10},
    {"filterSize", AT(filterSize), Box, 4, 1},
    {"alarmArea", AT(alarmArea), Box, 400, 1000},
    {"enableProdDetect", AT(enableProdDetect), Check, 1, 0},
    {"semiAuto", AT(semiAuto), Check, 0, 1},
    {"motionCorrect", AT(motionCorrect), CheckMinusOne, 0, -1},
    {"syncParams", AT(syncParams), Check, 1, 0},
    {"isPswUsed", AT(isPswUsed), Check, 0, 1},
    {"templateAutoUpdate", AT(templateAutoUpdate), Check, 1, 0},
    {"frameSpeed", AT(frameSpeed), Box, 7, 32},
    {"autoWDR", AT(autoWDR), Check, 0, 1},
    {"noLensOpt", AT(noLensOpt), Check, 1, 0},
    {"colorCamera", AT(colorCamera), Check, 0, 1},
    {"grayChannel", AT(grayChannel), Check, 1, 0},
    {"useExtTrigger", AT(useExtTrigger), Check, 0, 1},
    {"showAllParams", AT(showAllParams), Check, 0, 1},
    {"enableDefectDetect", AT(enableDefectDetect), Check, 1, 0},
    {"enableSpotDetect", AT(enableSpotDetect), Check, 1, 0},
    {"enableIgnoreArea", AT(enableIgnoreArea), Check, 0, 1},
    {"enableManualLocate", AT(enableManualLocate), Check, 1, 0},
    {"enableBlackArea", AT(enableBlackArea), Check, 0, 1},
    {"enableWhiteArea", AT(enableWhiteArea), Check, 1, 0},
    {"enableSimilarity", AT(enableSimilarity), Check, 0, 1},
    {"enableWhiteNumber", AT(enableWhiteNumber), Check, 1, 0},
    {"tempAlarm", AT(tempAlarm), Check, 0, 1},
    {"matchBrightness", AT(matchBrightness), Check, 1, 0},
    {"angleCorrect", AT(angleCorrect), Check, 0, 1},
    {"inputTimeout", AT(inputTimeout), Box, 20, 10000},
    {"ejectorPulse", AT(ejectorPulse), Box, 5, 1000},
    {"clampPulse", AT(clampPulse), Box, 6, 0},
    {"preCutTime", AT(preCutTime), Box, 2, 100},
    {"debounceTime", AT(debounceTime), Box, 1, 50},
    {"input4Use", AT(input4Use), Combo, 2, 3},
    {"output4Use", AT(output4Use), Combo, 1, 0},
    {"outputInit0", AT(outputInit[0]), Combo, 1, 0},
    {"outputInit1", AT(outputInit[1]), Combo, 0, 1},
    {"outputInit2", AT(outputInit[2]), Combo, 1, 0},
    {"outputInit3", AT(outputInit[3]), Combo, 0, 1},
    {"stopClampOnStop", AT(stopClampOnStop), Check, 1, 0},
    {"cutEjectorOnClamp", AT(cutEjectorOnClamp), Check, 0, 1},
    {"noEjectorCtrlInProd", AT(noEjectorCtrlInProd), Check, 1, 0},
    {"ejectorPulseOnProdNg", AT(ejectorPulseOnProdNg), Check, 0, 1},
    {"okNgPulse", AT(okNgPulse), Check, 1, 0},
    {"cutClampAfterMoldOk", AT(cutClampAfterMoldOk), Check, 0, 1},
    {"cutEjectorAfterProdOk", AT(cutEjectorAfterProdOk), Check, 1, 0},
    {"safetyDoorTrigger", AT(safetyDoorTrigger), Check, 0, 1},
    {"safetyDoorClearsAlarm", AT(safetyDoorClearsAlarm), Check, 1, 0},
    {"cutEjectorOnProdAlarm", AT(cutEjectorOnProdAlarm), Check, 0, 1},
    {"cutClampOnMoldAlarm", AT(cutClampOnMoldAlarm), Check, 1, 0},
    {"ioPort", AT(ioPort), Combo, 3, 7},
    {"machineTypeEdit", AT(machineTypeEdit), Combo, 1, 2},
    {"detectMold", AT(detectMold), Combo, 2, 0},
    {"maxOffset", AT(maxOffset), Box, 40, 8000},
    {"diffAmplify", AT(diffAmplify), Box, 2, 4},
    {"minSpot", AT(minSpot), Box, 5, 20},
    {"rotateAngle", AT(rotateAngle), Box, 10, 180},
    {"screenOffTime", AT(screenOffTime), Box, 0, 9999},
    {"autoLogoutTime", AT(autoLogoutTime), Box, 60, 0},
    {"templateNum", AT(templateNum), Box, 8, 100},
    {"ngRecordMax", AT(ngRecordMax), Box, 50, 500},
    {"okRecordMax", AT(okRecordMax), Box, 0, 500},
    {"showFactoryParam", AT(showFactoryParam), Check, 1, 0},
    {"showManualSnap", AT(showManualSnap), Check, 0, 1},
    {"pswNoDetect", AT(pswNoDetect), Check, 1, 0},
    {"pswAddTemplate", AT(pswAddTemplate), Check, 0, 1},
    {"pswStopDetect", AT(pswStopDetect), Check, 1, 0},
    {"ngTemplate", AT(ngTemplate), Check, 0, 1},
    {"showRoiLive", AT(showRoiLive), Check, 1, 0},
    {"enableStatistics", AT(enableStatistics), Check, 0, 1},
    {"useLog", AT(useLog), Check, 1, 0},
    {"tempWaveform", AT(tempWaveform), Check, 0, 1},
};
#undef AT

void setField(SysParam &p, size_t offset, int v)
{
    int32_t w = v;
    std::memcpy(reinterpret_cast<char *>(&p) + offset, &w, sizeof w);
}

void setWidget(QWidget *w, Kind kind, int v)
{
    switch (kind) {
    case Box:
        static_cast<EditBox *>(w)->setValue(v);
        break;
    case Check:
        static_cast<CheckBox *>(w)->setChecked(v != 0);
        break;
    case CheckMinusOne:
        static_cast<CheckBox *>(w)->setChecked(v == 0);
        break;
    case Combo:
        static_cast<ComboBox *>(w)->setCurrentIndex(v);
        break;
    }
}

SysParam seededBlock()
{
    SysParam p;
    for (const Binding &b : kBindings)
        setField(p, b.offset, b.seed);
    for (int c = 0; c < 8; ++c) {
        p.exposeTime[c] = 10 + c;
        p.adjustPlus[c] = 20 + c;
    }
    return p;
}

// A camera whose one-shot automatic exposure settles on the reading a test gives it.
class SettlingCamera : public CameraInterface
{
public:
    static QJsonObject settled;
    QString getIID() const override { return QStringLiteral("settlingCamera_IID"); }
    QList<CameraDeviceInfo> enumerate() override { return {}; }
    CameraInterface *create(const CameraDeviceInfo &) override { return new SettlingCamera; }
    bool open() override
    {
        setFrameFormat(QSize(64, 48), CV_8UC4);
        return true;
    }
    void close() override {}
    bool startCapture() override { return true; }
    void stopCapture() override {}
    QJsonObject setAutoExposure(bool on) override { return on ? QJsonObject() : settled; }
};
QJsonObject SettlingCamera::settled;
// A camera as the back-ends behave: settings in the settings' units, the automatic exposure's readout
// as "ExposureTime" in microseconds and "Gain", and its stored defaults read back into the block.
class RecordingCamera : public CameraInterface
{
public:
    QStringList calls;
    QJsonObject settled;
    SysParam defaults;

    QString getIID() const override { return QStringLiteral("recording"); }
    QList<CameraDeviceInfo> enumerate() override { return {}; }
    CameraInterface *create(const CameraDeviceInfo &) override { return nullptr; }
    bool open() override { return true; }
    void close() override {}
    bool startCapture() override { return true; }
    void stopCapture() override {}
    bool setExposureTime(int value, bool, bool) override { return note("exposure", value); }
    bool setGain(int value) override { return note("gain", value); }
    bool setSharpness(int value) override { return note("sharpness", value); }
    bool setContrast(int value) override { return note("contrast", value); }
    bool setGamma(int value) override { return note("gamma", value); }
    QJsonObject setAutoExposure(bool on) override
    {
        calls << (on ? QStringLiteral("auto on") : QStringLiteral("auto off"));
        return on ? QJsonObject() : settled;
    }
    void loadParams(SysParam *block, int camera) override
    {
        calls << QStringLiteral("defaults %1").arg(camera);
        block->exposeTime[camera] = defaults.exposeTime[camera];
        block->adjustPlus[camera] = defaults.adjustPlus[camera];
        block->sharp[camera] = defaults.sharp[camera];
        block->contrast[camera] = defaults.contrast[camera];
        block->gamma[camera] = defaults.gamma[camera];
    }

private:
    bool note(const char *what, int value)
    {
        calls << QStringLiteral("%1 %2").arg(QLatin1String(what)).arg(value);
        return true;
    }
};

// Camera views whose cameras are recording ones (a view opens no camera for an unknown back-end).
struct RecordingViews
{
    explicit RecordingViews(int count)
    {
        const CameraDeviceInfo info{0, QStringLiteral("no such back-end"), QStringLiteral("SN")};
        for (int c = 0; c < count; ++c) {
            views.push_back(std::make_unique<CammerWidget>(nullptr, c, &info));
            auto *camera = new RecordingCamera;
            views.back()->camera.reset(camera);
            views.back()->cameraBackend = camera;
            cameras.push_back(camera);
        }
        settingsHooks().cameraView = [this](int c) {
            return c >= 0 && c < int(views.size()) ? views[size_t(c)].get() : nullptr;
        };
        // As on the box: the views take their settings from the working copy while the screen is up.
        cameraViewHooks().settingsVisible = [] { return true; };
    }
    ~RecordingViews() { cameraViewHooks().settingsVisible = {}; }
    QStringList allCalls() const
    {
        QStringList all;
        for (size_t c = 0; c < cameras.size(); ++c)
            for (const QString &call : cameras[c]->calls)
                all << QStringLiteral("%1: %2").arg(c).arg(call);
        return all;
    }
    void clearCalls()
    {
        for (RecordingCamera *camera : cameras)
            camera->calls.clear();
    }
    std::vector<std::unique_ptr<CammerWidget>> views;
    std::vector<RecordingCamera *> cameras;
};

} // namespace

class TestWizardParaWidget : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void everyBindingRoundTripsAndChangesOnlyItsField();
    void loadingKeepsOrClampsStoredValues_data();
    void loadingKeepsOrClampsStoredValues();
    void pagesFollowTheBoxesAndTheLevel();
    void cameraBoxesWriteTheShownCamera();
    void autoExposureReadingIsBroughtIntoTheBox_data();
    void autoExposureReadingIsBroughtIntoTheBox();
    void oneShotAutoExposure_data();
    void oneShotAutoExposure();
    void restoreDefaultsOfTheShownCamera();
    void simpleDisplayUncoversThePicture();
    void noWidgetOverlapsAnotherNorCutsItsLabel_data();
    void noWidgetOverlapsAnotherNorCutsItsLabel();

private:
    TestWorkDir *m_dir = nullptr;
    SysParam m_inForce;
    SysParam m_edit;
    bool m_advanced = false;
};

void TestWizardParaWidget::init()
{
    fillUiTextTable();
    m_dir = new TestWorkDir;
    QVERIFY(m_dir->isValid());
    gShowW = 1920;
    gShowH = 1080;
    m_inForce = SysParam();
    m_edit = SysParam();
    gSysParam = &m_inForce;
    gSysParamEdit = &m_edit;
    gLanguage = 1;
    gCameraCount = 0;
    m_advanced = false;
    settingsHooks() = SettingsHooks();
    settingsHooks().isAdvancedUser = [this] { return m_advanced; };
}

void TestWizardParaWidget::cleanup()
{
    settingsHooks() = SettingsHooks();
    gSysParam = nullptr;
    gSysParamEdit = nullptr;
    delete m_dir;
    m_dir = nullptr;
}

void TestWizardParaWidget::everyBindingRoundTripsAndChangesOnlyItsField()
{
    const SysParam seed = seededBlock();
    m_edit = seed;
    WizardParaWidget screen(nullptr);
    screen.loadPageValues();

    // Shown and read back unchanged: the block is identical, byte for byte.
    SysParam back = seed;
    screen.storeWidgetValues(back);
    QVERIFY(std::memcmp(&back, &seed, sizeof seed) == 0);
    QVERIFY(std::memcmp(&m_edit, &seed, sizeof seed) == 0);

    for (const Binding &b : kBindings) {
        QWidget *w = screen.fieldWidget(QString::fromLatin1(b.widget));
        QVERIFY2(w, b.widget);
        m_edit = seed; // the live boxes write the working copy themselves
        screen.loadPageValues();
        setWidget(w, b.kind, b.changed);
        SysParam out = seed;
        screen.storeWidgetValues(out);
        SysParam expected = seed;
        setField(expected, b.offset, b.changed);
        if (std::memcmp(&out, &expected, sizeof out) != 0) {
            const auto *o = reinterpret_cast<const int32_t *>(&out);
            const auto *e = reinterpret_cast<const int32_t *>(&expected);
            for (size_t i = 0; i < sizeof out / 4; ++i)
                if (o[i] != e[i])
                    qWarning("%s: word %zu is %d, expected %d", b.widget, i, o[i], e[i]);
            QFAIL(b.widget);
        }
    }
}

void TestWizardParaWidget::loadingKeepsOrClampsStoredValues_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("confirmed");
    QTest::newRow("port without item kept") << "ioPort" << 9 << 9;
    QTest::newRow("mould choice 3 kept") << "detectMold" << 3 << 3;
    QTest::newRow("negative input role kept") << "input4Use" << -4 << -4;
    QTest::newRow("filter size clamped") << "filterSize" << 50 << 10;
    QTest::newRow("min spot clamped") << "minSpot" << 50 << 20;
    QTest::newRow("screen never off stays 0") << "screenOffTime" << 0 << 0;
    QTest::newRow("screen off 15 s becomes 30") << "screenOffTime" << 15 << 30;
    QTest::newRow("motion correction off") << "motionCorrect" << -1 << -1;
    QTest::newRow("motion correction on") << "motionCorrect" << 0 << 0;
}

void TestWizardParaWidget::loadingKeepsOrClampsStoredValues()
{
    QFETCH(QString, field);
    QFETCH(int, stored);
    QFETCH(int, confirmed);
    size_t offset = 0;
    for (const Binding &b : kBindings)
        if (field == QLatin1String(b.widget))
            offset = b.offset;
    QVERIFY(offset > 0);
    m_edit = seededBlock();
    setField(m_edit, offset, stored);
    WizardParaWidget screen(nullptr);
    screen.loadPageValues();
    SysParam out = m_edit;
    screen.storeWidgetValues(out);
    int32_t v = 0;
    std::memcpy(&v, reinterpret_cast<const char *>(&out) + offset, sizeof v);
    QCOMPARE(v, confirmed);
}

void TestWizardParaWidget::pagesFollowTheBoxesAndTheLevel()
{
    m_edit = seededBlock();
    m_edit.showFactoryParam = 0;
    m_edit.showAllParams = 1;
    m_edit.machineTypeEdit = 0;
    WizardParaWidget screen(nullptr);
    screen.show();
    auto visible = [&](const char *name) {
        return screen.fieldWidget(QString::fromLatin1(name))->isVisible();
    };
    QCOMPARE(screen.currentPage, 0);
    QVERIFY(visible("trigInDelay0"));
    QVERIFY(!visible("filterSize")); // "Display all the parameters" is checked
    QVERIFY(!visible("exposeTime"));

    screen.SlotToCamera();
    QVERIFY(visible("exposeTime") && visible("adjustPlus") && visible("switchCamera"));
    QVERIFY(!visible("sharp") && !visible("colorCamera"));

    // Below level 2 the I/O and advanced pages stay shut.
    screen.SlotToIO();
    QCOMPARE(screen.currentPage, 1);
    m_advanced = true;
    screen.SlotToIO();
    QCOMPARE(screen.currentPage, 3);
    QVERIFY(visible("machineTypeEdit") && !visible("detectMold") && !visible("ioPort"));
    static_cast<ComboBox *>(screen.fieldWidget(QStringLiteral("machineTypeEdit")))->setCurrentIndex(2);
    QVERIFY(visible("detectMold"));
    static_cast<ComboBox *>(screen.fieldWidget(QStringLiteral("machineTypeEdit")))->setCurrentIndex(0);
    QVERIFY(!visible("detectMold"));

    // The box's state, not the stored value, opens the factory widgets.
    screen.SlotToAdvance();
    static_cast<CheckBox *>(screen.fieldWidget(QStringLiteral("showFactoryParam")))->setChecked(true);
    screen.SlotToCamera();
    QVERIFY(visible("sharp") && visible("colorCamera") && visible("showAllParams"));

    // Hiding returns to page 0; showing again reloads (simple display and camera reset).
    screen.SlotChangeShowMode();
    QVERIFY(screen.simpleDisplay);
    screen.hide();
    QCOMPARE(screen.currentPage, 0);
    screen.show();
    QVERIFY(!screen.simpleDisplay);
    QCOMPARE(screen.fieldWidget(QStringLiteral("displayModeButton"))->property("text").toString(),
             uiText(300));
}

void TestWizardParaWidget::cameraBoxesWriteTheShownCamera()
{
    m_edit = seededBlock();
    gCameraCount = 3;
    QVector<int> shown;
    settingsHooks().showCamera = [&](int i) { shown.append(i); };
    WizardParaWidget screen(nullptr);
    screen.loadPageValues();
    screen.SlotChangeCamera();
    screen.SlotChangeCamera();
    auto *exposure = static_cast<EditBox *>(screen.fieldWidget(QStringLiteral("exposeTime")));
    QCOMPARE(exposure->value(), 12); // camera 3's stored exposure
    exposure->setValue(77);
    QCOMPARE(m_edit.exposeTime[2], 77);
    QCOMPARE(m_edit.exposeTime[0], 10);
    static_cast<EditBox *>(screen.fieldWidget(QStringLiteral("distance")))->setValue(250);
    QCOMPARE(m_edit.distance[2], 250);
    screen.SlotChangeCamera();
    QCOMPARE(screen.cameraIndex, 0);
    QCOMPARE(shown, QVector<int>({1, 2, 0}));

    // One camera (or none): switching stays put.
    gCameraCount = 1;
    screen.SlotChangeCamera();
    QCOMPARE(screen.cameraIndex, 0);

    // Automatic shading stores the check box's state, 2.
    screen.SlotToCamera();
    static_cast<CheckBox *>(screen.fieldWidget(QStringLiteral("autoWDR")))->setChecked(true);
    QCOMPARE(m_edit.autoWDR, 2);
}

// "AutoExpos": the camera measures for 2 s after the last press, then its readout becomes the shown
// camera's exposure (microseconds to whole milliseconds, cut) and gain, sent back as fixed settings.
void TestWizardParaWidget::oneShotAutoExposure_data()
{
    QTest::addColumn<QJsonObject>("settled");
    QTest::addColumn<int>("presses");
    QTest::addColumn<int>("exposure");
    QTest::addColumn<int>("gain");
    QTest::newRow("20999.9 us and gain 7, pressed twice")
        << QJsonObject{{QStringLiteral("ExposureTime"), 20999.9}, {QStringLiteral("Gain"), 7}} << 2 << 20 << 7;
    QTest::newRow("exposure only") << QJsonObject{{QStringLiteral("ExposureTime"), 45000.0}} << 1 << 45 << 21;
    QTest::newRow("gain only") << QJsonObject{{QStringLiteral("Gain"), 30}} << 1 << 11 << 30;
    QTest::newRow("no readout") << QJsonObject() << 1 << 11 << 21;
}

void TestWizardParaWidget::oneShotAutoExposure()
{
    QFETCH(QJsonObject, settled);
    QFETCH(int, presses);
    QFETCH(int, exposure);
    QFETCH(int, gain);
    m_edit = seededBlock();
    gCameraCount = 2;
    RecordingViews views(2);
    views.cameras[1]->settled = settled;
    WizardParaWidget screen(nullptr);
    screen.show();
    screen.SlotToCamera();
    screen.SlotChangeCamera(); // the second camera: exposure 11, gain 21
    views.clearCalls();
    auto *button = screen.fieldWidget(QStringLiteral("autoExpose"));
    QVERIFY(button);
    QElapsedTimer sinceLast;
    for (int press = 0; press < presses; ++press) {
        if (press > 0)
            QTest::qWait(1000);
        QTest::mouseClick(button, Qt::LeftButton);
        sinceLast.start();
    }
    QTest::qWait(1500);
    QStringList pressed;
    for (int press = 0; press < presses; ++press)
        pressed << QStringLiteral("1: auto on");
    QCOMPARE(views.allCalls(), pressed);
    QTRY_VERIFY_WITH_TIMEOUT(views.cameras[1]->calls.contains(QStringLiteral("auto off")), 2000);
    // A coarse timer may end up to 5 % early; without the restart it would end 1 s after the last press.
    QVERIFY2(sinceLast.elapsed() >= 1850, qPrintable(QString::number(sinceLast.elapsed())));
    QTest::qWait(300);
    QCOMPARE(views.cameras[1]->calls.count(QStringLiteral("auto off")), 1);
    QCOMPARE(m_edit.exposeTime[1], exposure);
    QCOMPARE(m_edit.adjustPlus[1], gain);
    QCOMPARE(m_edit.exposeTime[0], 10); // the other camera untouched
    QCOMPARE(m_edit.adjustPlus[0], 20);
    QCOMPARE(static_cast<EditBox *>(screen.fieldWidget(QStringLiteral("exposeTime")))->value(), exposure);
    QCOMPARE(static_cast<EditBox *>(screen.fieldWidget(QStringLiteral("adjustPlus")))->value(), gain);
    // What the camera settled on now holds as its fixed setting.
    const QStringList after = views.cameras[1]->calls.mid(views.cameras[1]->calls.indexOf(QStringLiteral("auto off")));
    if (settled.contains(QStringLiteral("ExposureTime")))
        QVERIFY(after.contains(QStringLiteral("exposure %1").arg(exposure)));
    if (settled.contains(QStringLiteral("Gain")))
        QVERIFY(after.contains(QStringLiteral("gain %1").arg(gain)));
    QVERIFY(views.cameras[0]->calls.isEmpty());
}

// "Restore": after the question, the shown camera takes the back-end's stored defaults into the
// working copy, the boxes show them and the camera gets them; a declined question changes nothing.
void TestWizardParaWidget::restoreDefaultsOfTheShownCamera()
{
    if (!gChooseBox)
        gChooseBox = new ChooseBox;
    BoxTestPolicy::enable(1);
    BoxTestPolicy::clearShown();
    m_edit = seededBlock();
    m_edit.showFactoryParam = 1;
    m_edit.frameSpeed = 9;
    gCameraCount = 2;
    RecordingViews views(2);
    RecordingCamera &camera = *views.cameras[1];
    camera.defaults.exposeTime[1] = 33;
    camera.defaults.adjustPlus[1] = 4;
    camera.defaults.sharp[1] = 50;
    camera.defaults.contrast[1] = 60;
    camera.defaults.gamma[1] = 70;
    WizardParaWidget screen(nullptr);
    screen.show();
    screen.SlotToCamera();
    screen.SlotChangeCamera();
    const SysParam before = m_edit;
    views.clearCalls();
    auto *button = screen.fieldWidget(QStringLiteral("restoreDefaults"));
    QVERIFY(button);

    BoxTestPolicy::queueAnswer(0);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(BoxTestPolicy::shownTexts(),
             QStringList{QStringLiteral("Are you sure you want to \r\n restore the default settings")});
    QVERIFY(views.allCalls().isEmpty());
    QVERIFY(std::memcmp(&m_edit, &before, sizeof before) == 0);

    BoxTestPolicy::queueAnswer(1);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(views.cameras[0]->calls, QStringList());
    QCOMPARE(camera.calls.first(), QStringLiteral("defaults 1"));
    for (const char *sent : {"exposure 33", "gain 4", "sharpness 50", "contrast 60", "gamma 70"})
        QVERIFY2(camera.calls.contains(QLatin1String(sent)), sent);
    QCOMPARE(m_edit.exposeTime[1], 33);
    QCOMPARE(m_edit.adjustPlus[1], 4);
    QCOMPARE(m_edit.sharp[1], 50);
    QCOMPARE(m_edit.contrast[1], 60);
    QCOMPARE(m_edit.gamma[1], 70);
    QCOMPARE(m_edit.exposeTime[0], 10);
    QCOMPARE(m_edit.frameSpeed, 9);
    for (const char *name : {"exposeTime", "adjustPlus", "sharp", "contrast", "gamma"}) {
        const int shown = static_cast<EditBox *>(screen.fieldWidget(QLatin1String(name)))->value();
        QVERIFY2(QVector<int>({33, 4, 50, 60, 70}).contains(shown), name);
    }
    QCOMPARE(static_cast<EditBox *>(screen.fieldWidget(QStringLiteral("frameSpeed")))->value(), 9);
    BoxTestPolicy::disable();
}

// Simple display hides the tab bar, the reordering button and the factory widgets so the enlarged
// live picture shows through; the camera boxes and buttons stay. Turning it off brings the factory
// widgets back only while "Display factory param" is checked.
void TestWizardParaWidget::simpleDisplayUncoversThePicture()
{
    m_edit = seededBlock();
    m_edit.showFactoryParam = 1;
    gCameraCount = 2;
    QVector<int> shown;
    settingsHooks().showCamera = [&](int c) { shown << c; };
    WizardParaWidget screen(nullptr);
    screen.show();
    screen.SlotToCamera();
    screen.SlotChangeCamera();
    shown.clear();
    auto *mode = static_cast<ColorButton *>(screen.fieldWidget(QStringLiteral("displayModeButton")));
    QCOMPARE(mode->text(), QStringLiteral("Simplely D"));
    const char *const factory[] = {"frameSpeed",        "colorCamera",      "grayChannel",      "useExtTrigger",
                                   "autoWDR",           "noLensOpt",        "enableDefectDetect",
                                   "enableSpotDetect",  "enableIgnoreArea", "enableManualLocate",
                                   "showAllParams",     "enableWhiteArea",  "enableBlackArea",
                                   "enableWhiteNumber", "enableSimilarity", "tempAlarm",
                                   "matchBrightness",   "angleCorrect"};
    const char *const staying[] = {"exposeTime", "adjustPlus", "sharp", "contrast", "gamma", "distance",
                                   "temperatureRange", "switchCamera", "restoreDefaults", "autoExpose",
                                   "displayModeButton"};
    auto visible = [&](const char *name) { return screen.fieldWidget(QLatin1String(name))->isVisible(); };
    for (const char *name : factory)
        QVERIFY2(visible(name), name);

    QTest::mouseClick(mode, Qt::LeftButton);
    QVERIFY(screen.simpleDisplay);
    QCOMPARE(mode->text(), QStringLiteral("Completely D"));
    QCOMPARE(shown, QVector<int>{1}); // the shown camera enlarged behind the page
    for (ColorButton *tab : screen.tabButtons)
        QVERIFY(!tab->isVisible());
    QVERIFY(!visible("reordering"));
    for (const char *name : factory)
        QVERIFY2(!visible(name), name);
    for (const char *name : staying)
        QVERIFY2(visible(name), name);

    QTest::mouseClick(mode, Qt::LeftButton);
    QVERIFY(!screen.simpleDisplay);
    QCOMPARE(mode->text(), QStringLiteral("Simplely D"));
    for (ColorButton *tab : screen.tabButtons)
        QVERIFY(tab->isVisible());
    QVERIFY(visible("reordering"));
    for (const char *name : factory)
        QVERIFY2(visible(name), name);

    // Without the factory parameters the factory widgets stay hidden after the simple display.
    screen.showFactoryParamBox->setChecked(false);
    screen.SlotToCamera();
    QTest::mouseClick(mode, Qt::LeftButton);
    QTest::mouseClick(mode, Qt::LeftButton);
    for (ColorButton *tab : screen.tabButtons)
        QVERIFY(tab->isVisible());
    for (const char *name : factory)
        QVERIFY2(!visible(name), name);
    for (const char *name : {"exposeTime", "adjustPlus", "switchCamera"})
        QVERIFY2(visible(name), name);
}

void TestWizardParaWidget::noWidgetOverlapsAnotherNorCutsItsLabel_data()
{
    QTest::addColumn<int>("language");
    QTest::newRow("Simplified Chinese") << 0;
    QTest::newRow("English") << 1;
    QTest::newRow("Traditional Chinese") << 2;
    QTest::newRow("Japanese") << 3;
}

// With every widget of a page shown, no two of them share a pixel (a touch would land on the wrong one)
// and no check box label needs more room than its box has up to the screen's edge.
void TestWizardParaWidget::noWidgetOverlapsAnotherNorCutsItsLabel()
{
    QFETCH(int, language);
    QVERIFY(fillUiTextTable() > 0);
    gLanguage = language;
    m_edit = seededBlock();
    m_edit.showFactoryParam = 1;
    m_edit.showAllParams = 0;
    m_edit.machineTypeEdit = 1;
    WizardParaWidget screen(nullptr);
    // The clock and calibration boxes are windows of their own, not pieces of a page.
    QVERIFY(qobject_cast<ModifyTimeWidget *>(screen.modifyTimeWidget) && !screen.modifyTimeWidget->parent());
    QVERIFY(qobject_cast<ChooseCaliNumWidget *>(screen.calibrationWidget) &&
            !screen.calibrationWidget->parent());
    screen.show();
    const auto name = [](const QWidget *w) {
        return w->objectName().isEmpty() ? w->property("text").toString() : w->objectName();
    };
    for (int page : {0, 1, 3, 4}) {
        screen.currentPage = page;
        screen.DoChangePage();
        QVector<QWidget *> shown;
        for (QWidget *w : screen.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (w->isVisible())
                shown << w;
        QVERIFY(shown.size() > 10);
        for (int i = 0; i < shown.size(); ++i) {
            for (int j = i + 1; j < shown.size(); ++j)
                QVERIFY2(
                    !shown[i]->geometry().intersects(shown[j]->geometry()),
                    qPrintable(
                        QStringLiteral("page %1: %2 / %3").arg(page).arg(name(shown[i]), name(shown[j]))));
            if (auto *box = qobject_cast<CheckBox *>(shown[i]); box && !box->text().isEmpty())
                QVERIFY2(box->sizeHint().width() <= qMin(box->width(), screen.width() - box->x()),
                         qPrintable(QStringLiteral("page %1: %2 cut").arg(page).arg(name(box))));
        }
    }
}

// The camera reports its settled exposure in microseconds; the box holds whole milliseconds, 1 to 100.
void TestWizardParaWidget::autoExposureReadingIsBroughtIntoTheBox_data()
{
    QTest::addColumn<QJsonObject>("settled");
    QTest::addColumn<int>("exposure");
    QTest::addColumn<int>("gain");
    QTest::newRow("20999.9 us is 20 ms")
        << QJsonObject{{"ExposureTime", 20999.9}, {"Gain", 40}} << 20 << 40;
    QTest::newRow("exactly 100 ms") << QJsonObject{{"ExposureTime", 100000.0}} << 100 << 32;
    QTest::newRow("250 ms held at 100 ms") << QJsonObject{{"ExposureTime", 250000.0}} << 100 << 32;
    QTest::newRow("0.5 ms raised to 1 ms") << QJsonObject{{"ExposureTime", 500.0}} << 1 << 32;
    QTest::newRow("zero raised to 1 ms") << QJsonObject{{"ExposureTime", 0.0}} << 1 << 32;
    QTest::newRow("gain only") << QJsonObject{{"Gain", 12}} << 30 << 12;
    QTest::newRow("text, not a reading") << QJsonObject{{"ExposureTime", "fast"}} << 30 << 32;
}

void TestWizardParaWidget::autoExposureReadingIsBroughtIntoTheBox()
{
    QFETCH(QJsonObject, settled);
    QFETCH(int, exposure);
    QFETCH(int, gain);
    SettlingCamera prototype;
    gCameraBackends.insert(prototype.getIID(), &prototype);
    CameraDeviceInfo info{0, prototype.getIID(), QStringLiteral("S1")};
    CammerWidget view(nullptr, 0, &info);
    gCameraBackends.remove(prototype.getIID());
    QVERIFY(view.cameraObject());
    gCameraCount = 1;
    settingsHooks().cameraView = [&view](int c) { return c == 0 ? &view : nullptr; };
    m_edit.exposeTime[0] = 30;
    m_edit.adjustPlus[0] = 32;
    SettlingCamera::settled = settled;
    WizardParaWidget screen(nullptr);
    screen.SlotAutoExposeTime();
    screen.SlotAutoExposeTimeTimeout();
    QCOMPARE(m_edit.exposeTime[0], exposure);
    QCOMPARE(m_edit.adjustPlus[0], gain);
}

QTEST_MAIN(TestWizardParaWidget)
#include "tst_wizardparawidget.moc"
