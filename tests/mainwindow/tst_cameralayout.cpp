// Where the camera views go on the two screens the box is sold with, and how the enlarged view zooms.

#include "boxtestpolicy.h"
#include "cameralayout.h"
#include "cameraviewhooks.h"
#include "cammerwidget.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "iostatuswidget.h"
#include "startup.h"
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

    // The counters line and the template-time line of every view read above the status strip, which
    // covers the bottom 40 px of the screen, in every tiled layout of 1 to 8 cameras on both screens:
    // inside the view's own cell, the template time under the counters, both at the foot of what shows
    // of the cell.
    void statusLinesAboveStrip_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QSize>("screen");
        for (const QSize &screen : {QSize(1920, 1080), QSize(1024, 768)}) {
            for (int n = 1; n <= 8; ++n)
                QTest::addRow("%d on %dx%d", n, screen.width(), screen.height()) << n << screen;
        }
    }
    void statusLinesAboveStrip()
    {
        QFETCH(int, count);
        QFETCH(QSize, screen);
        const int stripTop = screen.height() - 40;
        const CameraLayout layout = cameraLayout(count, count, screen.width(), screen.height());
        for (int i = 0; i < count; ++i) {
            const QRect cell = layout.cells[i];
            // The screen ratio the layout hands a view; one camera keeps the full screen's.
            const float ratio = count == 1 ? 1.0f : float(cell.height()) / float(screen.height());
            const int line = CammerWidget::statusLineHeight(ratio);
            const CammerWidget::StatusLines lines = CammerWidget::statusLineRects(cell, line, stripTop);
            const QRect counters = lines.counters.translated(cell.topLeft());
            const QRect templateTime = lines.templateTime.translated(cell.topLeft());
            const QString where = QStringLiteral("view %1: counters %2..%3, template time %4..%5")
                                      .arg(i)
                                      .arg(counters.top())
                                      .arg(counters.bottom())
                                      .arg(templateTime.top())
                                      .arg(templateTime.bottom());
            QVERIFY2(counters.bottom() < stripTop && templateTime.bottom() < stripTop, qPrintable(where));
            QVERIFY2(counters.top() >= cell.top() && templateTime.top() > counters.bottom(),
                     qPrintable(where));
            QVERIFY2(counters.height() == line && templateTime.height() == line, qPrintable(where));
            QVERIFY2(std::min(cell.bottom(), stripTop - 1) - templateTime.bottom() <= 8, qPrintable(where));
            QCOMPARE(counters.left(), cell.left() + 8);
        }
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
        // The views draw their lower lines above the window's own strip.
        QVERIFY(gCameraCount > 0);
        for (int i = 0; i < gCameraCount; ++i) {
            const CammerWidget *view = window.cammerWidgets[i];
            const CammerWidget::StatusLines lines = view->statusLines();
            QVERIFY(view->mapTo(&window, lines.templateTime.bottomLeft()).y() < window.ioStatusWidget->y());
            QVERIFY(lines.counters.bottom() < lines.templateTime.top());
        }
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
