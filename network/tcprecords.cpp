#include "tcprecords.h"

#include "clock.h"

#include <QJsonObject>

#include <atomic>

namespace {
qint64 wallNowMs()
{
    return appNow().toMSecsSinceEpoch();
}

std::atomic<int> gMessageCounter{0};
} // namespace

const QByteArray kMultipartBoundary = QByteArrayLiteral("------------------------tcpservreactor");

TcpTsk_Info::TcpTsk_Info() : QObject(nullptr) {}

TcpTsk_Info::TcpTsk_Info(const QString &id) : QObject(nullptr), create_timing(wallNowMs()), uuid(id) {}

TcpTsk_Info::TcpTsk_Info(const TcpTsk_Info &other) : QObject(nullptr)
{
    *this = other;
}

TcpTsk_Info &TcpTsk_Info::operator=(const TcpTsk_Info &other)
{
    url = other.url;
    create_timing = other.create_timing;
    firstrecv_timing = other.firstrecv_timing;
    finishrecv_timing = other.finishrecv_timing;
    finishact_timing = other.finishact_timing;
    recv_times = other.recv_times;
    uuid = other.uuid;
    recvpacklength = other.recvpacklength;
    return *this;
}

QVariantMap TcpTsk_Info::toVariantMap() const
{
    return {{QStringLiteral("_tsk_url"), url},
            {QStringLiteral("_tsk_uuid"), uuid},
            {QStringLiteral("_tsk_recvpacklength"), recvpacklength},
            {QStringLiteral("_tsk_create_timing"), create_timing},
            {QStringLiteral("_tsk_firstrecv_timing"), firstrecv_timing},
            {QStringLiteral("_tsk_finishrecv_timing"), finishrecv_timing},
            {QStringLiteral("_tsk_finishact_timing"), finishact_timing},
            {QStringLiteral("_tsk_recv_times"), recv_times}};
}

void TcpTsk_Info::tskup_firstrecv_timing()
{
    firstrecv_timing = wallNowMs();
    recv_times = 1;
}

void TcpTsk_Info::tskup_recv_times()
{
    recv_times += 1;
}

void TcpTsk_Info::tskup_finishrecv_timing()
{
    finishrecv_timing = wallNowMs();
}

void TcpTsk_Info::tskup_chg_recvpacklength(QVariantList params)
{
    // Only a plain int counts: the parser announces the length as one.
    if (!params.isEmpty() && params.first().userType() == QMetaType::Int)
        recvpacklength = params.first().toInt();
}

void TcpTsk_Info::tskup_finishact_timing()
{
    finishact_timing = wallNowMs();
}

int SCI_ExecObj_Send::kind() const
{
    if (!images.isEmpty())
        return rawParts.isEmpty() ? KindImages : KindNothing;
    if (!rawParts.isEmpty())
        return KindFile;
    if (data.isEmpty() || data.first().userType() == QMetaType::QJsonObject)
        return KindJson;
    return KindNothing;
}

QString makeMessageId()
{
    const int n = ++gMessageCounter;
    return QStringLiteral("smartcam#") + appNow().toString(QStringLiteral("yyyyMMdd_hhmmss_zzz_")) +
           QString::number(n);
}

bool messageIdMatches(const QString &received, const QString &requested)
{
    if (received == requested)
        return true;
    if (requested.isEmpty())
        return false;
    for (int at = received.indexOf(requested); at >= 0; at = received.indexOf(requested, at + 1)) {
        const int after = at + requested.size();
        if (after >= received.size())
            return true;
        const QChar next = received.at(after);
        if (next < QLatin1Char('0') || next > QLatin1Char('9'))
            return true;
    }
    return false;
}

void registerTcpMetaTypes()
{
    // Once per process: every session calls this, possibly on several socket threads at a time.
    static const bool registered = [] {
        qRegisterMetaType<CTask_FormData>("CTask_FormData");
        qRegisterMetaType<SCI_ExecObj_Send>("SCI_ExecObj_Send");
        qRegisterMetaType<QAbstractSocket::SocketState>("QAbstractSocket::SocketState");
        return true;
    }();
    Q_UNUSED(registered);
}
