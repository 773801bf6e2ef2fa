#include "temperaturechartdata.h"

#include "clock.h"
#include "databasejournal.h"
#include "databaserestore.h"
#include "mainwindowlog.h"
#include "sqltemplate.h"
#include "startup.h"
#include "sysparam.h"
#include "systemhelpers.h"

#include <QFile>
#include <QListWidgetItem>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

TemperatureChartData *gTemperatureChartData = nullptr;

namespace {

const QString kConnection = QStringLiteral("Temperature");
const QString kDatabase = QStringLiteral("TemperatureData.db");
const QString kTemplate = QStringLiteral("TemperatureDataNULL.db");
constexpr int kTables = 8;

// A day text names a file in the archive folder: nothing that leaves it.
bool isPlainName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\'));
}

} // namespace

TemperatureChartData *TemperatureChartData::instance()
{
    if (!gTemperatureChartData)
        gTemperatureChartData = new TemperatureChartData;
    return gTemperatureChartData;
}

TemperatureChartData::TemperatureChartData() : QObject(nullptr), recordDir(QStringLiteral("./TemperatureData"))
{
    if (!recordDir.exists())
        recordDir.mkpath(QStringLiteral("."));
    // A journal beside a missing file or beside the bare template belongs to a file no longer there.
    settleJournal(kDatabase, kTemplate);
    // A page SQLite cannot read would fail every pass of the day: such a file goes aside, kept, and
    // the day starts again from the template.
    keepDamagedStoreAside(kDatabase, DatabaseCheck{{}, QString(), true});
    if (!QFile::exists(kDatabase)) {
        QString error;
        if (!copyTemplateFile(kTemplate, kDatabase, &error))
            qCWarning(lcMainWindow) << "temperature template not copied, the tables are built instead:" << error;
    }
    database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    database.setDatabaseName(kDatabase);
    dayText = appNow().date().toString(QStringLiteral("yyyy-MM-dd"));
    loadLive();
}

TemperatureChartData::~TemperatureChartData()
{
    database.close();
    database = QSqlDatabase();
    QSqlDatabase::removeDatabase(kConnection);
    if (gTemperatureChartData == this)
        gTemperatureChartData = nullptr;
}

// Opens the running day's file; missing camera tables (the template was gone, so the open made an
// empty file) are built from the compiled-in SQL.
bool TemperatureChartData::openRunning()
{
    database.close();
    database.setConnectOptions();
    database.setDatabaseName(kDatabase);
    if (!moveSpecialCompanionsAside(kDatabase) || !database.open()) {
        qCWarning(lcMainWindow) << "temperature history cannot be opened:" << database.lastError().text();
        return false;
    }
    const QStringList tables = database.tables();
    for (int n = 1; n <= kTables; ++n) {
        if (tables.contains(QStringLiteral("camera%1").arg(n)))
            continue;
        QString error;
        if (runSqlTemplate(database, QStringLiteral("TemperatureDataNULL.sql"), &error))
            qCWarning(lcMainWindow) << "temperature tables were missing; built from the compiled-in template";
        else
            qCWarning(lcMainWindow) << "temperature tables missing and not built:" << error;
        break;
    }
    return true;
}

void TemperatureChartData::loadLive()
{
    if (openRunning())
        loadRecords(liveRecords);
}

bool TemperatureChartData::loadRecords(QList<SeriesMap> &out)
{
    if (!database.isOpen() && !database.open())
        return false;
    out.clear();
    const int cameras = std::clamp(gCameraCount, 0, kTables);
    const int slotCount = std::clamp(gDetectSlotCount, 0, 8);
    for (int n = 1; n <= cameras; ++n) {
        SeriesMap map;
        QSqlQuery q(database);
        q.exec(QStringLiteral("select * from camera%1").arg(n));
        const int columns = q.record().count();
        while (q.next()) {
            const double t = double(q.value(0).toLongLong());
            for (int d = 0; d < slotCount; ++d) {
                for (int j = 0; j < kRegionsPerSlot; ++j) {
                    QList<QPointF> &points = map[makeSlotRegionKey(d, j)];
                    // Columns by position: insertTime, then 11 per slot (its time, regions 0..9).
                    const int column = 11 * d + j + 2;
                    if (column >= columns)
                        continue;
                    const QVariant cell = q.value(column);
                    bool ok = false;
                    const double v = cell.toDouble(&ok);
                    if (!cell.isNull() && ok)
                        points.append(QPointF(t, v));
                }
            }
        }
        out.append(map);
    }
    database.close();
    return true;
}

