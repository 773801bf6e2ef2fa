#pragma once
// The latched NG alarm kept on disk, "latchedalarm.json" in the working directory, so that a restart
// or a power cut does not release a clamp that nobody saw cleared: written (atomically) when the alarm
// latches, removed when it ends, read once at start-up. GUI thread.
//
// The file is one JSON object: "cameras" (the NG camera numbers, from 1), "slot" (the detection slot
// that failed), "currentSlot" (the same slot: the cycle's slot when it latched), "moldSide" (1 left,
// 0 right) and "time" ("yyyy-MM-dd hh:mm:ss").

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class QTimer;

struct LatchedAlarm
{
    QVector<int> cameras; // camera indexes from 0, ascending
    int slot = 1;
    int moldSide = 1;
    QDateTime time;
};

// "latchedalarm.json"
QString latchedAlarmPath();

QByteArray latchedAlarmText(const LatchedAlarm &alarm);
// True and `alarm` filled only for a whole record as latchedAlarmText writes it (at most 4 KB, every
// key present with a value in range); otherwise `cause` says what is wrong.
bool parseLatchedAlarm(const QByteArray &text, LatchedAlarm *alarm, QString *cause);

// Written through the atomic writer; false (and logged) when it could not be.
bool saveLatchedAlarm(const LatchedAlarm &alarm);
// Removed when present; a file that stays is logged.
void removeLatchedAlarm();

enum class LatchedAlarmFile
{
    None,
    Read,
    Damaged
};
// None when there is no file; Damaged (with `cause`) when it cannot be read or parsed.
LatchedAlarmFile readLatchedAlarm(LatchedAlarm *alarm, QString *cause);

// Keeps the latch in force on disk for as long as it lasts. A write that fails (a full disk) is tried
// again every second until the file is there, and a file that went missing while latched is written
// again within a second; one log line for each failure and each recovery. GUI thread.
class LatchedAlarmKeeper : public QObject
{
public:
    explicit LatchedAlarmKeeper(QObject *parent = nullptr);
    // Writes `alarm` now (write, sync, rename) and keeps it from now on until release(). True when it
    // is on disk.
    bool keep(const LatchedAlarm &alarm);
    // The latch ended: the file is removed and no longer kept.
    void release();
    bool keeping() const { return m_keeping; }
    // Called each time the file is on disk again after it failed or went missing.
    std::function<void()> onDiskAgain;

private:
    void check();
    QTimer *m_timer = nullptr;
    LatchedAlarm m_alarm;
    bool m_keeping = false;
    bool m_failing = false;
};
