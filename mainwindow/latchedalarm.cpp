#include "latchedalarm.h"

#include "atomicfile.h"
#include "mainwindowlog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <algorithm>

namespace {

constexpr qint64 kMaxFileBytes = 4096;
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// An integer of the object in [low, high]; false when absent, not a whole number or out of range.
bool intValue(const QJsonObject &o, const char *key, int low, int high, int *out)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (d != double(qint64(d)) || d < low || d > high)
        return false;
    *out = int(d);
    return true;
}

} // namespace

QString latchedAlarmPath()
{
    return QStringLiteral("latchedalarm.json");
}

QByteArray latchedAlarmText(const LatchedAlarm &alarm)
{
    QJsonArray cameras;
    for (int c : alarm.cameras)
        cameras.append(c + 1);
    const QJsonObject o{{QStringLiteral("cameras"), cameras},
                        {QStringLiteral("slot"), alarm.slot},
                        {QStringLiteral("currentSlot"), alarm.slot},
                        {QStringLiteral("moldSide"), alarm.moldSide},
                        {QStringLiteral("time"), alarm.time.toString(kTimeFormat)}};
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool parseLatchedAlarm(const QByteArray &text, LatchedAlarm *alarm, QString *cause)
{
    auto fail = [cause](const QString &why) {
        if (cause)
            *cause = why;
        return false;
    };
    if (text.size() > kMaxFileBytes)
        return fail(QStringLiteral("longer than %1 bytes").arg(kMaxFileBytes));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return fail(QStringLiteral("not a JSON object (%1)").arg(error.errorString()));
    const QJsonObject o = doc.object();
    LatchedAlarm read;
    int currentSlot = -1;
    if (!intValue(o, "slot", 0, 7, &read.slot))
        return fail(QStringLiteral("no slot 0 to 7"));
    if (!intValue(o, "currentSlot", 0, 7, &currentSlot) || currentSlot != read.slot)
        return fail(QStringLiteral("currentSlot is not the slot"));
    if (!intValue(o, "moldSide", 0, 1, &read.moldSide))
        return fail(QStringLiteral("no moldSide 0 or 1"));
    const QJsonValue cameras = o.value(QLatin1String("cameras"));
    if (!cameras.isArray() || cameras.toArray().size() > 8)
        return fail(QStringLiteral("no list of at most 8 cameras"));
    for (const QJsonValue &v : cameras.toArray()) {
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d != double(int(d)) || d < 1 || d > 8 || read.cameras.contains(int(d) - 1))
            return fail(QStringLiteral("a camera number is not one of 1 to 8, or repeated"));
        read.cameras.append(int(d) - 1);
    }
    std::sort(read.cameras.begin(), read.cameras.end());
    read.time = QDateTime::fromString(o.value(QLatin1String("time")).toString(), kTimeFormat);
    if (!read.time.isValid())
        return fail(QStringLiteral("no time"));
    *alarm = read;
    return true;
}

bool saveLatchedAlarm(const LatchedAlarm &alarm)
{
    QString why;
    if (writeFileAtomically(latchedAlarmPath(), latchedAlarmText(alarm), {}, &why))
        return true;
    // The latch holds in memory; only a restart would lose it.
    qCCritical(lcMainWindow).noquote() << "latched alarm not kept on disk:" << why;
    return false;
}

void removeLatchedAlarm()
{
    if (QFile::exists(latchedAlarmPath()) && !QFile::remove(latchedAlarmPath()))
        qCCritical(lcMainWindow).noquote()
            << latchedAlarmPath() << "cannot be removed: the next start latches the alarm again";
}

LatchedAlarmFile readLatchedAlarm(LatchedAlarm *alarm, QString *cause)
{
    QFile file(latchedAlarmPath());
    if (!file.exists())
        return LatchedAlarmFile::None;
    if (!file.open(QIODevice::ReadOnly)) {
        if (cause)
            *cause = file.errorString();
        return LatchedAlarmFile::Damaged;
    }
    // One byte more than allowed, so that a longer file is told apart from one of the largest size.
    const QByteArray text = file.read(kMaxFileBytes + 1);
    return parseLatchedAlarm(text, alarm, cause) ? LatchedAlarmFile::Read : LatchedAlarmFile::Damaged;
}

LatchedAlarmKeeper::LatchedAlarmKeeper(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { check(); });
}

bool LatchedAlarmKeeper::keep(const LatchedAlarm &alarm)
{
    m_alarm = alarm;
    m_keeping = true;
    m_timer->start();
    QString why;
    m_failing = !writeFileAtomically(latchedAlarmPath(), latchedAlarmText(alarm), {}, &why);
    // The latch holds in memory meanwhile; only a restart before the file is there would lose it.
    if (m_failing)
        qCCritical(lcMainWindow).noquote()
            << "latched alarm not kept on disk:" << why << "- writing it again every second";
    return !m_failing;
}

void LatchedAlarmKeeper::release()
{
    m_keeping = false;
    m_failing = false;
    m_timer->stop();
    removeLatchedAlarm();
}

void LatchedAlarmKeeper::check()
{
    if (!m_keeping || (!m_failing && QFile::exists(latchedAlarmPath())))
        return;
    const bool wasFailing = m_failing;
    QString why;
    m_failing = !writeFileAtomically(latchedAlarmPath(), latchedAlarmText(m_alarm), {}, &why);
    if (m_failing) {
        // A write that went on failing was logged when it first failed.
        if (!wasFailing)
            qCCritical(lcMainWindow).noquote()
                << "latched alarm file was gone while latched and cannot be written again:" << why
                << "- trying every second";
        return;
    }
    if (wasFailing)
        qCWarning(lcMainWindow) << "latched alarm on disk again";
    else
        qCWarning(lcMainWindow) << "latched alarm file was gone while latched: written again";
    if (onDiskAgain)
        onDiskAgain();
}
