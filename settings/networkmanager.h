#pragma once
// The box's network cards: the card record, the two card files in "/etc/netplan" that this program
// and the root apply script "./cnt_net/zariz20_upnetcard.py" exchange, the receive-rate monitor of the
// network dialog and the WiFi scan of the card editor.
//
// Threads: everything runs on the GUI thread, except runNetCardScript() and scanWifiTask(), which the
// wait dialog (CComp_DiaWait) runs on a pool thread while the GUI thread sits in its modal loop, and
// the "ifconfig" run of the monitor, which runs on a pool thread and hands its output back to the GUI
// thread, so a slow "ifconfig" never holds up the machine cycle.

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QTimer;

// One network card as the card files hold it. A plain value, copied freely.
struct stu_netinfo
{
    bool isdhcp = false;
    bool iswifi = false;
    QString name;    // interface name as "/proc/net/dev" lists it
    QString address; // dotted IPv4
    QString netmask;
    QString gateway;
    QString mac; // as the script reports it
    QString dns;
    QString status;   // the script's state text, carried through unchanged
    QString describe; // shown on the card row
    bool use = true;  // WiFi cards only
    QString hotname;  // WiFi cards only: SSID to join
    QString passwd;   // WiFi cards only: its pass phrase

    // A key of the wrong JSON type keeps the default; "describe_netplan" is appended to the
    // description in parentheses; "use", "hotname" and "passwd" are read only for a WiFi card.
    static stu_netinfo fromJson(const QJsonObject &object);
    // Keys in the order the script's files have always had them; the WiFi keys only for WiFi cards.
    static QJsonObject toJson(const stu_netinfo &info);
};

// Receive state of one interface, for the stripe and rate text of a card row.
struct TrafficInfo
{
    bool active = false; // up, running and received data in the last measuring window
    quint64 lastRxBytes = 0;
    quint64 curRxBytes = 0;
    QString rateText = QStringLiteral("0 kb/s");
    // A counter reading has been stored since the monitor was switched on; until then a reading
    // only stores, so an old or missing counter never shows as a burst.
    bool counted = false;
    qint64 countedAtMs = 0; // monotonic time of that reading (core/clock.h)
};

class NetworkManager : public QObject
{
    Q_OBJECT
public:
    // The process-wide manager, made on first use (GUI thread; its constructor runs reload(false))
    // and never deleted.
    static NetworkManager *instance();

    // Tests make their own managers; the program uses instance(). Runs reload(false).
    explicit NetworkManager(QObject *parent = nullptr);
    ~NetworkManager() override;

    // Runs the apply script under the wait dialog when the wired file is missing or `rescan` is
    // set, then reads the card files into `cards`: only cards whose name the kernel lists, each name
    // once, wired before WiFi. False (and `cards` unchanged) when the wired file is still missing;
    // false (and "/etc/network/pyreport.txt" deleted) when no wired card was accepted.
    bool reload(bool rescan);

    // `cards` by name; a later card of a name replaces an earlier one.
    QMap<QString, stu_netinfo> cardItems() const;

    // The receive-rate monitor: on starts a timer of `periodMs` ticking readTraffic(); off stops it.
    // Every switch resets the tick counter and makes the next counter reading a first one.
    void setTrafficMonitor(bool on, int periodMs = 500);

    // One monitor tick: starts an "ifconfig" run on a pool thread (unless one is still running;
    // its output updates the up/running state when it arrives) and, on every fifth tick, reads the
    // received-bytes counters of "/proc/net/dev" into `traffic`.
    void readTraffic();

    // The networks (SSIDs) the interface sees, each once, in the order "iwlist" lists them; runs
    // scanWifiTask() under the wait dialog. Empty for an empty name or when nothing is found.
    QStringList scanWifi(const QString &interfaceName);

    // Wait-dialog tasks (pool thread). runNetCardScript runs "python3 ./cnt_net/zariz20_upnetcard.py"
    // (recorded, not run, by the desktop build) and waits for it; scanWifiTask runs "iwlist" for the
    // interface set by scanWifi and fills the list of networks.
    void runNetCardScript();
    void scanWifiTask();

    // Writes the card files from `cardsToSave` (the dialog's rows): WiFi cards to
    // "/etc/netplan/wifi_prejson.txt" (mode 0600: it holds pass phrases), the others to
    // "/etc/netplan/netplan_prejson.txt", as {"netcard_info": [...]} in indented JSON, each written
    // atomically. Cards of the old files whose name has no entry in `cardsToSave` (interfaces absent
    // when the dialog was built) are carried over behind them, so the script keeps them and their
    // pass phrases. False when a file could not be written (that file stays as it was).
    static bool writeCardFiles(const QList<stu_netinfo> &cardsToSave);

    // The parsing steps of the monitor, public so tests feed them canned text (GUI thread).
    // applyInterfaceList: "ifconfig" output; entries for UP,BROADCAST interfaces, not RUNNING -> inactive.
    void applyInterfaceList(const QString &ifconfigOutput);
    // applyCounters: "/proc/net/dev" text read at monotonic time `nowMs`.
    void applyCounters(const QString &netDevText, qint64 nowMs);

    // Card objects accepted by the last successful reload, wired first, then WiFi.
    QJsonArray cards;
    // Receive state per interface name, kept for the whole run; the dialog reads a copy.
    QMap<QString, TrafficInfo> traffic;

private:
    void onInterfaceList(const QString &ifconfigOutput);
    // newOnly: store first counters of interfaces that have none, leave the others for their window.
    void applyCountersTo(const QString &netDevText, qint64 nowMs, bool newOnly);

    QTimer *m_monitorTimer = nullptr;
    int m_ticks = 0;
    int m_periodMs = 500;
    // Shared with the pool thread running "ifconfig": it posts its output back only while the
    // manager is alive.
    struct IfconfigRun;
    std::shared_ptr<IfconfigRun> m_ifconfig;

    QString m_scanInterface; // written by scanWifi before the task starts
    QStringList m_wifiNames; // written by scanWifiTask, read after the wait dialog closed
};

// Interface names of a "/proc/net/dev" text, in its order, without "lo".
QStringList kernelInterfaceNames(const QString &netDevText);

// Networks named in "iwlist <if> scan" output ("ESSID:" lines), each once, none empty, in order.
QStringList essidsFromScan(const QString &iwlistOutput);

// True when "/proc/net/dev" lists the interface and "/sys/class/net/<name>/wireless" exists.
bool isWirelessInterface(const QString &name);

// True when a running process's command line contains `name` (runs "ps" with an argument list).
bool isProcessRunning(const QString &name);

// True for a text that parses as an IPv4 or IPv6 host address.
bool isValidHostAddress(const QString &text);
