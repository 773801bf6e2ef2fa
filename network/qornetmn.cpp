// The report link's reports, state, configuration and server time. The helper processes, the
// watchdog and the screen segments are in qornetmnhelpers.cpp.

#include "qornetmn.h"
#include "clock.h"
#include "commandrunner.h"
#include "jsonfile.h"
#include "networklog.h"
#include "startup.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThread>
#include <QUrl>

namespace {
const QString kHeartbeat = QStringLiteral("/inline/bymain/heartbeat");
constexpr qint64 kLinkSilenceMs = 8000;
constexpr int kTimeQueryMs = 1000;
// The reporting process answers with a few short keys (the heartbeat reply is
// {"result":{"cntserver":...}}); anything near this size is not one of its replies.
constexpr qint64 kReplyBodyBound = 64 * 1024;

QString deviceStateText()
{
    const ReportLinkHooks &h = reportLinkHooks();
    switch (h.alarmState ? h.alarmState() : 0) {
    case 2:
        return QStringLiteral("检测完毕NG");
    case 3:
        return QStringLiteral("设置区域中");
    case 1:
        return QStringLiteral("检测完毕OK");
    default:
        break;
    }
    switch (h.runState ? h.runState() : 0) {
    case 2:
        return QStringLiteral("模板训练中");
    case 1:
        return QStringLiteral("运行中");
    case 3:
        return QStringLiteral("停止检测");
    default:
        return QStringLiteral("UNKNOW");
    }
}

QString clearMethodText(int code)
{
    switch (code) {
    case 4:
        return QStringLiteral("不检测此模解除");
    case 5:
        return QStringLiteral("添加为模板解除");
    case 6:
        return QStringLiteral("重新检测切换到模腔检测");
    case 7:
        return QStringLiteral("进行重检检测");
    case 8:
        return QStringLiteral("重检检测OK");
    default:
        return QStringLiteral("unknow");
    }
}
} // namespace

quint64 QOR_NETMN::watchdogTicks = 0;
quint16 QOR_NETMN::reportPort = 10431;
QString QOR_NETMN::ipcKeyPath = QStringLiteral("/tmp");
QString QOR_NETMN::uuidSourcePath = QStringLiteral("/proc/sys/kernel/random/uuid");

ReportLinkHooks &reportLinkHooks()
{
    static ReportLinkHooks hooks;
    return hooks;
}

QOR_NETMN *QOR_NETMN::instance()
{
    static QOR_NETMN *link = new QOR_NETMN;
    return link;
}

QOR_NETMN::QOR_NETMN() : TcpManager(1), watchdogTimer(new QTimer(this))
{
    connect(watchdogTimer, &QTimer::timeout, this, &QOR_NETMN::onWatchdogTimer, Qt::DirectConnection);
    bodyBound = kReplyBodyBound;
    handlers.insert(kHeartbeat, [this](const QString &body) { onHeartbeatResponse(body); });
    const QVariant netFunc = readConfig(QStringLiteral("device_worknetfunc"));
    const QVariant video = readConfig(QStringLiteral("device_workvideo"));
    netFuncEnabled = netFunc.userType() == QMetaType::Bool && netFunc.toBool();
    videoEnabled = video.userType() == QMetaType::Bool && video.toBool();
    state();
    if (netFuncEnabled)
        syncServerTime();
}

QOR_NETMN::~QOR_NETMN()
{
    // The streaming threads read this object's state: they must be gone first.
    m_retiring << videoThread;
    for (const QPointer<VideoThread> &thread : qAsConst(m_retiring)) {
        if (!thread)
            continue;
        thread->stop();
        thread->wait();
        delete thread.data();
    }
}

int QOR_NETMN::state()
{
    if (QThread::currentThread() != thread())
        return m_state.load();
    int code = 1;
    if (!netFuncEnabled)
        code = -1;
    else if (!isLinkAlive())
        code = -2;
    else if (!serverConnected)
        code = -3;
    m_state.store(code);
    return code;
}

bool QOR_NETMN::isLinkAlive()
{
    return reactor && reactor->hasLiveSession() && appMonotonicMs() - reactor->lastActivity() <= kLinkSilenceMs;
}

void QOR_NETMN::setWorkFlags(bool netFunc, bool video)
{
    netFuncEnabled = netFunc;
    videoEnabled = video;
    state();
}

