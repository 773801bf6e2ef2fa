// The parameter record itself: its word layout (settings pages, groups and stored rows depend on it),
// the constructor's defaults and the rules the loader applies to out-of-range values.

#include "sysparam.h"
#include "uitexttable.h"

#include <QtTest>

#include <cstring>

static_assert(sizeof(SysParam) == 1240, "310 words");
static_assert(offsetof(SysParam, password) == 728, "password at byte 728");
static_assert(offsetof(SysParam, detectCount) == 832, "detectCount at byte 832");
static_assert(offsetof(SysParam, paraGroupIndex) == 1228, "paraGroupIndex at byte 1228");

namespace {
int32_t word(const SysParam &p, int index)
{
    int32_t w;
    std::memcpy(&w, reinterpret_cast<const char *>(&p) + 4 * index, 4);
    return w;
}
} // namespace

// Word numbers of every named field, written out from the record's published table.
#define WORD_OF(field) int(offsetof(SysParam, field) / 4)

class TestSysParamRecord : public QObject
{
    Q_OBJECT
private slots:
    void fieldWords_data()
    {
        QTest::addColumn<int>("actual");
        QTest::addColumn<int>("expected");
        QTest::newRow("exposeTime") << WORD_OF(exposeTime) << 0;
        QTest::newRow("adjustPlus") << WORD_OF(adjustPlus) << 8;
        QTest::newRow("sharp") << WORD_OF(sharp) << 16;
        QTest::newRow("contrast") << WORD_OF(contrast) << 24;
        QTest::newRow("gamma") << WORD_OF(gamma) << 32;
        QTest::newRow("distance") << WORD_OF(distance) << 40;
        QTest::newRow("temperatureRange") << WORD_OF(temperatureRange) << 48;
        QTest::newRow("trigInDelay") << WORD_OF(trigInDelay) << 56;
        QTest::newRow("slotTrigInput") << WORD_OF(slotTrigInput) << 65;
        QTest::newRow("inputInvert") << WORD_OF(inputInvert) << 83;
        QTest::newRow("outputInit") << WORD_OF(outputInit) << 92;
        QTest::newRow("reserved100") << WORD_OF(reserved100) << 100;
        QTest::newRow("semiAuto") << WORD_OF(semiAuto) << 101;
        QTest::newRow("slotEnabled") << WORD_OF(slotEnabled) << 102;
        QTest::newRow("syncParams") << WORD_OF(syncParams) << 110;
        QTest::newRow("motionCorrect") << WORD_OF(motionCorrect) << 112;
        QTest::newRow("isPswUsed") << WORD_OF(isPswUsed) << 114;
        QTest::newRow("enableProdDetect") << WORD_OF(enableProdDetect) << 116;
        QTest::newRow("cameraSnCount") << WORD_OF(cameraSnCount) << 117;
        QTest::newRow("templateNum") << WORD_OF(templateNum) << 118;
        QTest::newRow("screenOffTime") << WORD_OF(screenOffTime) << 121;
        QTest::newRow("autoLogoutTime") << WORD_OF(autoLogoutTime) << 124;
        QTest::newRow("reMoldTimes") << WORD_OF(reMoldTimes) << 126;
        QTest::newRow("debounceTime") << WORD_OF(debounceTime) << 130;
        QTest::newRow("input4Use") << WORD_OF(input4Use) << 135;
        QTest::newRow("cutClampOnMoldAlarm") << WORD_OF(cutClampOnMoldAlarm) << 140;
        QTest::newRow("enableDefectDetect") << WORD_OF(enableDefectDetect) << 145;
        QTest::newRow("reserved151") << WORD_OF(reserved151) << 151;
        QTest::newRow("output4Use") << WORD_OF(output4Use) << 153;
        QTest::newRow("maxOffset") << WORD_OF(maxOffset) << 154;
        QTest::newRow("reserved158") << WORD_OF(reserved158) << 158;
        QTest::newRow("angleCorrect") << WORD_OF(angleCorrect) << 160;
        QTest::newRow("ioPort") << WORD_OF(ioPort) << 161;
        QTest::newRow("colorCamera") << WORD_OF(colorCamera) << 162;
        QTest::newRow("minSpot") << WORD_OF(minSpot) << 165;
        QTest::newRow("showFactoryParam") << WORD_OF(showFactoryParam) << 168;
        QTest::newRow("machineType") << WORD_OF(machineType) << 169;
        QTest::newRow("machineTypeEdit") << WORD_OF(machineTypeEdit) << 170;
        QTest::newRow("detectMold") << WORD_OF(detectMold) << 171;
        QTest::newRow("enableWhiteNumber") << WORD_OF(enableWhiteNumber) << 177;
        QTest::newRow("enableSimilarity") << WORD_OF(enableSimilarity) << 179;
        QTest::newRow("rotateAngle") << WORD_OF(rotateAngle) << 180;
        QTest::newRow("spare") << WORD_OF(spare) << 181;
        QTest::newRow("password") << WORD_OF(password) << 182;
        QTest::newRow("reserved207") << WORD_OF(reserved207) << 207;
        QTest::newRow("detectCount") << WORD_OF(detectCount) << 208;
        QTest::newRow("detTrigSource") << WORD_OF(detTrigSource) << 209;
        QTest::newRow("detCheckMask") << WORD_OF(detCheckMask) << 217;
        QTest::newRow("detCutMode") << WORD_OF(detCutMode) << 225;
        QTest::newRow("inputNameIdx") << WORD_OF(inputNameIdx) << 242;
        QTest::newRow("outputNameIdx") << WORD_OF(outputNameIdx) << 250;
        QTest::newRow("slotCount") << WORD_OF(slotCount) << 258;
        QTest::newRow("useExtTrigger") << WORD_OF(useExtTrigger) << 274;
        QTest::newRow("tempLow") << WORD_OF(tempLow) << 275;
        QTest::newRow("tempHigh") << WORD_OF(tempHigh) << 291;
        QTest::newRow("paraGroupIndex") << WORD_OF(paraGroupIndex) << 307;
        QTest::newRow("reserved308") << WORD_OF(reserved308) << 308;
    }
    void fieldWords()
    {
        QFETCH(int, actual);
        QFETCH(int, expected);
        QCOMPARE(actual, expected);
    }

