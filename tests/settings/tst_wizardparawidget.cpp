// The settings screen's bindings against a field list written from the screen's own description
// (not from its table), loading rules, page switching and the live camera boxes.
#include "cameradeviceinfo.h"
#include "camerainterface.h"
#include "cammerwidget.h"
#include "checkbox.h"
#include "choosedialogs.h"
#include "combobox.h"
#include "editbox.h"
#include "imagesize.h"
#include "settingshooks.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "wizardparawidget.h"

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
