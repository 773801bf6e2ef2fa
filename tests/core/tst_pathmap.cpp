// The machine's own folders: each maps into a test root, the program folder follows the working
// directory, and nothing else is redirected.

#include "pathmap.h"

#include <QScopeGuard>
#include <QtTest>

class TestPathMap : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { setSystemPathRoot(QString()); }

    void mapping_data()
    {
        // "<root>", "<cwd>" and "<parent>" stand for the test root, the working directory and its parent.
        QTest::addColumn<bool>("rooted");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const struct { const char *name; bool rooted; const char *path, *expected; } rows[] = {
            {"usb disk", true, "/mnt", "<root>/mnt"},
            {"usb file", true, "/mnt/usb/rec.csv", "<root>/mnt/usb/rec.csv"},
            {"trailing slash", true, "/mnt/", "<root>/mnt"},
            {"doubled slashes", true, "//mnt//a", "<root>/mnt/a"},
            {"program parent", true, "/root", "<root>/root"},
            {"program folder", true, "/root/bin-DOD/cnt_net/config.json",
             "<root>/root/bin-DOD/cnt_net/config.json"},
            {"netplan", true, "/etc/netplan/01-netcfg.yaml", "<root>/etc/netplan/01-netcfg.yaml"},
            {"ifupdown", true, "/etc/network/interfaces", "<root>/etc/network/interfaces"},
            {"counters", true, "/proc/net/dev", "<root>/proc/net/dev"},
            {"interfaces", true, "/sys/class/net/eth0/address", "<root>/sys/class/net/eth0/address"},
            {"escape by dots stays out", true, "/mnt/../etc/passwd", "/etc/passwd"},
            {"similar name", true, "/mntx/a", "/mntx/a"},
            {"similar folder", true, "/etc/networks", "/etc/networks"},
            {"other proc file", true, "/proc/net/route", "/proc/net/route"},
            {"relative", true, "images/OUT1.png", "images/OUT1.png"},
            {"default program folder", false, "/root/bin-DOD/sysadd.txt", "<cwd>/sysadd.txt"},
            {"default program folder itself", false, "/root/bin-DOD", "<cwd>"},
            {"default parent", false, "/root/update.sh", "<parent>/update.sh"},
            {"default usb", false, "/mnt/usb", "/mnt/usb"},
            {"default counters", false, "/proc/net/dev", "/proc/net/dev"},
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.rooted << QString::fromLatin1(r.path)
                                  << QString::fromLatin1(r.expected);
    }

    void mapping()
    {
        QFETCH(bool, rooted);
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QTemporaryDir root;
        QTemporaryDir work;
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(work.path()));
        auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
        QDir parent(QDir::currentPath());
        parent.cdUp();
        expected.replace(QStringLiteral("<root>"), QFileInfo(root.path()).absoluteFilePath())
            .replace(QStringLiteral("<cwd>"), QDir::currentPath())
            .replace(QStringLiteral("<parent>"), parent.absolutePath());
        if (rooted)
            setSystemPathRoot(root.path());
        QCOMPARE(mapSystemPath(path), expected);
    }
};

QTEST_GUILESS_MAIN(TestPathMap)
#include "tst_pathmap.moc"