QVariant QOR_NETMN::readConfig(const QString &key)
{
    // Runs before start-up has set a huge file aside: such a file is not even read.
    const JsonFileRead read =
        readJsonFile(QStringLiteral("./") + QStringLiteral("cnt_net/config.json"), kNetConfigMaxBytes);
    if (read.status != JsonFileRead::Parsed || !read.document.object().contains(key))
        return QVariant();
    return read.document.object().value(key).toVariant();
}

void QOR_NETMN::syncServerTime()
{
    const QVariant address = readConfig(QStringLiteral("serveraddr"));
    const QVariant port = readConfig(QStringLiteral("serverport"));
    if (address.userType() != QMetaType::QString || port.userType() != QMetaType::QString)
        return;
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(
        QUrl(QStringLiteral("http://%1:%2/monitor17/api/time").arg(address.toString(), port.toString()))));
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The time service answers {"result":{"time":...}}; a reply of this size is none of its answers.
    connect(reply, &QNetworkReply::readyRead, reply, [reply] {
        if (reply->bytesAvailable() > kReplyBodyBound)
            reply->abort();
    });
    timer.start(kTimeQueryMs);
    if (!reply->isFinished())
        loop.exec();
    QString text;
    if (!reply->isFinished()) {
        reply->abort();
    } else if (reply->error() == QNetworkReply::NoError) {
        const QJsonValue time =
            QJsonDocument::fromJson(reply->readAll()).object().value(QLatin1String("result")).toObject().value(
                QLatin1String("time"));
        if (time.isDouble())
            text = QDateTime::fromMSecsSinceEpoch(qint64(time.toDouble()), Qt::LocalTime)
                       .toString(QStringLiteral("yyyyMMdd hh:mm:ss"));
    }
    delete reply;
    if (text.isEmpty())
        return;
    runCommand(QStringLiteral("date"), {QStringLiteral("-s"), text});
    runCommand(QStringLiteral("hwclock"), {QStringLiteral("--systohc")});
}

void QOR_NETMN::post(const QString &path, const QJsonObject &body)
{
    if (!reactor)
        return;
    CTask_FormData task;
    task.url = path;
    task.data.insert(QStringLiteral("body"), QVariant::fromValue(body));
    reactor->requestAsync(task);
}

void QOR_NETMN::sendHeartbeat()
{
    post(kHeartbeat, {{QStringLiteral("deviceBaseinfo"), QStringLiteral("cpu：10%，memory：10%，disk：10%")},
                      {QStringLiteral("deviceState"), deviceStateText()},
                      {QStringLiteral("isPutVideo"), videoEnabled},
                      {QStringLiteral("cameracount"), gCameraCount}});
}

void QOR_NETMN::sendOfferVideoMem()
{
    QJsonArray memory;
    for (const ScreenStreamSegment &seg : qAsConst(segments))
        memory.append(QJsonObject{{QStringLiteral("shmid"), seg.shmid},
                                  {QStringLiteral("semid"), seg.semid},
                                  {QStringLiteral("cameraid"), seg.id},
                                  {QStringLiteral("size"), seg.size},
                                  {QStringLiteral("width"), seg.width},
                                  {QStringLiteral("height"), seg.height},
                                  {QStringLiteral("fps"), seg.fps}});
    post(QStringLiteral("/inline/bymain/offervideomem"), {{QStringLiteral("memoryinfo"), memory}});
}

void QOR_NETMN::sendAlarmStartTiming(int detect)
{
    // Every alarm gets its own id, also one that starts while the link is down, so a picture or an
    // end sent after the link came back never carries the previous alarm's id.
    newAlarmUuid();
    if (state() != 1)
        return;
    post(QStringLiteral("/inline/bymain/alarm_starttiming"),
         {{QStringLiteral("alarm_detect"), detect}, {QStringLiteral("uuid"), alarmUuid}});
}

void QOR_NETMN::newAlarmUuid()
{
    alarmUuid.clear();
    QFile file(uuidSourcePath);
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray bytes = file.readAll();
        const int nul = bytes.indexOf('\0');
        if (nul >= 0)
            bytes.truncate(nul);
        alarmUuid = QString::fromUtf8(bytes).remove(QLatin1Char('\n'));
    } else {
        alarmUuid = QString::number(QDateTime::currentMSecsSinceEpoch());
    }
    clearMethod.clear();
    alarmPhase = 1;
}

void QOR_NETMN::appendClearMethod(int camera, int code)
{
    if (state() != 1) {
        clearMethod.clear();
        return;
    }
    clearMethod += QStringLiteral(" 相机%1:").arg(camera + 1) + clearMethodText(code);
}