void TemperatureChartData::insertRecord(int camera, int detect, QVector<int> regions, QVector<qint64> times,
                                        QVector<double> values)
{
    const int n = std::min({regions.size(), times.size(), values.size()});
    if (camera < 0 || camera >= kTables || detect < 0 || n == 0)
        return;
    if (!openRunning())
        return;
    const QString table = QStringLiteral("camera%1").arg(camera + 1);
    const QSqlRecord layout = database.record(table);
    const QString slotTime = QStringLiteral("D%1Time").arg(detect);
    if (layout.isEmpty() || layout.indexOf(slotTime) < 0) {
        qCWarning(lcMainWindow) << "temperature pass not stored: table" << table << "has no slot" << detect;
        database.close();
        return;
    }
    QString columns = QStringLiteral("insertTime,") + slotTime;
    QString marks = QStringLiteral("?,?");
    QVector<double> kept;
    QStringList skipped;
    QSet<int> seen;
    for (int i = 0; i < n; ++i) {
        const QString column = QStringLiteral("D%1T%2").arg(detect).arg(regions[i]);
        if (layout.indexOf(column) < 0 || seen.contains(regions[i])) {
            skipped << column;
            continue;
        }
        seen.insert(regions[i]);
        columns += QLatin1Char(',') + column;
        marks += QStringLiteral(",?");
        // Stored as the history always wrote it: six significant digits.
        kept.append(QString::number(values[i], 'g', 6).toDouble());
    }
    if (!skipped.isEmpty())
        qCWarning(lcMainWindow) << "temperature columns not in" << table << "left out:" << skipped;
    if (!kept.isEmpty()) {
        QSqlQuery q(database);
        q.prepare(QStringLiteral("INSERT INTO %1(%2) VALUES(%3)").arg(table, columns, marks));
        q.addBindValue(times[0]);
        q.addBindValue(times[0]);
        for (double v : kept)
            q.addBindValue(v);
        if (!q.exec())
            qCWarning(lcMainWindow) << "temperature pass not stored:" << q.lastError().text();
    }
    database.close();
}

void TemperatureChartData::trimLive(QList<QPointF> &points)
{
    // Trimmed an hour at a time, not point by point: dropping the front of a list is a copy.
    const double newest = points.last().x();
    if (points.first().x() >= newest - double(kLiveWindowMs + 3600 * 1000))
        return;
    const auto keep = std::find_if(points.begin(), points.end(),
                                   [&](const QPointF &p) { return p.x() >= newest - double(kLiveWindowMs); });
    points.erase(points.begin(), keep);
}

void TemperatureChartData::appendLive(int camera, const QString &key, double x, double y)
{
    // The list may be short (a database that would not open, or fewer tables than cameras): the
    // points of the running day are still kept.
    if (camera < 0 || camera >= kTables)
        return;
    while (liveRecords.size() <= camera)
        liveRecords.append(SeriesMap());
    QList<QPointF> &points = liveRecords[camera][key];
    points.append(QPointF(x, y));
    trimLive(points);
}

QList<QPointF> TemperatureChartData::series(int camera, const QString &key) const
{
    const QList<SeriesMap> &records = showingToday ? liveRecords : shownRecords;
    if (camera < 0 || camera >= records.size())
        return {};
    return records.at(camera).value(key);
}

bool TemperatureChartData::archive(const QString &name)
{
    if (!isPlainName(name)) {
        qCWarning(lcMainWindow) << "temperature history not archived under the name" << name;
        return false;
    }
    database.close();
    recordDir.mkpath(QStringLiteral("."));
    const QString target = freeArchivePath(recordDir.absolutePath(), name);
    // A journal a failed write left goes with the day's file, never under the template copied in.
    settleJournal(kDatabase, QString());
    if (!moveDatabase(kDatabase, target)) {
        // The day's rows stay in the running file, and nothing is copied over them.
        qCWarning(lcMainWindow) << "temperature history of" << name << "not archived to" << target;
        return false;
    }
    qCInfo(lcMainWindow) << "temperature history of" << name << "archived as" << target;
    QString error;
    if (!copyTemplateFile(kTemplate, kDatabase, &error))
        qCWarning(lcMainWindow) << "temperature template not copied, the tables are built instead:" << error;
    return true;
}

void TemperatureChartData::UpdateRecord(QListWidgetItem *item)
{
    if (!item)
        return;
    const QString text = item->text();
    shownDayText = text;
    if (text == dayText) {
        showingToday = true;
        shownRecords = liveRecords;
        return;
    }
    showingToday = false;
    database.close();
    // Another day's curve under this day's name would mislead: a day that cannot be read shows empty.
    shownRecords.clear();
    if (!isPlainName(text))
        return;
    database.setDatabaseName(QStringLiteral("%1//%2.db").arg(recordDir.absolutePath(), text));
    // An archive is evidence: read, never written, never created when it is gone.
    database.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    if (!moveSpecialCompanionsAside(database.databaseName()) || !loadRecords(shownRecords))
        qCWarning(lcMainWindow) << "temperature archive cannot be opened:" << database.databaseName();
}
