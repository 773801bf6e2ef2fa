// Screenshots of the network settings dialog (with a ping pane open) and of the card editor for a
// wired and a WiFi card (and with each of its lists opened in turn), on made-up card files in a
// temporary root. No command reaches the machine: a runner answers the WiFi scan and records the rest.
// Usage: networkshots <shipped-dir> <output-dir> <language 0..3> (run on a 1920 x 1080 X screen).

#include "commandrunner.h"
#include "imagesize.h"
#include "networkcardsetdia.h"
#include "networkmanager.h"
#include "networksettingdialog.h"
#include "pathmap.h"
#include "pingtest.h"
#include "edit.h"
#include "shotcommon.h"
#include "startup.h"
#include "textshowwidget.h"
#include "uitexttable.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

namespace {

class ShotRunner : public CommandRunner
{
public:
    CommandResult run(const QString &program, const QStringList &, int) override
    {
        CommandResult r;
        r.started = true;
        r.exitCode = 0;
        if (program == QLatin1String("iwlist"))
            r.standardOutput = "          ESSID:\"Workshop-2.4G\"\n          ESSID:\"Office\"\n";
        return r;
    }
};

// A ping that answers from loopback without running anything.
class ShotPing : public LongProcess
{
public:
    bool start(const QString &, const QStringList &arguments, int) override
    {
        for (int i = 1; i <= 4; ++i)
            m_out += QStringLiteral("64 bytes from %1: icmp_seq=%2 ttl=64 time=0.04%2 ms\n")
                         .arg(arguments.value(0))
                         .arg(i)
                         .toUtf8();
        return true;
    }
    QByteArray readAvailable() override { return std::exchange(m_out, QByteArray()); }
    void close() override {}

private:
    QByteArray m_out;
};

void writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

QJsonObject card(const char *name, bool wifi, const char *address, const char *describe, bool use = true)
{
    stu_netinfo c;
    c.name = QString::fromLatin1(name);
    c.iswifi = wifi;
    c.address = QString::fromLatin1(address);
    c.netmask = QStringLiteral("255.255.255.0");
    c.gateway = QStringLiteral("192.168.10.1");
    c.dns = QStringLiteral("192.168.10.1");
    c.mac = QStringLiteral("00:1b:21:3a:4f:") + c.name.right(1) + QStringLiteral("c");
    c.describe = QString::fromUtf8(describe);
    c.use = use;
    if (wifi)
        c.hotname = QStringLiteral("Press-Line-7");
    return stu_netinfo::toJson(c);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QString shipped;
    QString out;
    if (!startPageShots(argc, argv, "networkshots", &shipped, &out))
        return 2;

    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QDir().mkpath(QStringLiteral("cnt_net"));
    loadShippedImages(shipped);
    setSystemPathRoot(work.filePath(QStringLiteral("root")));
    ShotRunner runner;
    setCommandRunner(&runner);
    setLongProcessFactory([] { return std::make_unique<ShotPing>(); });

    writeFile(mapSystemPath(QStringLiteral("/proc/net/dev")),
              "Inter-|   Receive\n face |bytes    packets\n    lo: 100 1 0 0 0 0 0 0 100\n"
              "  eth0: 123456 100 0 0 0 0 0 0 5000\n  eth1: 0 0 0 0 0 0 0 0 0\n"
              " wlan0: 2048 20 0 0 0 0 0 0 300\n");
    QDir().mkpath(mapSystemPath(QStringLiteral("/sys/class/net/wlan0/wireless")));
    auto file = [](const QJsonArray &cards) {
        return QJsonDocument(QJsonObject{{QStringLiteral("netcard_info"), cards}}).toJson();
    };
    writeFile(mapSystemPath(QStringLiteral("/etc/netplan/netplan_prejson.txt")),
              file({card("eth0", false, "192.168.10.20", "LAN1(enp1s0)"),
                    card("eth1", false, "10.0.0.8", "LAN2(enp2s0)")}));
    writeFile(mapSystemPath(QStringLiteral("/etc/netplan/wifi_prejson.txt")),
              file({card("wlan0", true, "192.168.20.31", "WLAN(wlp3s0)", false)}));
    writeFile(QStringLiteral("cnt_net/config.json"),
              R"({"devicename":"Press-07","serveraddr":"127.0.0.1","serverport":"10432",)"
              R"("device_worknetfunc":false,"device_workvideo":false})");

    useFullHdScreen();
    const QString suffix = QStringLiteral("_lang%1.png").arg(gLanguage);
    bool ok = true;
    {
        NetworkSettingDialog dialog;
        NetworkManager::instance()->traffic[QStringLiteral("eth0")].active = true;
        NetworkManager::instance()->traffic[QStringLiteral("eth0")].rateText = QStringLiteral("12.50kb/s");
        NetworkManager::instance()->traffic[QStringLiteral("eth1")].rateText = QStringLiteral("0.00b/s");
        dialog.show();
        dialog.slotTimeout_ChKState();
        dialog.slotTimeout_PPYState();
        ok &= grab(out + QStringLiteral("/network_dialog") + suffix);
        dialog.pingButton->click();
        QThread::msleep(150);
        ok &= grab(out + QStringLiteral("/network_dialog_ping") + suffix);
        dialog.pingAddrEdit->setText(QStringLiteral("-f 10.0.0.1"));
        dialog.pingButton->click();
        ok &= grab(out + QStringLiteral("/network_dialog_ping_refused") + suffix);
    }
    const QMap<QString, stu_netinfo> cards = NetworkManager::instance()->cardItems();
    for (const char *name : {"eth0", "wlan0"}) {
        Network_CardItem_SetDia editor(cards.value(QString::fromLatin1(name)));
        editor.move((gShowW - editor.width()) / 2, (gShowH - editor.height()) / 2);
        editor.show();
        ok &= grab(out + QStringLiteral("/network_editor_%1").arg(QString::fromLatin1(name)) + suffix);
        ok &= grabPopups(&editor, out + QStringLiteral("/network_editor_%1").arg(QString::fromLatin1(name)),
                         suffix);
    }
    setCommandRunner(nullptr);
    return ok ? 0 : 1;
}
