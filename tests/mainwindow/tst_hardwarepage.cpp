// The hardware page: what a "conf.txt" shows, line by line and in which colour, and in a built
// main window the way in from the settings screen, the camera count of simulated, real and missing
// camera views, and the way back; the shipped help pages reached from the menu bar.

#include "boxtestpolicy.h"
#include "cameraregistry.h"
#include "cammerwidget.h"
#include "colorbutton.h"
#include "commandrunner.h"
#include "devewizard.h"
#include "hardwareconfigurationwidget.h"
#include "helpwidget.h"
#include "imagesize.h"
#include "simulatecamera.h"
#include "startup.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "wizardparawidget.h"

#include <QGridLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTextCodec>
#include <QtTest>

#include <sys/resource.h>

namespace {

class QuietRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override
    {
        CommandResult result;
        result.started = true;
        result.exitCode = 0;
        return result;
    }
};

QString labelAt(const QGridLayout *grid, int row, int column)
{
    QLayoutItem *item = grid->itemAtPosition(row, column);
    auto *label = item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
    return label ? label->text() : QStringLiteral("<none>");
}

// "key|value|h" for a heading (cyan), "key|value|i" for an item (yellow), as the page shows them.
QStringList shownRows(const HardwareConfigurationWidget &page)
{
    QStringList rows;
    for (int r = 0; r < page.grid->rowCount(); ++r) {
        QLayoutItem *item = page.grid->itemAtPosition(r, 0);
        auto *key = item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
        if (!key)
            continue;
        const QColor colour = key->palette().color(QPalette::WindowText);
        const QString kind = colour == QColor(Qt::cyan)     ? QStringLiteral("h")
                             : colour == QColor(Qt::yellow) ? QStringLiteral("i")
                                                            : colour.name();
        rows << QStringLiteral("%1|%2|%3").arg(key->text(), labelAt(page.grid, r, 1), kind);
    }
    return rows;
}

} // namespace

