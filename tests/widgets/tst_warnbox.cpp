// The global message box: what callers see from a modal run and what tests see under the box policy.

#include "boxtestpolicy.h"
#include "warnbox.h"

#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TestWarnBox : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        BoxTestPolicy::disable();
        BoxTestPolicy::clearShown();
    }

    void policyReturnsAtOnceAndRecordsTexts()
    {
        WarnBox box;
        BoxTestPolicy::enable();
        box.setMessage(QStringLiteral("first"));
        QElapsedTimer t;
        t.start();
        QCOMPARE(box.exec(), 1);
        box.setMessage(QStringLiteral("second"));
        QCOMPARE(box.exec(), 1);
        QVERIFY(t.elapsed() < 1000);
        QCOMPARE(BoxTestPolicy::shownTexts(), QStringList({QStringLiteral("first"), QStringLiteral("second")}));
        QVERIFY(!box.isVisible());
    }

    void nonBlockingShowIsRecordedToo()
    {
        WarnBox box;
        BoxTestPolicy::enable();
        box.setMessage(QStringLiteral("initialising"));
        box.show();
        QVERIFY(box.isVisible());
        box.hide();
        QCOMPARE(BoxTestPolicy::shownTexts(), QStringList({QStringLiteral("initialising")}));
    }

    void nothingIsRecordedWithoutThePolicy()
    {
        WarnBox box;
        box.setMessage(QStringLiteral("x"));
        box.show();
        box.hide();
        QVERIFY(BoxTestPolicy::shownTexts().isEmpty());
    }

    // A real modal run ends when the one button is pressed and reports 1, as callers expect.
    void pressingOkEndsTheModalRunWithOne()
    {
        WarnBox box;
        box.setMessage(QStringLiteral("Warning"));
        box.setButtonText(QStringLiteral("Confirm"));
        const QList<QPushButton *> buttons = box.findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons.first()->text(), QStringLiteral("Confirm"));
        bool wasVisible = false;
        QTimer::singleShot(50, &box, [&] {
            wasVisible = box.isVisible();
            QTest::mouseClick(buttons.first(), Qt::LeftButton);
        });
        // A broken button would leave the run waiting; the timer below ends it with a failure value.
        QTimer::singleShot(5000, &box, [&] { box.done(-7); });
        QCOMPARE(box.exec(), 1);
        QVERIFY(wasVisible);
        QCOMPARE(box.message(), QStringLiteral("Warning"));
    }
};

QTEST_MAIN(TestWarnBox)
#include "tst_warnbox.moc"
