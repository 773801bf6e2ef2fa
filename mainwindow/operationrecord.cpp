// The operation record: one line per operator-visible event in table RECORD of "RECORD.db", one file
// per day, archived into "./RECORD" when the day changes.

#include "operationrecord.h"

#include "atomicfile.h"
#include "clock.h"
#include "databasejournal.h"
#include "devewizard.h"
#include "logmanager.h"
#include "mainwindowlog.h"
#include "temperaturechartdata.h"
#include "uitexttable.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include <unistd.h>

namespace {

RecordOperateRelay &relay()
{
    static RecordOperateRelay function;
    return function;
}

const QString kRecordFile = QStringLiteral("RECORD.db");
const QString kRecordTemplate = QStringLiteral("RECORDNULL.db");
const QString kRecordDateFile = QStringLiteral("time.txt");

QString today()
{
    return appNow().date().toString(QStringLiteral("yyyy-MM-dd"));
}

} // namespace

void setRecordOperateRelay(RecordOperateRelay function)
{
    relay() = std::move(function);
}

QString recordLevelText(int loginLevel, int language)
{
    const int row = loginLevel == 2 ? 154 : loginLevel == 1 ? 155 : 156;
    return uiText(row, language);
}

QString parseRecordDate(const QByteArray &content)
{
    const QString text = QString::fromLatin1(content).trimmed();
    if (text.size() != 10)
        return QString();
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return date.isValid() && date.toString(QStringLiteral("yyyy-MM-dd")) == text ? text : QString();
}

QString archiveRecordFile(const QString &file, const QDir &folder, const QString &day)
{
    QString target = folder.absoluteFilePath(day + QStringLiteral(".db"));
    for (int n = 1; QFile::exists(target); ++n)
        target = folder.absoluteFilePath(QStringLiteral("%1_%2.db").arg(day).arg(n));
    // A journal beside the day's file goes with it: the fresh file laid in its place must never meet it.
    return moveDatabase(file, target) ? target : QString();
}

// Opens "dbRecord" on the existing file only: a missing "RECORD.db" is the start-up check's to
// restore, and a file made here would hide that.
bool DeVeWizard::openRecordDb()
{
    if (recordDb.isOpen())
        return true;
    if (!QFile::exists(kRecordFile)) {
        qCWarning(lcMainWindow) << "record line dropped:" << kRecordFile << "is missing";
        return false;
    }
    QString why;
    if (!moveSpecialCompanionsAside(kRecordFile, &why)) {
        qCWarning(lcMainWindow).noquote() << "record line dropped:" << why;
        return false;
    }
    if (!recordDb.open()) {
        qCWarning(lcMainWindow) << "record line dropped:" << recordDb.lastError().text();
        return false;
    }
    return true;
}

void DeVeWizard::InsertRecord(const QString &remarks)
{
    if (!openRecordDb())
        return;
    const QString time = appNow().toString(QStringLiteral("hh.mm.ss"));
    const QString level = recordLevelText(loginLevel, gLanguage);
    if (relay()) {
        QJsonObject line;
        line.insert(QStringLiteral("recordtime"), time);
        line.insert(QStringLiteral("recordpassword"), level);
        line.insert(QStringLiteral("remarks"), remarks);
        relay()(line);
    }
    // A line that cannot be written now (a full disk) waits in memory, in order, for the next line or
    // the minute's date check.
    heldRecordLines.append({time, level, remarks});
    if (heldRecordLines.size() > kMaxHeldRecordLines) {
        heldRecordLines.removeFirst();
        if (lostRecordLines++ == 0)
            qCWarning(lcMainWindow) << "more than" << kMaxHeldRecordLines
                                    << "record lines wait for the disk: the oldest are lost";
    }
    QString error;
    if (!writeHeldRecordLines(&error))
        qCWarning(lcMainWindow).noquote() << "record line not written, kept to write later ("
                                          << heldRecordLines.size() << "waiting):" << error << remarks;
}

bool DeVeWizard::writeHeldRecordLines(QString *error)
{
    if (heldRecordLines.isEmpty())
        return true;
    if (!openRecordDb())
        return false;
    const int waiting = heldRecordLines.size();
    while (!heldRecordLines.isEmpty()) {
        const HeldRecordLine &line = heldRecordLines.first();
        // Bound values: remarks carry camera serials, group names and settings labels with quotes.
        QSqlQuery query(recordDb);
        // A prepare the file refuses (locked, unreadable) would leave exec() to say only "Parameter
        // count mismatch": its own error says why.
        const bool prepared = query.prepare(
            QStringLiteral("INSERT INTO RECORD(recordtime, recordpassword, remarks) VALUES(?, ?, ?)"));
        if (prepared) {
            query.addBindValue(line.time);
            query.addBindValue(line.level);
            query.addBindValue(line.remarks);
        }
        if (!prepared || !query.exec()) {
            if (error)
                *error = query.lastError().text();
            return false;
        }
        heldRecordLines.removeFirst();
    }
    if (waiting > 1 || lostRecordLines > 0)
        qCInfo(lcMainWindow) << waiting << "held record lines written;" << lostRecordLines << "were lost";
    lostRecordLines = 0;
    return true;
}