class TestHardwarePage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        fillUiTextTable();
        BoxTestPolicy::enable(1);
    }

    void confList_data()
    {
        QTest::addColumn<QByteArray>("file"); // "" = no conf.txt
        QTest::addColumn<QStringList>("rows");
        const QByteArray missing;
        QTest::newRow("no conf.txt: confirm alone") << missing << QStringList{};
        QTest::newRow("heading and item, blanks for underscores")
            << QByteArray("Cameras\nCamera_Model\tGigE_Vision\n")
            << QStringList{"Cameras|<empty>|h", "Camera Model|GigE Vision|i"};
        QTest::newRow("Count shows the cameras in use")
            << QByteArray("Count\t2\n") << QStringList{"Count|4|i"};
        QTest::newRow("Count_ is another key") << QByteArray("Count_\t2\n") << QStringList{"Count |2|i"};
        QTest::newRow("two Count lines: the last counts")
            << QByteArray("Count\t1\nCount\t2\n") << QStringList{"Count|<empty>|i", "Count|4|i"};
        QTest::newRow("fields after the second dropped") << QByteArray("a\tb\tc\n") << QStringList{"a|b|i"};
        QTest::newRow("empty second field is a heading")
            << QByteArray("Box\t\tx\n") << QStringList{"Box|<empty>|h"};
        QTest::newRow("CR LF, empty lines, no final line end")
            << QByteArray("CPU\tJ6412\r\n\r\n\nRAM\t8_GB\r\nDisk\t128_GB")
            << QStringList{"CPU|J6412|i", "RAM|8 GB|i", "Disk|128 GB|i"};
        QTest::newRow("UTF-8") << QByteArray("相机\t工业_相机\n") << QStringList{"相机|工业 相机|i"};
        // A line is cut to its first 200 characters; the rest of it up to its line end is passed over.
        QTest::newRow("201 characters: the first 200")
            << "A\t" + QByteArray(199, 'x') + "\nB\tc\n"
            << QStringList{"A|" + QString(198, 'x') + "|i", "B|c|i"};
        QTest::newRow("200 characters and CR LF: whole")
            << "A\t" + QByteArray(198, 'y') + "\r\nB\tc\r\n"
            << QStringList{"A|" + QString(198, 'y') + "|i", "B|c|i"};
        QTest::newRow("100,000 characters of three bytes, then the next line")
            << "Box\t" + QString(100000, QChar(0x76F8)).toUtf8() + "\r\nCPU\tJ6412"
            << QStringList{"Box|" + QString(196, QChar(0x76F8)) + "|i", "CPU|J6412|i"};
        QTest::newRow("an overlong line at the end, without line end")
            << "CPU\tJ6412\n" + QByteArray(5000, '_')
            << QStringList{"CPU|J6412|i", QString(200, ' ') + "|<empty>|h"};
    }

    // A line of 1.2 GB (a hole in the file, read as zero bytes) between two good lines: the page
    // shows the good ones and the line's first 200 characters, and the read holds none of the rest.
    void overlongLineCostsNoMemory()
    {
        TestWorkDir dir(TestWorkDir::Empty);
        QFile file(QStringLiteral("conf.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Camera_Model\tGigE\nLong\tABC");
        const qint64 hole = 1200LL * 1000 * 1000;
        QVERIFY(file.seek(file.pos() + hole));
        file.write("\nCount\t2\n");
        file.close();
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        QList<ConfEntry> entries;
        HardwareConfigurationWidget::readConfList(entries);
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const long grownKb = after.ru_maxrss - before.ru_maxrss;
        QVERIFY2(grownKb < 100 * 1024, qPrintable(QString::number(grownKb)));
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.at(0), ConfEntry("Camera Model", "GigE"));
        QCOMPARE(entries.at(1), ConfEntry("Long", "ABC" + QString(200 - 8, QChar(0))));
        QCOMPARE(entries.at(2), ConfEntry("Count", "2"));
    }
    void confList()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, rows);
        TestWorkDir dir(TestWorkDir::Empty);
        if (!file.isNull())
            QVERIFY(writeTestFile(QStringLiteral("conf.txt"), file));
        gCameraCount = 4;
        // No main window and so no camera view: the count is that of the cameras in use.
        HardwareConfigurationWidget page(nullptr);
        page.show();
        QStringList shown = shownRows(page);
        shown.replaceInStrings(QRegularExpression(QStringLiteral("\\|\\|")), QStringLiteral("|<empty>|"));
        QCOMPARE(shown, rows);
        // The confirm button sits below the lines, in the middle.
        const auto *list = page.findChild<QScrollArea *>();
        QVERIFY(list);
        QVERIFY(page.confirmButton->geometry().top() > list->geometry().bottom());
        QVERIFY(qAbs(page.confirmButton->geometry().center().x() - page.width() / 2) <= 1);
        QCOMPARE(page.countLabel != nullptr, rows.join(QLatin1Char(' ')).contains(QLatin1String("Count|4")));
        gCameraCount = 0;
    }

    // Whatever conf.txt holds, the page keeps its place on the 1920 x 1080 screen, its confirm button
    // stays in sight, every line can be scrolled into view and a long text is cut, not widened.
    void fitsTheScreen_data()
    {
        QTest::addColumn<QByteArray>("file");
        QByteArray twenty;
        for (int i = 1; i <= 20; ++i)
            twenty += QStringLiteral("Part_%1\tValue_%1\n").arg(i).toUtf8();
        QByteArray hundredLong;
        for (int i = 0; i < HardwareConfigurationWidget::kMaxEntries; ++i)
            hundredLong += QByteArray(200, 'K') + '\t' + QByteArray(200, 'W') + '\n';
        QTest::newRow("20 lines") << twenty;
        QTest::newRow("a 200-character value") << QByteArray("CPU\t") + QByteArray(200, 'W') + '\n';
        QTest::newRow("a 200-character key and a short value")
            << QByteArray(200, 'K') + QByteArray("\tJ6412\nRAM\t8_GB\n");
        QTest::newRow("100 lines of 200-character keys and values") << hundredLong;
    }
    void fitsTheScreen()
    {
        QFETCH(QByteArray, file);
        TestWorkDir dir(TestWorkDir::Empty);
        QVERIFY(writeTestFile(QStringLiteral("conf.txt"), file));
        const int oldW = gShowW, oldH = gShowH;
        gShowW = 1920;
        gShowH = 1080;
        QWidget screen;
        screen.setGeometry(0, 0, gShowW, gShowH);
        auto *page = new HardwareConfigurationWidget(&screen);
        screen.show();
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(&screen));
        QCOMPARE(page->geometry(), QRect(210, 140, 1500, 800));

        const QRect pageRect = page->rect();
        const QRect button(page->confirmButton->mapTo(page, QPoint(0, 0)), page->confirmButton->size());
        QVERIFY2(pageRect.contains(button),
                 qPrintable(QStringLiteral("button at %1,%2").arg(button.x()).arg(button.y())));

        QList<QLabel *> labels;
        for (int r = 0; r < page->grid->rowCount(); ++r)
            for (int c = 0; c < 2; ++c)
                if (QLayoutItem *item = page->grid->itemAtPosition(r, c))
                    if (auto *label = qobject_cast<QLabel *>(item->widget()))
                        labels << label;
        QVERIFY(labels.size() >= 2);
        // Each line, once scrolled to where the page scrolls, lies whole on the page above the button.
        auto *list = page->findChild<QScrollArea *>();
        for (QLabel *label : qAsConst(labels)) {
            if (list)
                list->ensureWidgetVisible(label, 0, 0);
            const QRect shown(label->mapTo(page, QPoint(0, 0)), label->size());
            const QString where = QStringLiteral("%1 at %2,%3 %4x%5")
                                      .arg(label->text().left(12))
                                      .arg(shown.x())
                                      .arg(shown.y())
                                      .arg(shown.width())
                                      .arg(shown.height());
            QVERIFY2(pageRect.contains(shown) && shown.bottom() < button.top(), qPrintable(where));
            // Not squeezed below what the label needs to show its text (or its cut text) readably.
            QVERIFY2(label->height() >= label->minimumSizeHint().height(), qPrintable(where));
            QVERIFY2(label->width() >= label->minimumSizeHint().width(), qPrintable(where));
            if (list) {
                const QRect inViewport(label->mapTo(list->viewport(), QPoint(0, 0)), label->size());
                QVERIFY2(list->viewport()->rect().contains(inViewport), qPrintable(where));
            }
            // A short text is never the one cut for a long neighbour.
            if (label->text().size() < 20)
                QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(where));
        }
        gShowW = oldW;
        gShowH = oldH;
    }

    // A built window: the advanced page's button opens the page above the settings, the count follows
    // the first camera view, and confirm goes back; the menu bar's help shows the shipped pages.
    void inTheMainWindow()
    {
        QuietRunner runner;
        setCommandRunner(&runner);
        SimulateCamera::setManualStepping(true);
        {
            TestWorkDir dir;
            QVERIFY(dir.copyShipped(QStringLiteral("conf.txt"), QStringLiteral("conf.txt")));
            for (const QString &name :
                 QDir(TestWorkDir::shippedDir() + QStringLiteral("/help")).entryList({"*.png"}))
                QVERIFY(dir.copyShipped(QStringLiteral("help/") + name, QStringLiteral("help/") + name));
            DeVeWizard window;
            window.show();
            QVERIFY(window.hardwareWidget && window.hardwareWidget->isHidden());
            QVERIFY(window.hardwareWidget->countLabel);
            QVERIFY(gCameraCount > 0);

            window.paraWidget->show();
            auto *hardwareButton = qobject_cast<QAbstractButton *>(
                window.paraWidget->fieldWidget(QStringLiteral("hardwareConfig")));
            QVERIFY(hardwareButton);
            QCOMPARE(hardwareButton->text(), uiText(720));
            hardwareButton->click();
            QVERIFY(window.hardwareWidget->isVisible());
            QVERIFY(window.paraWidget->isVisible());
            QCOMPARE(window.hardwareWidget->countLabel->text(), QStringLiteral("0")); // simulated cameras
            window.hardwareWidget->confirmButton->click();
            QVERIFY(window.hardwareWidget->isHidden());
            QVERIFY(window.paraWidget->isVisible());

            window.cammerWidgets[0]->cameraIid = QStringLiteral("mindCamera_IID");
            hardwareButton->click();
            QCOMPARE(window.hardwareWidget->countLabel->text(), QString::number(gCameraCount));
            window.hardwareWidget->hide();
            CammerWidget *first = window.cammerWidgets[0];
            window.cammerWidgets[0] = nullptr; // a window without camera views
            hardwareButton->click();
            QCOMPARE(window.hardwareWidget->countLabel->text(), QString::number(gCameraCount));
            window.cammerWidgets[0] = first;
            window.paraWidget->hide();

            // The shipped Chinese pages: at least the alarm page, each one drawn on the page.
            HelpWidget *help = window.helpWidget;
            QVERIFY(help && help->isHidden());
            QVERIFY2(help->pageCount >= 7, qPrintable(QString::number(help->pageCount)));
            window.SlotHelp();
            QVERIFY(help->isVisible());
            help->alarmButton->click();
            QCOMPARE(gHelpPage, HelpWidget::kAlarmPage);
            QCOMPARE(help->pages[gHelpPage]->size(), QSize(1920, 1080));
            help->returnButton->click();
            QVERIFY(help->isHidden());
        }
        SimulateCamera::setManualStepping(false);
        clearCameraBackends();
        setCommandRunner(nullptr);
    }
};

QTEST_MAIN(TestHardwarePage)
#include "tst_hardwarepage.moc"
