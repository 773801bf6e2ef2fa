// The modal boxes as callers and tests meet them: login levels from the password box, the
// stand-alone password prompt, and the question boxes and dialog frame answered through the policy.

#include "boxtestpolicy.h"
#include "ccomp_dialogframe.h"
#include "choosebox.h"
#include "choosedialogs.h"
#include "commandrunner.h"
#include "edit.h"
#include "editdatetime.h"
#include "numberinput.h"
#include "passwordbox.h"
#include "sysparam.h"
#include "textshowwidget.h"
#include "uistyle.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "widgethooks.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QtTest>

#include <cstring>

namespace {
class RecordingRunner : public CommandRunner
{
public:
    QStringList lines;
    QList<int> timeouts;
    CommandResult run(const QString &program, const QStringList &arguments, int timeoutMs) override
    {
        lines << (QStringList{program} + arguments).join(QLatin1Char(' '));
        timeouts << timeoutMs;
        return {};
    }
};
} // namespace

class TestBoxes : public QObject
{
    Q_OBJECT

    SysParam m_param;
    int m_level = -1;

    void storePassword(const QByteArray &bytes)
    {
        std::memset(m_param.password, 0, sizeof m_param.password);
        std::memcpy(m_param.password, bytes.constData(), size_t(qMin(bytes.size(), 99)));
    }

private slots:
    void initTestCase() { fillUiTextTable(); }
    void init()
    {
        gLanguage = 1;
        gSysParam = &m_param;
        m_level = -1;
        widgetHooks().setLoginLevel = [this](int level) { m_level = level; };
    }
    void cleanup()
    {
        widgetHooks() = WidgetHooks();
        gSysParam = nullptr;
        BoxTestPolicy::disable();
        BoxTestPolicy::clearShown();
        gLanguage = 0;
    }

