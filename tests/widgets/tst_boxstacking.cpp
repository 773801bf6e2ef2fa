// Every box over the full-screen window, as the box runs it: an X server with no window manager
// (Xvfb at 1920 x 1080), the boxes' windows made before the full-screen one (the global boxes are),
// touches sent through the X server (XTest), so that a touch reaches only what the operator sees on
// top. Nothing answers the boxes by itself: a box that hid behind the window would never return.

#include "boxtestpolicy.h"
#include "ccomp_dialogframe.h"
#include "ccomp_diawait.h"
#include "choosebox.h"
#include "choosedialogs.h"
#include "edit.h"
#include "numberinput.h"
#include "passwordbox.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "widgethooks.h"
#include "xscreen.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

QPoint centreOf(const QWidget *w)
{
    return w->mapToGlobal(w->rect().center());
}

bool onTopAtCentre(const QWidget *window)
{
    return QTest::qWaitFor([&] { return topWindowAt(centreOf(window)) == xcb_window_t(window->winId()); },
                           3000);
}

} // namespace

class TestBoxStacking : public QObject
{
    Q_OBJECT

    // Made in the order of the program: the boxes' windows exist before the full-screen window.
    WarnBox *m_warn = nullptr;
    ChooseBox *m_choose = nullptr;
    PasswordBox *m_password = nullptr;
    PasswordDialog *m_prompt = nullptr;
    ModifyTimeWidget *m_time = nullptr;
    ChooseCaliNumWidget *m_cali = nullptr;
    CComp_DialogFrame *m_frame = nullptr;
    QDialog *m_plain = nullptr;
    QWidget *m_page = nullptr;
    QWidget *m_screen = nullptr;
    std::unique_ptr<XTouch> m_touch;
    int m_level = 0;

    // Runs `box` modally; while it waits, `whileUp` checks and touches it. A box the touches do not
    // end is closed after 8 s with -1, so that a hidden box fails the test instead of hanging it.
    int runModal(QDialog *box, const std::function<void()> &whileUp)
    {
        QTimer::singleShot(0, box, whileUp);
        QTimer::singleShot(8000, box, [box] {
            if (box->isVisible())
                box->done(-1);
        });
        return box->exec();
    }

private slots:
    void initTestCase()
    {
        fillUiTextTable();
        gLanguage = 1;
        BoxTestPolicy::disable();
        widgetHooks().setLoginLevel = [this](int level) { m_level = level; };
        m_touch = std::make_unique<XTouch>();
        if (!m_touch->usable())
            QFAIL("no XTest (libX11.so.6, libXtst.so.6) to touch the screen with");
        m_warn = new WarnBox;
        m_warn->setMessage(uiText(39));
        m_choose = new ChooseBox;
        m_choose->setMessage(uiText(291));
        m_password = new PasswordBox;
        m_prompt = new PasswordDialog;
        m_time = new ModifyTimeWidget;
        m_cali = new ChooseCaliNumWidget;
        m_frame = new CComp_DialogFrame(uiText(610));
        m_plain = new QDialog;
        m_plain->setWindowFlags(m_plain->windowFlags() | Qt::CustomizeWindowHint);
        m_plain->resize(750, 370);
        auto *ok = new QPushButton(uiText(121), m_plain);
        ok->setGeometry(265, 220, 220, 100);
        connect(ok, &QPushButton::clicked, m_plain, &QDialog::accept);
        m_page = new QWidget;
        m_page->setGeometry(0, 0, 1920, 1080);
        for (QWidget *w : std::initializer_list<QWidget *>{m_warn, m_choose, m_password, m_prompt, m_time,
                                                           m_cali, m_frame, m_plain, m_page, numberInput()})
            w->winId();
        m_screen = new QWidget;
        m_screen->setStyleSheet(QStringLiteral("background-color:rgb(40,40,40);"));
        // With no window manager the full-screen state moves nothing: the window covers the screen
        // because it is placed so, as the main window places itself.
        m_screen->setGeometry(0, 0, 1920, 1080);
        m_screen->showFullScreen();
        QVERIFY(QTest::qWaitForWindowExposed(m_screen));
        QVERIFY(onTopAtCentre(m_screen));
        QCOMPARE(topWindowAt(QPoint(1919, 1079)), xcb_window_t(m_screen->winId()));
    }
    void cleanupTestCase()
    {
        for (QWidget *w : std::initializer_list<QWidget *>{m_warn, m_choose, m_password, m_prompt, m_time,
                                                           m_cali, m_frame, m_plain, m_page, m_screen})
            delete w;
        widgetHooks() = WidgetHooks();
    }

