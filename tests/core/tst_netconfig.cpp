// cnt_net/config.json as the reporting process sees it after start-up.

#include "clock.h"
#include "startup.h"
#include "testfiles.h"
#include "testworkdir.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace {
QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
QJsonObject readObject(const QString &path)
{
    return QJsonDocument::fromJson(readAll(path)).object();
}
} // namespace

class TestNetConfig : public QObject
{
    Q_OBJECT
private slots:
    void missingFileIsCreatedWithTheTwoKeys()
    {
        TestWorkDir dir;
        QVERIFY(dir.isValid());
        gCameraCount = 0;
        writeNetConfig();
        const QJsonObject o = readObject(QStringLiteral("cnt_net/config.json"));
        QCOMPARE(o.keys(), QStringList({QStringLiteral("camcount"), QStringLiteral("version")}));
        QCOMPARE(o.value(QStringLiteral("camcount")).toInt(-1), 0);
        QVERIFY(o.value(QStringLiteral("camcount")).isDouble());
        QCOMPARE(o.value(QStringLiteral("version")).toString(), QString::fromLatin1(kVersionText));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"))
                    .match(o.value(QStringLiteral("version")).toString())
                    .hasMatch());
    }

    void otherKeysKeepTheirValuesAndTypes()
    {
        TestWorkDir dir;
        QVERIFY(writeFile(QStringLiteral("cnt_net/config.json"),
                          R"({"device_worknetfunc": true, "serverport": "8080", "devicename": "M7",
                              "nested": {"a": [1, 2]}, "ratio": 0.5, "camcount": 9, "version": "old"})"));
        gCameraCount = 3;
        writeNetConfig();
        const QJsonObject o = readObject(QStringLiteral("cnt_net/config.json"));
        QCOMPARE(o.size(), 7);
        QVERIFY(o.value(QStringLiteral("device_worknetfunc")).isBool());
        QCOMPARE(o.value(QStringLiteral("device_worknetfunc")).toBool(), true);
        QVERIFY(o.value(QStringLiteral("serverport")).isString());
        QCOMPARE(o.value(QStringLiteral("serverport")).toString(), QStringLiteral("8080"));
        QCOMPARE(o.value(QStringLiteral("devicename")).toString(), QStringLiteral("M7"));
        QCOMPARE(o.value(QStringLiteral("nested")).toObject().value(QStringLiteral("a")).toArray().size(), 2);
        QCOMPARE(o.value(QStringLiteral("ratio")).toDouble(), 0.5);
        QCOMPARE(o.value(QStringLiteral("camcount")).toInt(), 3);
        QCOMPARE(o.value(QStringLiteral("version")).toString(), QString::fromLatin1(kVersionText));
        gCameraCount = 0;
    }

    void invalidJsonGivesExactlyTheTwoKeys_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("truncated") << QByteArray(R"({"devicename": "M7", )");
        QTest::newRow("array at top") << QByteArray(R"([1, 2, 3])");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x00\xff\x10", 3);
    }
    void invalidJsonGivesExactlyTheTwoKeys()
    {
        QFETCH(QByteArray, content);
        TestWorkDir dir;
        setAppClock([] { return QDateTime(QDate(2026, 5, 6), QTime(7, 8, 9)); });
        // Damaged twice within one second: each damaged file is kept, none overwrites another.
        for (int run = 0; run < 2; ++run) {
            QVERIFY(writeFile(QStringLiteral("cnt_net/config.json"), content));
            writeNetConfig();
            const QJsonObject o = readObject(QStringLiteral("cnt_net/config.json"));
            QCOMPARE(o.keys(), QStringList({QStringLiteral("camcount"), QStringLiteral("version")}));
        }
        setAppClock({});
        // What was there is kept aside, with its time, for a person to repair; an empty file has
        // nothing to keep.
        const QStringList aside = QDir(QStringLiteral("cnt_net")).entryList({QStringLiteral("config.json.*")});
        if (content.isEmpty()) {
            QCOMPARE(aside, QStringList{});
            return;
        }
        QCOMPARE(aside, QStringList({QStringLiteral("config.json.damaged-20260506-070809"),
                                     QStringLiteral("config.json.damaged-20260506-070809_1")}));
        for (const QString &name : aside)
            QCOMPARE(readAll(QStringLiteral("cnt_net/") + name), content);
    }

    // A full disk at start-up: the report link's settings stay as they were.
    void fullDiskKeepsTheOldFile()
    {
        TestWorkDir dir;
        const QString path = QStringLiteral("cnt_net/config.json");
        const QByteArray before = R"({"devicename": "M7", "serveraddr": "127.0.0.1", "serverport": "8080"})";
        QVERIFY(writeFile(path, before));
        QCOMPARE(runWithFileSizeLimit(before.size(), [] {
                     writeNetConfig();
                     return 0;
                 }),
                 0);
        QCOMPARE(readAll(path), before);
        QCOMPARE(QDir(QStringLiteral("cnt_net")).entryList(QDir::Files | QDir::Hidden).filter("config"),
                 QStringList{"config.json"});
    }

    void readOnlyFileIsLeftUnchanged()
    {
        TestWorkDir dir;
        const QString path = QStringLiteral("cnt_net/config.json");
        const QByteArray before = R"({"devicename": "M7"})";
        QVERIFY(writeFile(path, before));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        writeNetConfig();
        QCOMPARE(readAll(path), before);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    void missingFolderWritesNothingAndDoesNotStop()
    {
        TestWorkDir dir(TestWorkDir::Empty);
        writeNetConfig();
        QVERIFY(!QFile::exists(QStringLiteral("cnt_net/config.json")));
    }
};

QTEST_GUILESS_MAIN(TestNetConfig)
#include "tst_netconfig.moc"
