// Where the camera views go on the two screens the box is sold with, and how the enlarged view zooms.

#include "boxtestpolicy.h"
#include "cameralayout.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "iostatuswidget.h"
#include "testworkdir.h"
#include "uitexttable.h"

#include <QAbstractButton>
#include <QTimer>
#include <QtTest>

using Rects = QVector<QRect>;
Q_DECLARE_METATYPE(Rects)

namespace {
class NullRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override { return {}; }
};
} // namespace

class TestCameraLayout : public QObject
{
    Q_OBJECT
    NullRunner runner;

private slots:
    void layout_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<Rects>("cells"); // views in order; views beyond the list are not shown
        QTest::addColumn<int>("buttons");
        const QSize small(1024, 768);
        const QSize large(1920, 1080);
        QTest::newRow("1 camera") << 1 << 1 << small << Rects{{0, 0, 1024, 768}} << 1;
        QTest::newRow("2 tiled") << 2 << 2 << small << Rects{{0, 0, 512, 768}, {512, 0, 512, 768}} << 0;
        QTest::newRow("3 tiled") << 3 << 3 << small
                                 << Rects{{0, 0, 512, 384}, {512, 0, 512, 384}, {0, 384, 512, 384}} << 0;
        QTest::newRow("4 tiled, large") << 4 << 4 << large
                                        << Rects{{0, 0, 960, 540}, {960, 0, 960, 540}, {0, 540, 960, 540},
                                                 {960, 540, 960, 540}}
                                        << 0;
        // 1024 / 3 + 1 = 342: the third column ends at x 1025, past the screen.
        QTest::newRow("5 tiled") << 5 << 5 << small
                                 << Rects{{0, 0, 342, 384}, {342, 0, 342, 384}, {684, 0, 342, 384},
                                          {0, 384, 342, 384}, {342, 384, 342, 384}}
                                 << 0;
        QTest::newRow("6 tiled, large") << 6 << 6 << large
                                        << Rects{{0, 0, 641, 540}, {641, 0, 641, 540}, {1282, 0, 641, 540},
                                                 {0, 540, 641, 540}, {641, 540, 641, 540}, {1282, 540, 641, 540}}
                                        << 0;
        QTest::newRow("7 tiled") << 7 << 7 << small
                                 << Rects{{0, 0, 256, 384}, {256, 0, 256, 384}, {512, 0, 256, 384},
                                          {768, 0, 256, 384}, {0, 384, 256, 384}, {256, 384, 256, 384},
                                          {512, 384, 256, 384}}
                                 << 0;
        QTest::newRow("8 tiled, large") << 8 << 8 << large
                                        << Rects{{0, 0, 480, 540}, {480, 0, 480, 540}, {960, 0, 480, 540},
                                                 {1440, 0, 480, 540}, {0, 540, 480, 540}, {480, 540, 480, 540},
                                                 {960, 540, 480, 540}, {1440, 540, 480, 540}}
                                        << 0;
        QTest::newRow("third of 4 alone") << 4 << 2 << large << Rects{{}, {}, {0, 0, 1920, 1080}} << 1;
        QTest::newRow("out of range tiles") << 2 << 9 << small << Rects{{0, 0, 512, 768}, {512, 0, 512, 768}} << 0;
        QTest::newRow("no camera") << 0 << 0 << small << Rects{} << 0;
    }
    void layout()
    {
        QFETCH(int, count);
        QFETCH(int, shown);
        QFETCH(QSize, screen);
        QFETCH(Rects, cells);
        QFETCH(int, buttons);
        const CameraLayout l = cameraLayout(count, shown, screen.width(), screen.height());
        for (int i = 0; i < 8; ++i)
            QCOMPARE(l.cells[i], cells.value(i));
        QCOMPARE(l.zoomButtonMode, buttons);
    }

    // Zoom of the enlarged view: the buttons open on the first press, the anchor stays in place, the
    // scale stops at 32 and snaps back to the whole picture below 1.1.
    void zoom()
    {
        fillUiTextTable();
        BoxTestPolicy::enable(1);
        setCommandRunner(&runner);
        TestWorkDir dir;
        DeVeWizard window;
        // The 800 x 600 test screen is too short for the column: it moves up above the status strip.
        QCOMPARE(window.moveRightButton->y() - window.enlargeButton->y(), 450);
        QVERIFY(window.moveRightButton->geometry().bottom() < window.ioStatusWidget->y());
        window.MShowHide(1);
        QVERIFY(!window.enlargeButton->isHidden() && window.moveUpButton->isHidden());
        window.zoomAnchorX = 100;
        window.zoomAnchorY = 50;
        window.MEnlargeScale(); // opens the seven buttons only
        QCOMPARE(window.zoomButtonMode, 2);
        QVERIFY(!window.moveRightButton->isHidden());
        QCOMPARE(window.zoomScale, 1.0);
        QVERIFY(window.zoomTimer->isActive() && window.zoomTimer->interval() == 30000);
        window.MEnlargeScale();
        QCOMPARE(window.zoomScale, 1.2);
        QVERIFY(qAbs(window.zoomOffsetX - -20.0) < 1e-4 && qAbs(window.zoomOffsetY - -10.0) < 1e-4);
        window.SlotMoveR();
        QVERIFY(qAbs(window.zoomOffsetX - -18.8) < 1e-4);
        window.zoomScale = 30.0;
        window.MEnlargeScale();
        QCOMPARE(window.zoomScale, 32.0);
        window.zoomScale = 1.3;
        window.MReductionScale();
        QCOMPARE(window.zoomScale, 1.0);
        QCOMPARE(window.zoomOffsetX, 0.0);
        window.SlotMoveB(); // nothing to move at 1.0
        QCOMPARE(window.zoomOffsetY, 0.0);
        window.MTimerScale();
        QCOMPARE(window.zoomButtonMode, 1);
        QVERIFY(window.moveUpButton->isHidden() && !window.enlargeButton->isHidden());
        setCommandRunner(nullptr);
    }
};

QTEST_MAIN(TestCameraLayout)
#include "tst_cameralayout.moc"
