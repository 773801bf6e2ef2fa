// Network cards: the card files, the apply script, the receive-rate monitor and the WiFi scan.

#include "networkmanager.h"

#include "atomicfile.h"
#include "ccomp_diawait.h"
#include "clock.h"
#include "commandrunner.h"
#include "jsonfields.h"
#include "jsonfile.h"
#include "mutexlocker.h"
#include "orderedjson.h"
#include "pathmap.h"
#include "settingslog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QThreadPool>
#include <QTimer>

namespace {
const QString kWiredFile = QStringLiteral("/etc/netplan/netplan_prejson.txt");
const QString kWifiFile = QStringLiteral("/etc/netplan/wifi_prejson.txt");
const QString kReportFile = QStringLiteral("/etc/network/pyreport.txt");
const QString kNetDev = QStringLiteral("/proc/net/dev");
const QString kCardsKey = QStringLiteral("netcard_info");
// The script can take long (DHCP, WiFi association), but a hung one must not hold the screen forever.
constexpr int kScriptTimeoutMs = 300000;
constexpr int kScanTimeoutMs = 30000;
constexpr int kIfconfigTimeoutMs = 2000;
// A card file holds a few cards of some hundred bytes each.
constexpr qint64 kCardFileMaxBytes = 256 * 1024;
// Counters are read on every fifth tick of the monitor (2.5 s at the dialog's 500 ms).
constexpr int kCounterEvery = 5;

// The order of a card object's keys in the files, as the script has always had them.
const QStringList &cardKeyOrder()
{
    static const QStringList order = {"name", "dns",     "gateway",  "netmask", "address",
                                      "mac",  "isdhcp",  "describe", "status",  "iswifi",
                                      "use",  "hotname", "passwd"};
    return order;
}

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The card array of a card file, or an empty array (with a log line when the file is damaged or far
// larger than a card file ever is).
QJsonArray readCardArray(const QString &path, bool *parsed = nullptr)
{
    if (parsed)
        *parsed = false;
    const JsonFileRead read = readJsonFile(path, kCardFileMaxBytes);
    if (read.status == JsonFileRead::Missing)
        return QJsonArray();
    if (read.status != JsonFileRead::Parsed) {
        qCWarning(lcSettings).noquote() << "card file does not parse:" << path << read.error;
        return QJsonArray();
    }
    if (parsed)
        *parsed = true;
    return read.document.object().value(kCardsKey).toArray();
}

QString rateText(double bytesPerSecond)
{
    if (qint64(bytesPerSecond / 1048576.0) >= 1)
        return QString::number(bytesPerSecond / 1048576.0, 'f', 2) + QStringLiteral("mb/s");
    if (qint64(bytesPerSecond / 1024.0) >= 1)
        return QString::number(bytesPerSecond / 1024.0, 'f', 2) + QStringLiteral("kb/s");
    return QString::number(bytesPerSecond, 'f', 2) + QStringLiteral("b/s");
}

// One line of "/proc/net/dev": the name and the received-bytes column. Older kernels print the
// counter right after the colon ("%6s:%8lu"), so a large counter may follow it without a blank;
// interface names never hold blanks or colons.
const QRegularExpression &netDevLine()
{
    static const QRegularExpression re(QStringLiteral("^\\s*([^\\s:]+):\\s*(\\d+)"),
                                       QRegularExpression::MultilineOption);
    return re;
}
} // namespace

// ---------------------------------------------------------------------------------------------
// stu_netinfo

stu_netinfo stu_netinfo::fromJson(const QJsonObject &object)
{
    stu_netinfo info;
    readJsonText(object, "name", &info.name);
    readJsonText(object, "mac", &info.mac);
    readJsonText(object, "address", &info.address);
    readJsonText(object, "netmask", &info.netmask);
    readJsonText(object, "gateway", &info.gateway);
    readJsonText(object, "dns", &info.dns);
    readJsonFlag(object, "isdhcp", &info.isdhcp);
    readJsonText(object, "describe", &info.describe);
    readJsonText(object, "status", &info.status);
    readJsonFlag(object, "iswifi", &info.iswifi);
    const QJsonValue netplan = object.value(QLatin1String("describe_netplan"));
    if (netplan.isString())
        info.describe += QLatin1Char('(') + netplan.toString() + QLatin1Char(')');
    if (info.iswifi) {
        readJsonFlag(object, "use", &info.use);
        readJsonText(object, "hotname", &info.hotname);
        readJsonText(object, "passwd", &info.passwd);
    }
    return info;
}

QJsonObject stu_netinfo::toJson(const stu_netinfo &info)
{
    QJsonObject object;
    object.insert(QStringLiteral("name"), info.name);
    object.insert(QStringLiteral("dns"), info.dns);
    object.insert(QStringLiteral("gateway"), info.gateway);
    object.insert(QStringLiteral("netmask"), info.netmask);
    object.insert(QStringLiteral("address"), info.address);
    object.insert(QStringLiteral("mac"), info.mac);
    object.insert(QStringLiteral("isdhcp"), info.isdhcp);
    object.insert(QStringLiteral("describe"), info.describe);
    object.insert(QStringLiteral("status"), info.status);
    object.insert(QStringLiteral("iswifi"), info.iswifi);
    if (info.iswifi) {
        object.insert(QStringLiteral("use"), info.use);
        object.insert(QStringLiteral("hotname"), info.hotname);
        object.insert(QStringLiteral("passwd"), info.passwd);
    }
    return object;
}

// ---------------------------------------------------------------------------------------------
// NetworkManager

struct NetworkManager::IfconfigRun
{
    QMutex mutex;
    NetworkManager *owner = nullptr; // guarded by mutex; cleared by the manager's destructor
    bool running = false;            // GUI thread only
};

NetworkManager *NetworkManager::instance()
{
    static NetworkManager *manager = new NetworkManager;
    return manager;
}

NetworkManager::NetworkManager(QObject *parent)
    : QObject(parent), m_ifconfig(std::make_shared<IfconfigRun>())
{
    m_ifconfig->owner = this;
    reload(false);
}

NetworkManager::~NetworkManager()
{
    MutexLocker lock(&m_ifconfig->mutex);
    m_ifconfig->owner = nullptr;
}

bool NetworkManager::reload(bool rescan)
{
    const QString wiredPath = mapSystemPath(kWiredFile);
    if (!QFileInfo::exists(wiredPath) || rescan) {
        CComp_DiaWait wait([this] { runNetCardScript(); });
        wait.exec();
        if (!QFileInfo::exists(wiredPath)) {
            qCWarning(lcSettings).noquote() << "no wired card file after the network script:" << wiredPath;
            return false;
        }
    }
    QStringList names = kernelInterfaceNames(QString::fromUtf8(readWholeFile(mapSystemPath(kNetDev))));
    cards = QJsonArray();
    const QJsonArray wired = readCardArray(wiredPath);
    for (const QJsonValue &card : wired) {
        if (names.removeOne(card.toObject().value(QStringLiteral("name")).toString()))
            cards.append(card);
    }
    if (cards.isEmpty()) {
        // The script's own report belongs to the cards it set up; with none there is nothing to report.
        QFile::remove(mapSystemPath(kReportFile));
        return false;
    }
    const QJsonArray wifi = readCardArray(mapSystemPath(kWifiFile));
    for (const QJsonValue &card : wifi) {
        const QJsonObject object = card.toObject();
        if (names.removeOne(object.value(QStringLiteral("name")).toString()))
            cards.append(object);
    }
    return true;
}

QMap<QString, stu_netinfo> NetworkManager::cardItems() const
{
    QMap<QString, stu_netinfo> items;
    for (const QJsonValue &card : cards) {
        const stu_netinfo info = stu_netinfo::fromJson(card.toObject());
        items.insert(info.name, info);
    }
    return items;
}

void NetworkManager::runNetCardScript()
{
    const CommandResult result = runCommand(
        QStringLiteral("python3"), {QStringLiteral("./cnt_net/zariz20_upnetcard.py")}, kScriptTimeoutMs);
    if (!result.started)
        qCWarning(lcSettings) << "network script not run";
}

bool NetworkManager::writeCardFiles(const QList<stu_netinfo> &cardsToSave)
{
    QSet<QString> saved;
    QList<QJsonObject> wired;
    QList<QJsonObject> wifi;
    for (const stu_netinfo &card : cardsToSave) {
        saved.insert(card.name);
        (card.iswifi ? wifi : wired).append(stu_netinfo::toJson(card));
    }
    const QString wiredPath = mapSystemPath(kWiredFile);
    const QString wifiPath = mapSystemPath(kWifiFile);
    // Interfaces that were absent when the dialog was built have no row; the script still knows them
    // (with their networks and pass phrases), so they stay in the files as they were.
    const auto carryOver = [&saved](const QString &path, QList<QJsonObject> *into) {
        const QJsonArray old = readCardArray(path);
        for (const QJsonValue &card : old) {
            const QJsonObject object = card.toObject();
            const QString name = object.value(QStringLiteral("name")).toString();
            if (card.isObject() && !name.isEmpty() && !saved.contains(name))
                into->append(object);
        }
    };
    carryOver(wiredPath, &wired);
    carryOver(wifiPath, &wifi);

    const auto file = [](const QList<QJsonObject> &list) {
        QList<QJsonValue> values;
        for (const QJsonObject &object : list)
            values.append(object);
        return orderedJsonDocument(kCardsKey, values, cardKeyOrder());
    };
    bool ok = true;
    QString error;
    if (!writeFileAtomically(wiredPath, file(wired), {}, &error)) {
        qCWarning(lcSettings).noquote() << "wired card file not written:" << wiredPath << error;
        ok = false;
    }
    // Pass phrases: readable by root only.
    if (!writeFileAtomically(wifiPath, file(wifi), QFileDevice::ReadOwner | QFileDevice::WriteOwner,
                             &error)) {
        qCWarning(lcSettings).noquote() << "WiFi card file not written:" << wifiPath << error;
        ok = false;
    }
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Receive-rate monitor

void NetworkManager::setTrafficMonitor(bool on, int periodMs)
{
    m_ticks = 0;
    if (m_monitorTimer) {
        m_monitorTimer->stop();
        m_monitorTimer->deleteLater();
        m_monitorTimer = nullptr;
    }
    // Counters stored at an earlier opening may be minutes old: the next reading only stores.
    for (TrafficInfo &info : traffic)
        info.counted = false;
    if (!on)
        return;
    m_periodMs = periodMs > 0 ? periodMs : 500;
    m_monitorTimer = new QTimer(this);
    connect(m_monitorTimer, &QTimer::timeout, this, &NetworkManager::readTraffic);
    m_monitorTimer->start(m_periodMs);
}

void NetworkManager::readTraffic()
{
    if (!m_ifconfig->running) {
        m_ifconfig->running = true;
        std::shared_ptr<IfconfigRun> run = m_ifconfig;
        // "ifconfig" may stall (a driver in trouble): never on the thread that runs the moulding cycle.
        QThreadPool::globalInstance()->start([run] {
            const CommandResult result = runCommand(QStringLiteral("ifconfig"), {}, kIfconfigTimeoutMs);
            const QString text = QString::fromLocal8Bit(result.standardOutput);
            MutexLocker lock(&run->mutex);
            if (run->owner)
                QMetaObject::invokeMethod(
                    run->owner,
                    [run, text] {
                        run->running = false;
                        run->owner->onInterfaceList(text);
                    },
                    Qt::QueuedConnection);
        });
    }
    const int tick = m_ticks++;
    bool baselineMissing = false;
    for (const TrafficInfo &info : qAsConst(traffic))
        baselineMissing |= !info.counted;
    // A new interface gets its first counter at the next tick instead of waiting a whole window.
    if (tick % kCounterEvery != 0 && !baselineMissing)
        return;
    QFile file(mapSystemPath(kNetDev));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QString text = QString::fromUtf8(file.readAll());
    if (tick % kCounterEvery == 0)
        applyCounters(text, appMonotonicMs());
    else
        applyCountersTo(text, appMonotonicMs(), true);
}

void NetworkManager::onInterfaceList(const QString &ifconfigOutput)
{
    applyInterfaceList(ifconfigOutput);
}

void NetworkManager::applyInterfaceList(const QString &ifconfigOutput)
{
    static const QRegularExpression upBroadcast(
        QStringLiteral("^(\\S+):\\s+flags=\\S+<UP,BROADCAST,\\S+>\\s+.*"));
    const QStringList blocks = ifconfigOutput.split(QStringLiteral("\n\n"));
    for (const QString &block : blocks) {
        const QRegularExpressionMatch match = upBroadcast.match(block);
        if (!match.hasMatch())
            continue;
        TrafficInfo info = traffic.value(match.captured(1));
        if (!block.contains(QLatin1String("RUNNING")))
            info.active = false;
        traffic.insert(match.captured(1), info);
    }
}

void NetworkManager::applyCounters(const QString &netDevText, qint64 nowMs)
{
    applyCountersTo(netDevText, nowMs, false);
}

void NetworkManager::applyCountersTo(const QString &netDevText, qint64 nowMs, bool newOnly)
{
    QRegularExpressionMatchIterator it = netDevLine().globalMatch(netDevText);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        const QString name = match.captured(1);
        if (name == QLatin1String("lo") || !traffic.contains(name))
            continue;
        bool isNumber = false;
        const quint64 bytes = match.captured(2).toULongLong(&isNumber);
        if (!isNumber)
            continue;
        TrafficInfo &info = traffic[name];
        if (newOnly && info.counted)
            continue;
        const qint64 elapsedMs = nowMs - info.countedAtMs;
        // First reading since the monitor was switched on, or a counter that went back (driver
        // reload, 32-bit wrap): no measurable window, so only store.
        if (!info.counted || bytes < info.lastRxBytes || elapsedMs <= 0) {
            info.lastRxBytes = bytes;
            info.curRxBytes = bytes;
            info.counted = true;
            info.countedAtMs = nowMs;
            continue;
        }
        const double rate = double(bytes - info.lastRxBytes) * 1000.0 / double(elapsedMs);
        info.active = rate != 0.0;
        info.lastRxBytes = bytes;
        info.curRxBytes = bytes;
        info.countedAtMs = nowMs;
        info.rateText = rateText(rate);
    }
}

// ---------------------------------------------------------------------------------------------
// WiFi scan

QStringList NetworkManager::scanWifi(const QString &interfaceName)
{
    m_wifiNames.clear();
    m_scanInterface = interfaceName;
    if (interfaceName.isEmpty())
        return QStringList();
    {
        CComp_DiaWait wait([this] { scanWifiTask(); });
        wait.exec();
    }
    return m_wifiNames;
}

void NetworkManager::scanWifiTask()
{
    // The interface name goes as one argument: it comes from a file a script writes, never a shell.
    const CommandResult result =
        runCommand(QStringLiteral("iwlist"), {m_scanInterface, QStringLiteral("scan")}, kScanTimeoutMs);
    m_wifiNames = essidsFromScan(QString::fromUtf8(result.standardOutput));
}

// ---------------------------------------------------------------------------------------------
// Helpers

QStringList kernelInterfaceNames(const QString &netDevText)
{
    QStringList names;
    QRegularExpressionMatchIterator it = netDevLine().globalMatch(netDevText);
    while (it.hasNext()) {
        const QString name = it.next().captured(1);
        if (name != QLatin1String("lo"))
            names.append(name);
    }
    return names;
}

QStringList essidsFromScan(const QString &iwlistOutput)
{
    static const QRegularExpression essid(QStringLiteral("\\s+ESSID:\"(.*)\""));
    QStringList names;
    for (const QString &line : iwlistOutput.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = essid.match(line);
        if (!match.hasMatch())
            continue;
        const QString name = match.captured(1);
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}

bool isWirelessInterface(const QString &name)
{
    if (name.isEmpty())
        return false;
    const QStringList names = kernelInterfaceNames(QString::fromUtf8(readWholeFile(mapSystemPath(kNetDev))));
    // Only a name the kernel lists reaches the path: it holds no '/' and no "..".
    return names.contains(name) &&
           QFileInfo(mapSystemPath(QStringLiteral("/sys/class/net/%1/wireless").arg(name))).isDir();
}

bool isProcessRunning(const QString &name)
{
    if (name.isEmpty())
        return false;
    const QStringList ownLine = {QStringLiteral("-eo"), QStringLiteral("args=")};
    const CommandResult result = runCommand(QStringLiteral("ps"), ownLine, 30000);
    const QString self = QStringLiteral("ps ") + ownLine.join(QLatin1Char(' '));
    const QStringList lines =
        QString::fromLocal8Bit(result.standardOutput).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        if (line.trimmed() != self && line.contains(name))
            return true;
    }
    return false;
}

bool isValidHostAddress(const QString &text)
{
    QHostAddress address;
    return !text.isEmpty() && address.setAddress(text);
}
