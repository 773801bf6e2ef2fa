// The LED device as the driver sees it: request numbers for the backlight and the lamps, and the
// main window's screen flag.

#include "startup.h"
#include "systemhelpers.h"

#include <QtTest>

namespace {
struct LedCall
{
    int fd;
    unsigned long request;
};
QVector<LedCall> gCalls;

int recordIoctl(int fd, unsigned long request)
{
    gCalls.append({fd, request});
    return 0;
}

constexpr int kFakeLedFd = 77;
} // namespace

class TestLedBacklight : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        gCalls.clear();
        setLedIoctl(recordIoctl);
        gLedFd = kFakeLedFd;
        gLedMask = 0xFF;
        setScreenOffHook({});
    }
    void cleanup()
    {
        setLedIoctl(nullptr);
        setScreenOffHook({});
        gLedFd = -1;
    }

    void lampBitsFromTheStartMask()
    {
        setLed(6, 1);
        setLed(7, 0);
        QCOMPARE(gCalls.size(), 2);
        QCOMPARE(gCalls[0].fd, kFakeLedFd);
        QCOMPARE(gCalls[0].request, 0x5A0180FFUL);
        QCOMPARE(gCalls[1].request, 0x5A01807FUL);
        QCOMPARE(int(gLedMask), 0x7F);
    }

    void onTakesOnlyTheLowestBit()
    {
        setLed(4, 0);
        QCOMPARE(gCalls.last().request, 0x5A0180EFUL);
        setLed(4, 2); // lowest bit 0: clears
        QCOMPARE(gCalls.last().request, 0x5A0180EFUL);
        setLed(4, 3);
        QCOMPARE(gCalls.last().request, 0x5A0180FFUL);
        setLed(0, 0);
        setLed(5, 0);
        QCOMPARE(gCalls.last().request, 0x5A0180DEUL);
    }

    void bitsOutsideTheByteAreIgnored()
    {
        setLed(8, 0);
        setLed(-1, 0);
        setLed(31, 0);
        setLed(1000, 0);
        QVERIFY(gCalls.isEmpty());
        QCOMPARE(int(gLedMask), 0xFF);
    }

    void withoutTheDeviceOnlyTheMaskChanges()
    {
        gLedFd = -1;
        setLed(2, 0);
        gLedFd = 0; // a descriptor of 0 is not the LED device either
        setLed(3, 0);
        QVERIFY(gCalls.isEmpty());
        QCOMPARE(int(gLedMask), 0xF3);
    }

    void backlightRequestsAndScreenFlag()
    {
        int screenOff = -5;
        setScreenOffHook([&](int v) { screenOff = v; });
        setBacklight(0);
        QCOMPARE(gCalls.size(), 1);
        QCOMPARE(gCalls[0].request, 0x5A018A00UL);
        QCOMPARE(screenOff, 1);
        setBacklight(7);
        QCOMPARE(gCalls.size(), 2);
        QCOMPARE(gCalls[1].request, 0x5A018B00UL);
        QCOMPARE(screenOff, 0);
    }

    void backlightWithoutDeviceStillSetsTheFlag()
    {
        gLedFd = -1;
        int screenOff = 0;
        setScreenOffHook([&](int v) { screenOff = v; });
        setBacklight(0);
        QVERIFY(gCalls.isEmpty());
        QCOMPARE(screenOff, 1);
    }

    void backlightWithoutMainWindowSkipsTheFlag()
    {
        // No hook installed: the request still goes out and nothing crashes.
        setBacklight(0);
        setBacklight(1);
        QCOMPARE(gCalls.size(), 2);
        QCOMPARE(gCalls[1].request, 0x5A018B00UL);
    }
};

QTEST_GUILESS_MAIN(TestLedBacklight)
#include "tst_ledbacklight.moc"