    void constructorDefaults()
    {
        // Dirty memory first, so that a constructor that forgets a word is caught.
        alignas(SysParam) unsigned char storage[sizeof(SysParam)];
        std::memset(storage, 0xA5, sizeof storage);
        SysParam *p = new (storage) SysParam;
        for (int w = 0; w < 310; ++w) {
            int32_t expected = 0;
            if (w == 103)
                expected = 1;
            else if (w == 208)
                expected = 2;
            else if (w == 260 || w == 261)
                expected = -1;
            QVERIFY2(word(*p, w) == expected, qPrintable(QStringLiteral("word %1").arg(w)));
        }
        p->~SysParam();
    }

    void copyIsWholeRecord()
    {
        SysParam a;
        a.exposeTime[7] = 1234;
        std::strcpy(a.password, "x'y");
        a.reserved309 = 9;
        SysParam b = a;
        QCOMPARE(std::memcmp(&a, &b, sizeof(SysParam)), 0);
    }

    // One rule per row: the stored value, and what the loader leaves.
    void loadRules_data()
    {
        QTest::addColumn<int>("wordIndex");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("loaded");
        QTest::newRow("exposeTime -1") << 0 << -1 << 30;
        QTest::newRow("exposeTime 10000") << 3 << 10000 << 10000;
        QTest::newRow("exposeTime 10001") << 7 << 10001 << 30;
        QTest::newRow("adjustPlus 10001") << 8 << 10001 << 32;
        QTest::newRow("adjustPlus -1") << 15 << -1 << 32;
        QTest::newRow("sharp 10001") << 16 << 10001 << 0;
        QTest::newRow("contrast -1") << 24 << -1 << 50;
        QTest::newRow("contrast 10000") << 31 << 10000 << 10000;
        QTest::newRow("gamma 10001") << 39 << 10001 << 70;
        QTest::newRow("temperatureRange 2") << 48 << 2 << 2;
        QTest::newRow("temperatureRange 3") << 55 << 3 << 1;
        QTest::newRow("temperatureRange -1") << 50 << -1 << 1;
        QTest::newRow("distance unruled") << 40 << -7 << -7;
        QTest::newRow("trigInDelay unruled") << 56 << 123456 << 123456;
        QTest::newRow("detectCount 1") << 208 << 1 << 2;
        QTest::newRow("detectCount 8") << 208 << 8 << 8;
        QTest::newRow("detectCount 9") << 208 << 9 << 2;
        QTest::newRow("preCutTime 10001") << 172 << 10001 << 0;
        QTest::newRow("reMoldTimes -1") << 126 << -1 << 0;
        QTest::newRow("filterSize 0") << 131 << 0 << 3;
        QTest::newRow("filterSize 100") << 131 << 100 << 100;
        QTest::newRow("filterSize 101") << 131 << 101 << 3;
        QTest::newRow("alarmArea 0") << 132 << 0 << 100;
        QTest::newRow("alarmArea 100000") << 132 << 100000 << 100000;
        QTest::newRow("alarmArea 100001") << 132 << 100001 << 100;
        QTest::newRow("templateNum 0") << 118 << 0 << 10;
        QTest::newRow("templateNum 1") << 118 << 1 << 1;
        QTest::newRow("templateNum 101") << 118 << 101 << 10;
        QTest::newRow("ngRecordMax 10001") << 119 << 10001 << 0;
        QTest::newRow("okRecordMax 10000") << 120 << 10000 << 10000;
        QTest::newRow("ejectorPulse -1") << 127 << -1 << 0;
        QTest::newRow("clampPulse 10001") << 128 << 10001 << 0;
        QTest::newRow("motionCorrect 1") << 112 << 1 << -1;
        QTest::newRow("motionCorrect 0") << 112 << 0 << 0;
        QTest::newRow("motionCorrect -1") << 112 << -1 << -1;
        QTest::newRow("motionCorrect -2") << 112 << -2 << -1;
        QTest::newRow("rotateAngle 180") << 180 << 180 << 180;
        QTest::newRow("rotateAngle 181") << 180 << 181 << 0;
        QTest::newRow("autoLogoutTime 10001") << 124 << 10001 << 0;
        QTest::newRow("diffAmplify 4") << 123 << 4 << 4;
        QTest::newRow("diffAmplify 5") << 123 << 5 << 0;
        QTest::newRow("maxOffset 0") << 154 << 0 << 8000;
        QTest::newRow("maxOffset 8000") << 154 << 8000 << 8000;
        QTest::newRow("maxOffset 8001") << 154 << 8001 << 8000;
        QTest::newRow("screenOffTime 0") << 121 << 0 << 0;
        QTest::newRow("screenOffTime 29") << 121 << 29 << 600;
        QTest::newRow("screenOffTime 30") << 121 << 30 << 30;
        QTest::newRow("screenOffTime 9999") << 121 << 9999 << 9999;
        QTest::newRow("screenOffTime 10000") << 121 << 10000 << 600;
        QTest::newRow("screenOffTime -1") << 121 << -1 << 600;
        QTest::newRow("frameSpeed 100") << 122 << 100 << 100;
        QTest::newRow("frameSpeed 101") << 122 << 101 << 12;
        QTest::newRow("inputTimeout 100000000") << 129 << 100000000 << 100000000;
        QTest::newRow("inputTimeout 100000001") << 129 << 100000001 << 60;
        QTest::newRow("ioPort 100") << 161 << 100 << 100;
        QTest::newRow("ioPort 101") << 161 << 101 << 0;
        QTest::newRow("minSpot 0") << 165 << 0 << 3;
        QTest::newRow("minSpot 100") << 165 << 100 << 100;
        QTest::newRow("minSpot 101") << 165 << 101 << 3;
        QTest::newRow("spare 100000001") << 181 << 100000001 << 0;
        QTest::newRow("spare -1") << 181 << -1 << 0;
        QTest::newRow("machineType 5") << 169 << 5 << 0;
        QTest::newRow("machineType -1") << 169 << -1 << 0;
        QTest::newRow("machineType 2") << 169 << 2 << 2;
    }
    void loadRules()
    {
        QFETCH(int, wordIndex);
        QFETCH(int, stored);
        QFETCH(int, loaded);
        SysParam p;
        std::memcpy(reinterpret_cast<char *>(&p) + 4 * wordIndex, &stored, 4);
        applySysParamLoadRules(&p);
        QCOMPARE(word(p, wordIndex), loaded);
    }