void QOR_NETMN::sendAlarmFinishTiming()
{
    if (state() != 1 || alarmPhase != 2)
        return;
    post(QStringLiteral("/inline/bymain/alarm_finishtiming"),
         {{QStringLiteral("clear_method"), clearMethod}, {QStringLiteral("uuid"), alarmUuid}});
    alarmPhase = 0;
}

void QOR_NETMN::sendAlarmPicture(const QJsonObject &info, const QString &path)
{
    if (state() != 1)
        return;
    post(QStringLiteral("/inline/bymain/alarmpicture"),
         {{QStringLiteral("camera"), info.value(QLatin1String("camera"))},
          {QStringLiteral("detect"), info.value(QLatin1String("detect"))},
          {QStringLiteral("result"), info.value(QLatin1String("result"))},
          {QStringLiteral("alarmpic_path"), path},
          {QStringLiteral("uuid"), alarmUuid}});
}

namespace {
// The caller's value, or null when the key is absent (QJsonObject::value gives undefined).
QJsonValue copied(const QJsonObject &from, const char *key)
{
    const QJsonValue v = from.value(QLatin1String(key));
    return v.isUndefined() ? QJsonValue() : v;
}
} // namespace

void QOR_NETMN::sendRecordOperate(const QJsonObject &record)
{
    if (state() != 1)
        return;
    post(QStringLiteral("/inline/bymain/recordoperate"),
         {{QStringLiteral("recordtime"), copied(record, "recordtime")},
          {QStringLiteral("recordpassword"), copied(record, "recordpassword")},
          {QStringLiteral("remarks"), copied(record, "remarks")}});
}

void QOR_NETMN::sendSyncTempList(const QJsonObject &info)
{
    if (state() != 1)
        return;
    post(QStringLiteral("/inline/bymain/synctemplist"),
         {{QStringLiteral("cameraId"), copied(info, "camera")},
          {QStringLiteral("detectId"), copied(info, "detect")},
          {QStringLiteral("pagenum"), 1},
          {QStringLiteral("pagesize"), 10}});
}

void QOR_NETMN::sendDetectOnceInfo(bool result)
{
    const QList<RoiResultRecord> records = pendingResults;
    pendingResults.clear();
    if (state() != 1)
        return;
    QMap<QString, QList<RoiResultRecord>> groups;
    for (const RoiResultRecord &r : records)
        groups[QStringLiteral("%1;%2").arg(r.camera).arg(r.detect)].append(r);
    QJsonArray detail;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char(';'));
        QJsonArray roiDetail;
        for (const RoiResultRecord &r : it.value())
            roiDetail.append(QJsonObject{{QStringLiteral("roi_id"), r.roi},
                                         {QStringLiteral("algorithm_type"), r.function},
                                         {QStringLiteral("algorithm_result"), r.value},
                                         {QStringLiteral("algorithm_premin"), r.low},
                                         {QStringLiteral("algorithm_premax"), r.high},
                                         {QStringLiteral("is_alarm"), r.pass}});
        detail.append(QJsonObject{{QStringLiteral("camera"), parts.first().toInt()},
                                  {QStringLiteral("detect"), parts.last().toInt()},
                                  {QStringLiteral("roi_detail"), roiDetail}});
    }
    post(QStringLiteral("/inline/bymain/detectonceinfo"),
         {{QStringLiteral("result"), result}, {QStringLiteral("detect_detail"), detail}});
}

void QOR_NETMN::SlotRecvResponse_async(CTask_FormData response)
{
    if (!reactor)
        return;
    TcpTsk_Info task;
    if (!reactor->getTaskInfo(response.uuid, task))
        return;
    // Only a reply somebody handles is written back out as text: this runs on the GUI thread.
    const auto handler = handlers.constFind(task.url);
    if (handler == handlers.cend())
        return;
    const std::function<void(const QString &)> run = handler.value();
    const QJsonObject body = response.data.value(QStringLiteral("body")).toJsonObject();
    run(QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact)));
}

void QOR_NETMN::SlotRecvRequest(CTask_FormData) {}

void QOR_NETMN::onHeartbeatResponse(const QString &body)
{
    serverConnected = false;
    const QJsonValue connected = QJsonDocument::fromJson(body.toUtf8())
                                     .object()
                                     .value(QLatin1String("result"))
                                     .toObject()
                                     .value(QLatin1String("cntserver"));
    if (connected.isBool())
        serverConnected = connected.toBool();
    state();
}