    // Each kind of modal box, run as the callers run it: on top at its centre while it waits, and its
    // accepting (or, where nothing was typed, its other) button answers it by touch.
    void modalBoxIsOnTopAndAnswersATouch_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("expected");
        QTest::newRow("notice") << "warn" << 1;
        QTest::newRow("question") << "choose" << 1;
        QTest::newRow("question, other button") << "choose-cancel" << 0;
        QTest::newRow("login box, cancelled") << "password" << 0;
        QTest::newRow("stop password prompt, cancelled") << "prompt" << 0;
        QTest::newRow("clock box") << "time" << 1;
        QTest::newRow("calibration points box") << "cali" << 1;
        QTest::newRow("dialog frame") << "frame" << 1;
        QTest::newRow("plain dialog (version library boxes)") << "plain" << 1;
    }
    void modalBoxIsOnTopAndAnswersATouch()
    {
        QFETCH(QString, kind);
        QFETCH(int, expected);
        const QHash<QString, QDialog *> boxes{
            {"warn", m_warn},         {"choose", m_choose}, {"choose-cancel", m_choose},
            {"password", m_password}, {"prompt", m_prompt}, {"time", m_time},
            {"cali", m_cali},         {"frame", m_frame},   {"plain", m_plain}};
        QDialog *box = boxes.value(kind);
        const QHash<QString, QPushButton *> buttons{
            {"warn", m_warn->findChild<QPushButton *>()},
            {"choose", m_choose->okButton()},
            {"choose-cancel", m_choose->cancelButton()},
            {"password", m_password->findChildren<QPushButton *>().value(1)},
            {"prompt", m_prompt->findChildren<QPushButton *>().value(1)},
            {"time", m_time->okButton()},
            {"cali", m_cali->okButton()},
            {"frame", m_frame->okButton()},
            {"plain", m_plain->findChild<QPushButton *>()}};
        QPushButton *button = buttons.value(kind);
        QVERIFY(button);
        m_screen->raise(); // whatever came up last, the full-screen window covers the screen again
        box->adjustSize();
        box->move(QRect(0, 0, 1920, 1080).center() - box->rect().center());
        bool onTop = false;
        const int result = runModal(box, [&] {
            onTop = onTopAtCentre(box);
            m_touch->touch(centreOf(button));
        });
        QVERIFY2(onTop, "the box is not the window on top at its centre");
        QCOMPARE(result, expected);
    }

    // The login box's field opens the digit pad over the box; the password typed on the pad by touch
    // and its OK key log in, also when a window came up while it was typed.
    void padOverPasswordBoxStaysOnTopAndTypes()
    {
        m_level = 0;
        m_screen->raise();
        bool boxOnTop = false;
        bool padOnTop = false;
        bool padOnTopAfterAKey = false;
        bool padOnTopAfterAWindow = false;
        const int result = runModal(m_password, [&] {
            boxOnTop = onTopAtCentre(m_password);
            m_touch->touch(centreOf(m_password->passwordEdit()));
            if (!QTest::qWaitFor([] { return gNumberInput && gNumberInput->isVisible(); }, 3000))
                return;
            padOnTop = onTopAtCentre(gNumberInput);
            const QString typed = advancedPassword();
            for (int i = 0; i < typed.size(); ++i) {
                m_touch->touch(centreOf(gNumberInput->key(typed.mid(i, 1))));
                QTest::qWait(30);
                // A key press must not bring the box above the pad it types with, nor may a window
                // shown meanwhile (a page the machine cycle opens), which brings the waiting box back
                // above itself.
                if (i == 0) {
                    padOnTopAfterAKey = onTopAtCentre(gNumberInput);
                    m_page->show();
                    padOnTopAfterAWindow = onTopAtCentre(gNumberInput);
                }
            }
            m_touch->touch(centreOf(gNumberInput->key(QStringLiteral("ok"))));
        });
        m_page->hide();
        QVERIFY(boxOnTop);
        QVERIFY2(padOnTop, "the digit pad is not on top over the login box");
        QVERIFY(padOnTopAfterAKey);
        QVERIFY2(padOnTopAfterAWindow, "a window shown while typing hid the digit pad");
        QCOMPARE(result, 1);
        QCOMPARE(m_level, 2);
    }

    // A notice shown without blocking comes up on top, and again when it is shown again while up
    // after another window covered it.
    void noticeShownAgainComesBackOnTop()
    {
        m_warn->show();
        QVERIFY(onTopAtCentre(m_warn));
        m_page->show(); // a window shown over it (it is modal: the page does not stay above)
        m_screen->raise();
        QVERIFY(QTest::qWaitFor(
            [&] { return topWindowAt(centreOf(m_warn)) != xcb_window_t(m_warn->winId()); }, 3000));
        m_warn->show();
        QVERIFY(onTopAtCentre(m_warn));
        m_warn->hide();
        m_page->hide();
    }

    // A window shown while a modal question waits (an alarm page coming up) does not hide the
    // question: it stays on top and answerable.
    void modalBoxStaysAboveAWindowShownMeanwhile()
    {
        m_screen->raise();
        bool onTop = false;
        const int result = runModal(m_choose, [&] {
            m_page->show();
            onTop = onTopAtCentre(m_choose);
            m_touch->touch(centreOf(m_choose->okButton()));
        });
        m_page->hide();
        QVERIFY(onTop);
        QCOMPARE(result, 1);
    }

    // The wait dialog is on top while its task runs, and returns by itself when the task ends.
    void waitDialogIsOnTopWhileItsTaskRuns()
    {
        m_screen->raise();
        CComp_DiaWait wait([] { QThread::msleep(600); });
        bool onTop = false;
        QTimer::singleShot(200, &wait, [&] { onTop = onTopAtCentre(&wait); });
        QCOMPARE(wait.exec(), int(QDialog::Accepted));
        QVERIFY(onTop);
    }
};

int main(int argc, char **argv)
{
    XServer server;
    int exitCode = 0;
    if (!startTestXServer(server, "the box-stacking test", &exitCode))
        return exitCode;
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestBoxStacking test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_boxstacking.moc"
