// The global message box: what callers see from a modal run and what tests see under the box policy.

#include "boxtestpolicy.h"
#include "startup.h"
#include "systemhelpers.h"
#include "uitexttable.h"
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
        setScreenOffHook({});
        setLedIoctl(nullptr);
        gLedFd = -1;
        BoxTestPolicy::disable();
        BoxTestPolicy::clearShown();
        gLanguage = 0;
    }

    // The global box is built before the parameters say the language: its OK button must still read
    // in the language in use when it is shown, unless a caller gave it its own caption.
    void okButtonReadsInTheLanguageInUse_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("modal");
        QTest::addColumn<QString>("ownCaption");
        QTest::addColumn<QString>("expected");
        QTest::newRow("en exec") << 1 << true << QString() << QStringLiteral("Confirm");
        QTest::newRow("ja exec") << 3 << true << QString() << QStringLiteral("確定");
        QTest::newRow("en show") << 1 << false << QString() << QStringLiteral("Confirm");
        QTest::newRow("ja show") << 3 << false << QString() << QStringLiteral("確定");
        QTest::newRow("zh-CN show") << 0 << false << QString() << QStringLiteral("确定");
        QTest::newRow("own caption kept") << 1 << true << QStringLiteral("Restart") << QStringLiteral("Restart");
    }
    void okButtonReadsInTheLanguageInUse()
    {
        QFETCH(int, language);
        QFETCH(bool, modal);
        QFETCH(QString, ownCaption);
        QFETCH(QString, expected);
        fillUiTextTable();
        gLanguage = 0; // as at start-up, before the parameters are loaded
        WarnBox box;
        if (!ownCaption.isEmpty())
            box.setButtonText(ownCaption);
        gLanguage = language;
        BoxTestPolicy::enable();
        if (modal)
            box.exec();
        else
            box.show();
        QCOMPARE(box.buttonText(), expected);
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
        QCOMPARE(BoxTestPolicy::shownTexts(),
                 QStringList({QStringLiteral("first"), QStringLiteral("second")}));
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

    // Whoever shows a warning wants it read: a dark screen is lit, shown modally or not.
    void showingTheBoxLightsTheScreen_data()
    {
        QTest::addColumn<bool>("modal");
        QTest::newRow("exec") << true;
        QTest::newRow("show") << false;
    }
    void showingTheBoxLightsTheScreen()
    {
        QFETCH(bool, modal);
        static QVector<unsigned long> requests;
        requests.clear();
        QVector<int> screenOff;
        setScreenOffHook([&](int off) { screenOff.append(off); });
        setLedIoctl([](int, unsigned long request) {
            requests.append(request);
            return 0;
        });
        gLedFd = 9; // an open LED device, as far as the request function is concerned
        BoxTestPolicy::enable();
        WarnBox box;
        box.setMessage(QStringLiteral("Warning"));
        QVERIFY(screenOff.isEmpty()); // building the box does not touch the screen
        if (modal)
            box.exec();
        else
            box.show();
        QVERIFY(!screenOff.isEmpty());
        QCOMPARE(screenOff.last(), 0);
        QVERIFY(requests.contains(0x5A018B00ul));
    }
};

QTEST_MAIN(TestWarnBox)
#include "tst_warnbox.moc"