    // Stored password, advanced password, a wrong one; each typed into the real box and confirmed
    // with its OK button. A wrong one keeps the level and the box, and says so.
    void passwordBoxSetsTheLoginLevel_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("level"); // -1: not set
        QTest::newRow("stored password") << QByteArray("4321") << "4321" << 1;
        QTest::newRow("advanced password") << QByteArray("4321") << advancedPassword() << 2;
        QTest::newRow("advanced wins over an equal stored one")
            << advancedPassword().toLatin1() << advancedPassword() << 2;
        QTest::newRow("wrong password") << QByteArray("4321") << "4322" << -1;
        QTest::newRow("nothing typed, nothing stored") << QByteArray() << "" << -1;
        QTest::newRow("prefix of the stored one") << QByteArray("4321") << "432" << -1;
        QTest::newRow("40 stored chars compare on the first 32")
            << QByteArray("1234567890123456789012345678901234567890") << "12345678901234567890123456789012" << 1;
        QTest::newRow("typed beyond 32 is cut as when stored")
            << QByteArray("12345678901234567890123456789012") << "12345678901234567890123456789012999" << 1;
        QTest::newRow("31 of 32 chars is wrong")
            << QByteArray("12345678901234567890123456789012") << "1234567890123456789012345678901" << -1;
    }
    void passwordBoxSetsTheLoginLevel()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, typed);
        QFETCH(int, level);
        storePassword(stored);
        PasswordBox box;
        BoxTestPolicy::enable();
        box.show();
        QCOMPARE(box.findChildren<Edit *>().size(), 1);
        QCOMPARE(box.passwordEdit()->echoMode(), QLineEdit::Password);
        box.passwordEdit()->setText(typed);
        QPushButton *ok = nullptr;
        for (QPushButton *b : box.findChildren<QPushButton *>())
            if (b->text() == uiText(121))
                ok = b;
        QVERIFY(ok);
        QTest::mouseClick(ok, Qt::LeftButton);
        QCOMPARE(m_level, level);
        QCOMPARE(box.isVisible(), level < 0);
        QCOMPARE(box.notice(), level < 0 ? uiText(357) : QString());
        QCOMPARE(box.passwordEdit()->text(), QString());
        QCOMPARE(BoxTestPolicy::shownTexts().contains(uiText(357)), level < 0);
    }

    // Under the policy the box is answered with the scripted password; the dialog only reports.
    void passwordPromptsUnderThePolicy()
    {
        storePassword("777");
        PasswordBox box;
        PasswordDialog dialog;
        BoxTestPolicy::enable();
        BoxTestPolicy::setTypedPassword(QStringLiteral("778"));
        QCOMPARE(box.exec(), 0);
        QCOMPARE(m_level, -1);
        QCOMPARE(dialog.exec(), 1);
        QVERIFY(!dialog.passwordRight());
        BoxTestPolicy::setTypedPassword(QStringLiteral("777"));
        QCOMPARE(box.exec(), 1);
        QCOMPARE(m_level, 1);
        QCOMPARE(dialog.exec(), 1);
        QVERIFY(dialog.passwordRight());
        BoxTestPolicy::queueAnswer(0); // cancelled with the right password typed
        QCOMPARE(dialog.exec(), 0);
        QVERIFY(!dialog.passwordRight());
        QCOMPARE(BoxTestPolicy::shownTexts(),
                 QStringList({uiText(125), uiText(357), uiText(125), uiText(125), uiText(125), uiText(125)}));
    }

    // Callers that ask twice get their answers in order; each box records what it showed.
    void boxesAnswerFromTheQueue()
    {
        ChooseBox choose;
        WarnBox warn;
        CComp_DialogFrame frame(QStringLiteral("Network"));
        BoxTestPolicy::enable(0);
        BoxTestPolicy::queueAnswers({1, 0, 1});
        choose.setMessage(uiText(291));
        QCOMPARE(choose.exec(), 1);
        choose.setMessage(uiText(293));
        QCOMPARE(choose.exec(), 0);
        warn.setMessage(uiText(279));
        QCOMPARE(warn.exec(), 1);
        QCOMPARE(frame.exec(), 0); // queue empty: the default answer
        QCOMPARE(BoxTestPolicy::shownTexts(),
                 QStringList({uiText(291), uiText(293), uiText(279), QStringLiteral("Network")}));
        QCOMPARE(choose.okButton()->text(), QStringLiteral("Confirm"));
        QCOMPARE(choose.cancelButton()->text(), QStringLiteral("Cancel"));
        QVERIFY(!choose.isVisible() && !warn.isVisible() && !frame.isVisible());
    }

    // Without the policy: the frame's OK button and acceptDialog end a real run with 1, and a
    // widget put into the title row stands before the OK button.
    void dialogFrameAcceptsWithOne()
    {
        CComp_DialogFrame frame(QStringLiteral("Network"));
        auto *extra = new QPushButton(QStringLiteral("Scan"));
        frame.insertWidget(extra);
        QVERIFY(extra->x() < frame.okButton()->x() || !frame.isVisible());
        QTimer::singleShot(50, &frame, [&] { QTest::mouseClick(frame.okButton(), Qt::LeftButton); });
        QTimer::singleShot(5000, &frame, [&] { frame.done(-7); });
        QCOMPARE(frame.exec(), 1);
        frame.show();
        QVERIFY(extra->geometry().right() < frame.okButton()->geometry().left());
        QCOMPARE(extra->parentWidget(), frame.okButton()->parentWidget());
        QCOMPARE(frame.okButton()->height(), 50);
        QVERIFY(frame.okButton()->width() >= 100);
    }

    // The clock box: the editor starts at the program's time, setting the clock runs date and
    // hwclock through the command runner, each waited for up to 3 s.
    void clockBoxSetsTheSystemTime()
    {
        RecordingRunner runner;
        setCommandRunner(&runner);
        ModifyTimeWidget box;
        box.editor()->setDateTime(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7)));
        BoxTestPolicy::enable();
        QCOMPARE(box.exec(), 1);
        box.editor()->setSystemTime();
        setCommandRunner(nullptr);
        QCOMPARE(runner.lines,
                 QStringList({QStringLiteral("date -s 2026-03-04 05:06:07"), QStringLiteral("hwclock --systohc")}));
        QCOMPARE(runner.timeouts, QList<int>({3000, 3000}));
        QCOMPARE(BoxTestPolicy::shownTexts(), QStringList{QStringLiteral("2026-03-04 05:06:07")});

        ChooseCaliNumWidget cali;
        QCOMPARE(cali.exec(), 1);
        QCOMPARE(cali.message(), uiText(459));
        cali.setPointCount(12);
        QCOMPARE(cali.pointCount(), 8);
        cali.setPointCount(4);
        QCOMPARE(cali.pointCount(), 4);
    }

    // The ping pane: its close button reports first, then hides the pane.
    void textPanelClosesOnItsButton()
    {
        TextShowWidget pane;
        pane.show();
        bool visibleAtSignal = false;
        connect(&pane, &TextShowWidget::sigHideWidget, this, [&] { visibleAtSignal = pane.isVisible(); });
        QTest::mouseClick(pane.closeButton(), Qt::LeftButton);
        QVERIFY(visibleAtSignal);
        QVERIFY(!pane.isVisible());
        QCOMPARE(pane.closeButton()->geometry(), QRect(500, 0, 60, 60));
    }

    // The box's font name reaches the installed font where Debian names it differently.
    void interfaceFontIsTheInstalledMicroHei()
    {
        if (!QFontDatabase().families().contains(QStringLiteral("WenQuanYi Micro Hei")))
            QSKIP("fonts-wqy-microhei is not installed");
        QCOMPARE(QFontInfo(uiFont(26)).family(), QStringLiteral("WenQuanYi Micro Hei"));
    }
};

QTEST_MAIN(TestBoxes)
#include "tst_boxes.moc"