void DeVeWizard::endOperationRecord()
{
    const quint64 dropped = lostRecordLines;
    QString error = QStringLiteral("it cannot be opened"); // the statement's reason replaces it
    QString text;
    if (writeHeldRecordLines(&error)) {
        // Its own line counted the lines dropped for room, if any.
        if (dropped > 0)
            text = QStringLiteral("%1 record lines lost: more than %2 waited for %3")
                       .arg(dropped)
                       .arg(kMaxHeldRecordLines)
                       .arg(kRecordFile);
    } else {
        text = QStringLiteral("%1 record lines lost at quit: %2 could not take them (%3)")
                   .arg(dropped + quint64(heldRecordLines.size()))
                   .arg(kRecordFile, error);
        qCWarning(lcMainWindow).noquote() << text;
        heldRecordLines.clear();
        lostRecordLines = 0;
    }
    // The log may be on the same full disk: then standard error is the only place left to say it.
    if (!text.isEmpty() && !flushLogFile()) {
        const QByteArray bytes = text.toUtf8() + '\n';
        if (::write(STDERR_FILENO, bytes.constData(), size_t(bytes.size())) < 0)
            return;
    }
}

void DeVeWizard::ClearRecord()
{
    heldRecordLines.clear(); // they belong to the day being cleared
    if (!openRecordDb())
        return;
    QSqlQuery query(recordDb);
    if (!query.exec(QStringLiteral("DELETE FROM RECORD")))
        qCWarning(lcMainWindow) << "record not cleared:" << query.lastError().text();
}

void DeVeWizard::FLushAll()
{
    writeHeldRecordLines(); // a last try before the restart takes them with it
    snDb.close();
    paramDb.close();
    recordDb.close();
    // The restart that follows must find everything on disk.
    QThread::msleep(500);
}

// An empty day file: a copy of the template, or, when the template is missing or cannot be copied,
// the table made here, so that the new day still has its record.
bool DeVeWizard::makeFreshRecordFile()
{
    QFile source(kRecordTemplate);
    if (source.open(QIODevice::ReadOnly)) {
        QString error;
        if (writeFileAtomically(kRecordFile, source.readAll(), {}, &error))
            return true;
        qCWarning(lcMainWindow) << "record template not copied:" << error;
    } else {
        qCWarning(lcMainWindow) << kRecordTemplate << "missing: the day's table is made anew";
    }
    if (!recordDb.open())
        return false;
    QSqlQuery query(recordDb);
    // With the template's index, so the record page never sorts a whole day.
    const bool made =
        query.exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS RECORD (recordtime TEXT, recordpassword TEXT, remarks TEXT)")) &&
        query.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS RECORD_recordtime ON RECORD (recordtime)"));
    query.finish();
    recordDb.close();
    return made;
}

void DeVeWizard::SlotCheckDate()
{
    // Lines held for a full disk belong to the day that is ending: they go into its file first.
    writeHeldRecordLines();
    const QString now = today();
    if (now == recordDate)
        return;
    recordDb.close();
    if (QFile::exists(kRecordFile)) {
        const QString archive = archiveRecordFile(kRecordFile, recordArchiveDir, recordDate);
        if (archive.isEmpty()) {
            // The day's lines stay in RECORD.db, which keeps working; the move is tried again at the
            // next check. Said once, not every minute.
            if (!recordArchiveFailed)
                qCWarning(lcMainWindow) << "record of" << recordDate << "not archived into"
                                        << recordArchiveDir.absolutePath();
            recordArchiveFailed = true;
            return;
        }
        qCInfo(lcMainWindow) << "record of" << recordDate << "archived as" << archive;
    } else {
        qCWarning(lcMainWindow) << kRecordFile << "missing at the roll-over: the new day gets a fresh one";
    }
    // Without a file the day's lines would be dropped until a restart.
    if (!makeFreshRecordFile())
        qCWarning(lcMainWindow) << "no record file for" << now;
    // The ended day's temperature history goes with it; one that cannot be moved keeps running.
    TemperatureChartData::instance()->archive(recordDate);
    recordArchiveFailed = false;
    recordDate = now;
    QString error;
    if (!writeFileAtomically(kRecordDateFile, recordDate.toLatin1(), {}, &error))
        qCWarning(lcMainWindow) << kRecordDateFile << "not written:" << error;
}

// Archive folders, the day of the record from "time.txt", and a roll-over of a file left from an
// earlier day. The roll-over timer is started later in the constructor.
void DeVeWizard::startOperationRecord()
{
    QDir(QStringLiteral(".")).mkpath(QStringLiteral("RECORD"));
    QDir(QStringLiteral(".")).mkpath(QStringLiteral("ResStatistics"));
    recordArchiveDir.setPath(QStringLiteral("./RECORD"));
    statisticsArchiveDir.setPath(QStringLiteral("./ResStatistics"));

    QFile file(kRecordDateFile);
    if (file.open(QIODevice::ReadOnly)) {
        recordDate = parseRecordDate(file.read(64));
        if (recordDate.isEmpty())
            qCWarning(lcMainWindow) << kRecordDateFile << "holds no date: the record is taken as today's";
    }
    if (recordDate.isEmpty()) {
        recordDate = today();
        QString error;
        if (!writeFileAtomically(kRecordDateFile, recordDate.toLatin1(), {}, &error))
            qCWarning(lcMainWindow) << kRecordDateFile << "not written:" << error;
    }
    SlotCheckDate();
    dateTimer = new QTimer(this);
    connect(dateTimer, &QTimer::timeout, this, &DeVeWizard::SlotCheckDate);
}
