// The status strip as the setter sees it: a lit lamp for every active input and closed output, the
// point names beside them, and a repaint whenever the outputs change.

#include "controlport.h"
#include "iolink.h"
#include "iostatuswidget.h"
#include "mutexlocker.h"
#include "paramstore.h"
#include "posix_qextserialport.h"
#include "startup.h"
#include "sysparam.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "widgethooks.h"

#include <QPainter>
#include <QtTest>

#include <memory>

namespace {
const QColor kLit(0, 200, 0);
const QColor kDark(40, 40, 160);
const QColor kStrip(60, 60, 60);

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

QColor centreOf(const QImage &image, const QRect &r)
{
    return image.pixelColor(r.center());
}

bool hasTextPixels(const QImage &image, const QRect &r)
{
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (image.pixelColor(x, y) != kStrip)
                return true;
    return false;
}
} // namespace

class TestIoStatusWidget : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestWorkDir> m_dir;
    SysParam m_param;
    std::unique_ptr<ControlPort> m_port;
    QPixmap m_lit{32, 32};
    QPixmap m_dark{32, 32};

private slots:
    void initTestCase()
    {
        if (!gIoMutex)
            createProcessMutexes();
        m_lit.fill(kLit);
        m_dark.fill(kDark);
        gPixOut1 = &m_lit;
        gPixOut0 = &m_dark;
    }

    void init()
    {
        m_dir = std::make_unique<TestWorkDir>(TestWorkDir::Empty);
        setIoPortPattern(m_dir->filePath(QStringLiteral("dev/ttyS%1")));
        m_param = SysParam();
        m_param.machineType = 1;
        gSysParam = &m_param;
        gIoInputWord = 0;
        gIoLastFlushed = 0;
        for (int i = 0; i < 8; ++i)
            gIoPointNames[i] = QStringLiteral("Point%1").arg(i);
        m_port = std::make_unique<ControlPort>();
        gControlPort = m_port.get();
    }

    void cleanup()
    {
        gControlPort = nullptr;
        m_port.reset();
        delete gIoSerialPort;
        gIoSerialPort = nullptr;
        gSysParam = nullptr;
        m_dir.reset();
        setIoPortPattern(QString());
    }

    void lampsFollowInputsAndOutputs()
    {
        m_param.inputInvert[3] = 1; // input 3 active low: raw 0 lights it
        {
            MutexLocker lock(gIoMutex);
            gIoInputWord = 0x005;
        }
        m_port->checkInput(0);
        m_port->setOutput(1, 1);
        m_port->setOutput(3, 1);
        m_port->flushOutputs();

        IOStatusWidget strip;
        strip.resize(960, 40);
        const QImage image = strip.grab().toImage();
        const QList<bool> lit = {true, false, true, true, false, true, false, true};
        for (int point = 0; point < IOStatusWidget::kPoints; ++point)
            QCOMPARE(centreOf(image, strip.lampRect(point)), lit[point] ? kLit : kDark);
    }

    void namesStandBesideTheLamps()
    {
        gIoPointNames[2].clear();
        IOStatusWidget strip;
        strip.resize(960, 40);
        const QImage image = strip.grab().toImage();
        for (int point = 0; point < IOStatusWidget::kPoints; ++point) {
            QVERIFY(!strip.nameRect(point).intersects(strip.lampRect(point)));
            QCOMPARE(hasTextPixels(image, strip.nameRect(point)), point != 2);
        }
    }

    void withoutControlPortAllLampsAreDark()
    {
        gControlPort = nullptr;
        IOStatusWidget strip;
        strip.resize(960, 40);
        const QImage image = strip.grab().toImage();
        for (int point = 0; point < IOStatusWidget::kPoints; ++point)
            QCOMPARE(centreOf(image, strip.lampRect(point)), kDark);
    }

    void repaintsWhenTheOutputsChange()
    {
        IOStatusWidget strip;
        connect(m_port.get(), &ControlPort::sigIOChange, &strip, QOverload<>::of(&QWidget::update));
        strip.resize(960, 40);
        strip.show();
        QVERIFY(QTest::qWaitForWindowExposed(&strip));
        // Only the output change may repaint here, not the strip's clock.
        strip.findChild<QTimer *>()->stop();
        PaintCounter counter;
        strip.installEventFilter(&counter);
        QTest::qWait(20);
        counter.paints = 0;
        m_port->setOutput(0, 1);
        m_port->flushOutputs();
        QTRY_VERIFY(counter.paints > 0);
        QCOMPARE(centreOf(strip.grab().toImage(), strip.lampRect(4)), kLit);
    }

    // A silent board: its last inputs and outputs are not live, so no lamp shows lit or dark; every one
    // is grey until the board reports again.
    void silentBoardGreysTheLamps()
    {
        {
            MutexLocker lock(gIoMutex);
            gIoInputWord = 0x001;
        }
        m_port->checkInput(0);
        m_port->setOutput(0, 1);
        m_port->flushOutputs();
        IOStatusWidget strip;
        strip.resize(960, 40);
        gIoBoardSilent = true;
        const QImage silent = strip.grab().toImage();
        gIoBoardSilent = false;
        const QImage live = strip.grab().toImage();
        for (int point = 0; point < IOStatusWidget::kPoints; ++point) {
            const QColor c = centreOf(silent, strip.lampRect(point));
            QVERIFY2(c.red() == c.green() && c.green() == c.blue() && c != kStrip,
                     qPrintable(QStringLiteral("point %1: %2").arg(point).arg(c.name())));
            QCOMPARE(hasTextPixels(silent, strip.nameRect(point)), true);
        }
        QCOMPARE(centreOf(live, strip.lampRect(0)), kLit);
        QCOMPARE(centreOf(live, strip.lampRect(4)), kLit);
        QCOMPARE(centreOf(live, strip.lampRect(1)), kDark);
    }

    // The strip's right end reads the main window's last cycle time through the hook, in seconds.
    void showsTheCycleTime()
    {
        fillUiTextTable();
        gLanguage = 1;
        IOStatusWidget strip;
        strip.resize(1280, 40);
        QVERIFY(IOStatusWidget::cycleText().endsWith(QStringLiteral("Cycle 0.0S")));
        widgetHooks().cycleTenths = [] { return 123; };
        QVERIFY(IOStatusWidget::cycleText().endsWith(QStringLiteral("Cycle 12.3S")));
        QVERIFY(hasTextPixels(strip.grab().toImage(), strip.cycleRect()));
        QVERIFY(!strip.cycleRect().intersects(strip.nameRect(IOStatusWidget::kPoints - 1)));
        widgetHooks().cycleTenths = nullptr;
        gLanguage = 0;
    }
};

QTEST_MAIN(TestIoStatusWidget)
#include "tst_iostatuswidget.moc"
