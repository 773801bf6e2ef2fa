// The atomic file writer: a write either replaces the file whole or leaves the old one untouched and
// says it failed. A full disk is imitated without root by a file size limit in a child process.

#include "atomicfile.h"
#include "testfiles.h"

#include <QtTest>

#include <sys/stat.h>

namespace {

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + i % 26);
    return bytes;
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

} // namespace

class TestAtomicFile : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { ::umask(022); }

    void fileSizeLimitLeavesOldFileWhole_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("newSize");
        QTest::addColumn<bool>("fits");
        QTest::newRow("one byte short") << 99999 << 100000 << false;
        QTest::newRow("one page") << 4096 << 100000 << false;
        QTest::newRow("nothing fits") << 0 << 10 << false;
        QTest::newRow("jpeg-sized, a few pages short") << 278528 << 289454 << false;
        QTest::newRow("exactly fits") << 100000 << 100000 << true;
    }

    // A write past the limit fails with EFBIG exactly as on a full disk.
    void fileSizeLimitLeavesOldFileWhole()
    {
        QFETCH(int, limit);
        QFETCH(int, newSize);
        QFETCH(bool, fits);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.json"));
        const QByteArray old = "{\"devicename\":\"A1\",\"serveraddr\":\"127.0.0.1\",\"serverport\":5000}";
        QVERIFY(writeFileAtomically(path, old));
        const QByteArray fresh = pattern(newSize);

        const int exitCode = runWithFileSizeLimit(limit, [&] {
            QString error;
            const bool ok = writeFileAtomically(path, fresh, {}, &error);
            // 3 when the writer's answer contradicts its error text.
            return ok ? (error.isEmpty() ? 0 : 3) : (error.isEmpty() ? 3 : 1);
        });
        QCOMPARE(exitCode, fits ? 0 : 1);
        QCOMPARE(readTestFile(path), fits ? fresh : old);
        // No temporary file is left beside the target.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"config.json"});
    }

    void writesAndModes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("sysadd.txt"));

        // A new file gets the default mode; an empty file is a valid content.
        QVERIFY(writeFileAtomically(path, QByteArray()));
        QCOMPARE(readTestFile(path), QByteArray());
        QCOMPARE(modeOf(path), mode_t(0644));

        // A mode given is set exactly; a later write without a mode keeps it.
        QVERIFY(writeFileAtomically(path, "secret", QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        QCOMPARE(modeOf(path), mode_t(0600));
        QVERIFY(writeFileAtomically(path, "secret 2"));
        QCOMPARE(modeOf(path), mode_t(0600));
        QCOMPARE(readTestFile(path), QByteArray("secret 2"));
        // Made as a new file: a mode that kept a reader out is not kept.
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0) == 0);
        QVERIFY(writeNewFileAtomically(path, "readable"));
        QCOMPARE(modeOf(path), mode_t(0644));

        // Through a link the linked file is replaced and the link stays a link.
        const QString link = dir.filePath(QStringLiteral("link.txt"));
        QVERIFY(QFile::link(path, link));
        QVERIFY(writeFileAtomically(link, "via link"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readTestFile(path), QByteArray("via link"));

        // A folder in the way or a missing folder: failure with a reason, nothing changed or left over.
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        QString error;
        QVERIFY(!writeFileAtomically(dir.filePath(QStringLiteral("folder")), "x", {}, &error));
        QCOMPARE(error, QStringLiteral("cannot write %1: not a plain file (a directory)")
                            .arg(dir.filePath(QStringLiteral("folder"))));
        // What stands there is named, never opened: a FIFO would stop the writer.
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0644) == 0);
        QVERIFY(!writeNewFileAtomically(fifo, "x", &error));
        QCOMPARE(error, QStringLiteral("cannot write %1: not a plain file (a FIFO)").arg(fifo));
        QVERIFY(QFile::remove(fifo));
        error.clear();
        QVERIFY(!writeFileAtomically(dir.filePath(QStringLiteral("missing/a.txt")), "x", {}, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(QFileInfo(dir.filePath(QStringLiteral("folder"))).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{"link.txt", "sysadd.txt"}));
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicfile.moc"
