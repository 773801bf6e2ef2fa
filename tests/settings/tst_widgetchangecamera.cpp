// Camera positions: the choices made on the window end up as the serial rows of a real "SN.db", a
// position chosen twice is refused with its notice and saves nothing; the Japanese window is wider.
#include "boxtestpolicy.h"
#include "cameraregistry.h"
#include "imagesize.h"
#include "paramquery.h"
#include "startup.h"
#include "testworkdir.h"
#include "uitexttable.h"
#include "warnbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgetchangecamera.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

class TestWidgetChangeCamera : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        fillUiTextTable();
        gWarnBox = new WarnBox;
    }
    void positionsSaved_data();
    void positionsSaved();
};

void TestWidgetChangeCamera::positionsSaved_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QList<int>>("choices"); // chosen item per camera view
    QTest::addColumn<QString>("notice");     // the duplicate notice, empty when saved
    QTest::addColumn<QStringList>("rows");   // serialNB0..7 afterwards
    const QString o = QStringLiteral("0");
    const QStringList untouched = {"OLD0", "OLD1", "OLD2", "OLD3", "OLD4", "OLD5", "OLD6", "OLD7"};
    QTest::newRow("swap the first two") << 1 << QList<int>{1, 0, 2} << QString()
                                        << QStringList{"SN-B", "SN-A", "SN-C", o, o, o, o, o};
    QTest::newRow("as found") << 0 << QList<int>{0, 1, 2} << QString()
                              << QStringList{"SN-A", "SN-B", "SN-C", o, o, o, o, o};
    QTest::newRow("rotate, Japanese") << 3 << QList<int>{2, 0, 1} << QString()
                                      << QStringList{"SN-B", "SN-C", "SN-A", o, o, o, o, o};
    QTest::newRow("NO.2 twice") << 1 << QList<int>{1, 1, 2} << "2 repeating, please revise!" << untouched;
    QTest::newRow("NO.3 twice, later pair") << 1 << QList<int>{0, 2, 2} << "3 repeating, please revise!"
                                            << untouched;
    QTest::newRow("one camera") << 1 << QList<int>{0} << QString()
                                << QStringList{"SN-A", o, o, o, o, o, o, o};
}

void TestWidgetChangeCamera::positionsSaved()
{
    QFETCH(int, language);
    QFETCH(QList<int>, choices);
    QFETCH(QString, notice);
    QFETCH(QStringList, rows);
    TestWorkDir dir;
    QVERIFY(dir.isValid());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("positionsSn"));
        db.setDatabaseName(QStringLiteral("SN.db"));
        QVERIFY(db.open());
        QSqlQuery sn(db);
        QVERIFY(sn.exec(QStringLiteral("update sysparam set value='OLD'||substr(name, 9)")));
        setSnQueryHook([&sn] { return &sn; });
        setCameraViewIdsHook([] { return QStringList{"SN-A", "SN-B", "SN-C"}; });
        gLanguage = language;
        gShowW = 1920;
        gShowH = 1080;
        gCameraCount = choices.size();
        BoxTestPolicy::enable(1);
        BoxTestPolicy::clearShown();

        WidgetChangeCamera window(nullptr);
        const int width = language == 3 ? 750 : 550;
        QCOMPARE(window.geometry(), QRect(960 - width / 2, 540 - 280, width, 560));
        QCOMPARE(window.positionCombos.size(), choices.size());
        QCOMPARE(window.positionCombos.first()->geometry(), QRect(language == 3 ? 375 : 360, 10, 160, 50));
        QCOMPARE(window.positionCombos.last()->itemText(choices.size() - 1), uiText(394).arg(choices.size()));
        QCOMPARE(window.okButton->geometry(), QRect(30, 490, width - 60, 50));
        window.show();
        for (int i = 0; i < choices.size(); ++i)
            window.positionCombos.at(i)->setCurrentIndex(choices.at(i));
        window.okButton->click();

        QCOMPARE(BoxTestPolicy::shownTexts(), notice.isEmpty() ? QStringList() : QStringList{notice});
        QCOMPARE(window.isVisible(), !notice.isEmpty()); // left open for the correction
        QStringList saved;
        QVERIFY(sn.exec(QStringLiteral("select value from sysparam where name like 'serialNB%' order by name")));
        while (sn.next())
            saved << sn.value(0).toString();
        QCOMPARE(saved, rows);
        setSnQueryHook({});
        setCameraViewIdsHook({});
        BoxTestPolicy::disable();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("positionsSn"));
    gLanguage = 1;
}

QTEST_MAIN(TestWidgetChangeCamera)
#include "tst_widgetchangecamera.moc"
