#pragma once
// The report link: the one connection of the box to the local reporting process
// ("./cnt_net/pynet_monitor", 127.0.0.1:10431), which relays detections, alarms, alarm pictures,
// record lines and template lists to the monitoring server. QOR_NETMN posts those reports, keeps the
// link state every sender asks first, follows the server's clock, restarts the local helper processes,
// watches the link every second and feeds the screen stream (screenstream.h).
//
// Threads: the object lives on the GUI thread, and every function runs there, except state(), which
// any thread may call: another thread gets the value the GUI thread last worked out (at most a
// second old: the watchdog works it out every tick). The reactor is touched by the GUI thread only.

#include "roiresultrecord.h"
#include "screenstream.h"
#include "tcpmanager.h"

#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariant>

#include <atomic>
#include <functional>

class QWidget;

// What the link reads of the main window, which sits above networking. Installed at start-up on the
// GUI thread; until then "deviceState" reads "UNKNOW" and nothing is grabbed.
struct ReportLinkHooks
{
    std::function<int()> runState;         // DeVeWizard::runState
    std::function<int()> alarmState;       // DeVeWizard::alarmState
    std::function<QWidget *()> grabWidget; // gMainWindow, the widget the screen stream shows
};
ReportLinkHooks &reportLinkHooks();

class QOR_NETMN : public TcpManager
{
    Q_OBJECT
public:
    // The process-wide link, made on first use (GUI thread) and never destroyed.
    static QOR_NETMN *instance();

    // Reads the two flags from the configuration and, with the network function on, sets the clock
    // from the server (blocks at most about 1 s). Neither connects nor starts the watchdog.
    QOR_NETMN();
    ~QOR_NETMN() override;

    // -1 network function off, -2 link dead, -3 no server, 1 ready.
    int state();
    // A session exists and data came within the last 8000 ms (monotonic clock).
    bool isLinkAlive();
    void setWorkFlags(bool netFunc, bool video);
    // The key of "./cnt_net/config.json"; invalid when the file does not open, parse, or has no key.
    static QVariant readConfig(const QString &key);
    void syncServerTime();

    void sendHeartbeat();
    void sendOfferVideoMem();
    void sendAlarmStartTiming(int detect);
    void newAlarmUuid();
    void appendClearMethod(int camera, int code);
    void sendAlarmFinishTiming();
    void sendAlarmPicture(const QJsonObject &info, const QString &path);
    void sendRecordOperate(const QJsonObject &record);
    void sendSyncTempList(const QJsonObject &info);
    void sendDetectOnceInfo(bool result);
    void onHeartbeatResponse(const QString &body);

    // Screen stream and helper processes.
    void createShm(int id, int width, int height);
    void removeIpc();
    void restartVideo(bool start);
    void restartHelpers();
    void onWatchdogTimer();
    // At quit: the desktop build ends the reporting process it started (the box build leaves it).
    void endStartedHelper();

    QList<RoiResultRecord> pendingResults;
    QString alarmUuid;
    QString clearMethod;
    // 0 no alarm open, 1 started (sendAlarmStartTiming), 2 cleared: set by the machine cycle when the
    // operator clears the alarm, so that sendAlarmFinishTiming reports its end with the clearing codes.
    int alarmPhase = 0;
    QMap<QString, std::function<void(const QString &body)>> handlers;
    bool netFuncEnabled = false;
    bool videoEnabled = false;
    bool serverConnected = false;
    QTimer *watchdogTimer;
    QMap<int, ScreenStreamSegment> segments;
    QPointer<VideoThread> videoThread;

    // Live watchdog ticks of the whole process; never reset.
    static quint64 watchdogTicks;

    // Where things are, settable so tests never meet a real service or each other: the reporting
    // process's port (10431), the path handed to ftok ("/tmp"), the uuid source file.
    static quint16 reportPort;
    static QString ipcKeyPath;
    static QString uuidSourcePath;

public slots:
    void SlotRecvResponse_async(CTask_FormData response) override;
    void SlotRecvRequest(CTask_FormData request) override;

private:
    // Posts one report without waiting for its reply; nothing when there is no reactor.
    void post(const QString &path, const QJsonObject &body);
    std::atomic<int> m_state{-1};
    qint64 m_helperPid = 0; // the reporting process this box started, 0 when none
    // Stopped streaming threads still finishing their last frame; they read this object's state.
    QList<QPointer<VideoThread>> m_retiring;
};