    void machineTypeEditFollowsTheRule()
    {
        SysParam p;
        p.machineType = 5;
        p.machineTypeEdit = 2;
        applySysParamLoadRules(&p);
        QCOMPARE(p.machineType, 0);
        QCOMPARE(p.machineTypeEdit, 0);
    }

    void languageRule_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("loaded");
        QTest::newRow("3") << 3 << 3;
        QTest::newRow("4") << 4 << 0;
        QTest::newRow("-1") << -1 << 0;
    }
    void languageRule()
    {
        QFETCH(int, stored);
        QFETCH(int, loaded);
        SysParam p;
        gLanguage = stored;
        applySysParamLoadRules(&p);
        QCOMPARE(gLanguage, loaded);
        gLanguage = 0;
    }

    void algorithmOffer()
    {
        SysParam none;
        applySysParamLoadRules(&none);
        QCOMPARE(none.enableDefectDetect, 1);

        SysParam whiteNumber;
        whiteNumber.enableWhiteNumber = 1;
        applySysParamLoadRules(&whiteNumber);
        QCOMPARE(whiteNumber.enableDefectDetect, 0);
        QCOMPARE(whiteNumber.enableWhiteNumber, 1);
    }
};

QTEST_GUILESS_MAIN(TestSysParamRecord)
#include "tst_sysparamrecord.moc"
