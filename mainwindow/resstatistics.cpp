#include "resstatistics.h"

#include "atomicfile.h"
#include "clock.h"
#include "commandrunner.h"
#include "databasejournal.h"
#include "databaserestore.h"
#include "mainwindowlog.h"
#include "sqltemplate.h"
#include "startup.h"
#include "statisticswidget.h"
#include "sysparam.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QFile>
#include <QRegularExpression>
#include <QSqlError>
#include <QStringList>

#include <algorithm>
#include <climits>

ResStatistics *gStatisticsStore = nullptr;

namespace {

const QString kConnection = QStringLiteral("dbResStatistics");
const QString kDatabase = QStringLiteral("ResStatistics.db");
const QString kTemplate = QStringLiteral("ResStatisticsNULL.db");
const QString kPeriodFile = QStringLiteral("restime.txt");

int saturate(qint64 v)
{
    return int(std::clamp<qint64>(v, INT_MIN, INT_MAX));
}

// The stored grid covers at most eight cameras and slots, whatever the globals say.
int cameraRows()
{
    return std::clamp(gCameraCount, 0, 8);
}

int slotRows()
{
    return std::clamp(gDetectSlotCount, 0, 8);
}

} // namespace

QDate statisticsDay(const QDateTime &localTime)
{
    const QDate date = localTime.date();
    return localTime.time().hour() < 8 ? date.addDays(-1) : date;
}

void StatisticsCell::computeSums()
{
    qint64 sums[6] = {}; // day NG, day OK, night NG, night OK, whole NG, whole OK
    for (int h = 0; h < 24; ++h) {
        const bool day = h >= 8 && h <= 19;
        sums[day ? 0 : 2] += ngCounts[h];
        sums[day ? 1 : 3] += okCounts[h];
        sums[4] += ngCounts[h];
        sums[5] += okCounts[h];
    }
    dayNg = saturate(sums[0]);
    dayOk = saturate(sums[1]);
    nightNg = saturate(sums[2]);
    nightOk = saturate(sums[3]);
    wholeNg = saturate(sums[4]);
    wholeOk = saturate(sums[5]);
}

StatisticsCell *StatisticsGrid::cell(int camera, int detect)
{
    if (camera < 0 || camera > 8 || detect < 0 || detect > 8)
        return nullptr;
    StatisticsNode &n = node(camera);
    return detect == 8 ? &n.cell : &n.slotCells[detect];
}

const StatisticsCell *StatisticsGrid::cell(int camera, int detect) const
{
    return const_cast<StatisticsGrid *>(this)->cell(camera, detect);
}

ResStatistics::ResStatistics() : archiveDir(QStringLiteral("./ResStatistics"))
{
    // A journal beside a missing file or beside the bare template belongs to a file no longer there.
    settleJournal(kDatabase, kTemplate);
    // A page SQLite cannot read would fail every save of the day: such a file goes aside, kept, and
    // the day starts again from the template.
    keepDamagedStoreAside(kDatabase, DatabaseCheck{{}, QString(), true});
    if (!QFile::exists(kDatabase)) {
        QString error;
        if (!copyTemplateFile(kTemplate, kDatabase, &error))
            qCWarning(lcMainWindow) << "statistics template not copied, the table is built instead:" << error;
    }
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    db.setDatabaseName(kDatabase);
    // Only a file that does not open sends the box to a restart. One that opened but could not take its
    // table (a full disk, a file size limit) counts in memory and gets the table at the first save
    // that finds room: a restart would not make room, and would come back here for ever.
    if (!openDatabase() && !db.isOpen()) {
        if (gWarnBox) {
            gWarnBox->setMessage(uiText(544));
            gWarnBox->exec();
        }
        runCommand(QStringLiteral("reboot"));
    }
    readGrid(liveGrid, query);
    loadPeriodStart();
}

ResStatistics::~ResStatistics()
{
    query = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(kConnection);
}

// Opens the running file; a file without the table (its template was missing, so the open made an
// empty one) gets the table built from the compiled-in SQL.
bool ResStatistics::openDatabase()
{
    if (!db.isOpen() && !moveSpecialCompanionsAside(kDatabase))
        return false;
    if (!db.isOpen() && !db.open()) {
        qCWarning(lcMainWindow) << "statistics file cannot be opened:" << db.lastError().text();
        return false;
    }
    query = QSqlQuery(db);
    tableMissing = false;
    if (db.tables().contains(QStringLiteral("resstatistics")))
        return true;
    QString error;
    if (!runSqlTemplate(db, QStringLiteral("ResStatisticsNULL.sql"), &error)) {
        qCWarning(lcMainWindow) << "statistics table missing and not built:" << error;
        tableMissing = true;
        return false;
    }
    qCWarning(lcMainWindow) << "statistics table was missing; built empty from the compiled-in template";
    return true;
}

void ResStatistics::loadPeriodStart()
{
    QFile file(kPeriodFile);
    if (file.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const QString text = QString::fromLatin1(file.read(64)).trimmed();
        periodStart = text.toUInt(&ok);
        if (!ok) {
            // Reads as second 0: the next check archives the running file under 1970-01-01.
            qCWarning(lcMainWindow) << "restime.txt holds no start time:" << text;
            periodStart = 0;
        }
    } else {
        QDateTime start = appNow();
        if (start.time().hour() < 8)
            start = start.addDays(-1);
        start.setTime(QTime(8, 0));
        periodStart = uint32_t(start.toSecsSinceEpoch());
        writePeriodStart();
    }
    periodDate = QDateTime::fromSecsSinceEpoch(periodStart).toString(QStringLiteral("yyyy-MM-dd"));
}

void ResStatistics::writePeriodStart()
{
    QString error;
    if (!writeFileAtomically(kPeriodFile, QByteArray::number(periodStart), {}, &error))
        qCWarning(lcMainWindow) << "restime.txt not written:" << error;
}

void ResStatistics::checkDate()
{
    const QDate day = statisticsDay(appNow());
    const QString dayText = day.toString(QStringLiteral("yyyy-MM-dd"));
    // Comparing days, not elapsed seconds: a 25-hour day or a clock set back by minutes must not
    // archive the same day twice.
    if (dayText == periodDate)
        return;
    if (!rollover(dayText))
        return;
    periodStart = uint32_t(QDateTime(day, QTime(8, 0)).toSecsSinceEpoch());
    writePeriodStart();
    if (StatisticsWidget *page = statisticsWidget())
        page->listArchives();
}

bool ResStatistics::rollover(const QString &newDate)
{
    save();
    query = QSqlQuery();
    db.close();

    archiveDir.mkpath(QStringLiteral("."));
    const QString target = freeArchivePath(archiveDir.absolutePath(), periodDate);
    // A journal a failed write left goes with the day's file, never under the template copied in.
    settleJournal(kDatabase, QString());
    if (!moveDatabase(kDatabase, target)) {
        // The day's counts stay in the running file; nothing is copied over them.
        if (!m_archiveFailureLogged)
            qCWarning(lcMainWindow) << "statistics day" << periodDate << "not archived to" << target
                                    << "; counting goes on in the running file";
        m_archiveFailureLogged = true;
        openDatabase();
        return false;
    }
    m_archiveFailureLogged = false;
    qCInfo(lcMainWindow) << "statistics day" << periodDate << "archived as" << target;

    QString error;
    if (!copyTemplateFile(kTemplate, kDatabase, &error))
        qCWarning(lcMainWindow) << "statistics template not copied, the table is built instead:" << error;
    periodDate = newDate;
    liveGrid = StatisticsGrid();
    save();
    return true;
}

int ResStatistics::addResult(int hour, bool ok, int camera, int detect, SaveMode mode)
{
    if (hour < 0 || hour > 23 || !liveGrid.cell(camera, detect)) {
        qCWarning(lcMainWindow) << "result not counted: hour" << hour << "camera" << camera << "slot"
                                << detect;
        return 0;
    }
    checkDate();
    StatisticsCell *cell = liveGrid.cell(camera, detect);
    int &n = ok ? cell->okCounts[hour] : cell->ngCounts[hour];
    if (n < INT_MAX)
        ++n;
    save(mode);
    if (StatisticsWidget *page = statisticsWidget())
        page->refreshLive();
    return 1;
}

bool ResStatistics::save(SaveMode mode)
{
    if ((!db.isOpen() || tableMissing) && !openDatabase())
        return false;
    // The stored aggregate rows carry the derived figures, so the file reads right on its own.
    StatisticsGrid grid = liveGrid;
    recompute(grid);

    const bool transaction = mode == SaveMode::OneTransaction;
    if (transaction && !query.exec(QStringLiteral("BEGIN"))) {
        qCWarning(lcMainWindow) << "statistics save not started:" << query.lastError().text();
        return false;
    }
    bool ok = true;
    for (int c = 0; c < cameraRows(); ++c)
        ok = writeRows(grid.cameraNodes[c], c) && ok;
    ok = writeRows(grid.allCameras, 8) && ok;
    if (!transaction)
        return ok;
    if (ok && query.exec(QStringLiteral("COMMIT")))
        return true;
    qCWarning(lcMainWindow) << "statistics save failed, the file keeps the previous counts:"
                            << query.lastError().text();
    query.exec(QStringLiteral("ROLLBACK"));
    return false;
}

bool ResStatistics::writeRows(const StatisticsNode &node, int camera)
{
    bool ok = true;
    for (int d = 0; d < slotRows(); ++d)
        ok = query.exec(updateRowStatement(node.slotCells[d], camera, d)) && ok;
    return query.exec(updateRowStatement(node.cell, camera, 8)) && ok;
}

QString ResStatistics::updateRowStatement(const StatisticsCell &cell, int camera, int detect)
{
    QString s = QStringLiteral("update resstatistics set value1 = '");
    for (int h = 0; h < 24; ++h)
        s += QString::number(cell.okCounts[h]) + QLatin1Char(' ');
    s += QStringLiteral("',value2 = '");
    for (int h = 0; h < 24; ++h)
        s += QString::number(cell.ngCounts[h]) + QLatin1Char(' ');
    s += QStringLiteral("' where name ='C%1_D%2'").arg(camera).arg(detect);
    return s;
}

void ResStatistics::readGrid(StatisticsGrid &grid, QSqlQuery &q)
{
    grid = StatisticsGrid();
    for (int c = 0; c < cameraRows(); ++c)
        readRow(grid.cameraNodes[c], c, q);
    readRow(grid.allCameras, 8, q);
}

void ResStatistics::readRow(StatisticsNode &node, int camera, QSqlQuery &q)
{
    const QString select = QStringLiteral("select value1 ,value2 from resstatistics where name='C%1_D%2'");
    for (int d = 0; d < slotRows(); ++d)
        readCell(node.slotCells[d], select.arg(camera).arg(d), q);
    readCell(node.cell, select.arg(camera).arg(8), q);
}

bool ResStatistics::readCell(StatisticsCell &cell, const QString &statement, QSqlQuery &q)
{
    if (!q.exec(statement) || !q.next())
        return false;
    parseCounts(q.value(0).toString(), cell.okCounts);
    parseCounts(q.value(1).toString(), cell.ngCounts);
    return true;
}

int ResStatistics::parseCounts(const QString &text, int counts[24])
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList items = text.split(blanks, Qt::SkipEmptyParts);
    int read = 0;
    for (const QString &item : items) {
        if (read == 24)
            break;
        bool ok = false;
        const int v = item.toInt(&ok);
        if (!ok || v < 0)
            break;
        counts[read++] = v;
    }
    return read;
}

void ResStatistics::recompute(StatisticsGrid &grid)
{
    auto sumInto = [](StatisticsCell &target, const StatisticsCell *const parts[8]) {
        for (int h = 0; h < 24; ++h) {
            qint64 ok = 0, ng = 0;
            for (int i = 0; i < 8; ++i) {
                ok += parts[i]->okCounts[h];
                ng += parts[i]->ngCounts[h];
            }
            target.okCounts[h] = saturate(ok);
            target.ngCounts[h] = saturate(ng);
        }
        target.computeSums();
    };
    const StatisticsCell *parts[8];
    for (int c = 0; c < 8; ++c) {
        StatisticsNode &n = grid.cameraNodes[c];
        for (int d = 0; d < 8; ++d) {
            n.slotCells[d].computeSums();
            parts[d] = &n.slotCells[d];
        }
        sumInto(n.cell, parts);
    }
    for (int d = 0; d < 8; ++d) {
        for (int c = 0; c < 8; ++c)
            parts[c] = &grid.cameraNodes[c].slotCells[d];
        sumInto(grid.allCameras.slotCells[d], parts);
    }
    for (int d = 0; d < 8; ++d)
        parts[d] = &grid.allCameras.slotCells[d];
    sumInto(grid.allCameras.cell, parts);
}

int ResStatistics::count(int kind, bool ok, int camera, int detect) const
{
    const StatisticsCell *c = viewGrid.cell(camera, detect);
    if (!c)
        return 0;
    switch (kind) {
    case 0: return ok ? c->dayOk : c->dayNg;
    case 1: return ok ? c->nightOk : c->nightNg;
    case 2: return ok ? c->wholeOk : c->wholeNg;
    default: return 0;
    }
}

QList<int> ResStatistics::hourValues(int kind, bool ok, int camera, int detect) const
{
    const StatisticsCell *c = viewGrid.cell(camera, detect);
    QList<int> values;
    if (!c || kind < 0 || kind > 2)
        return values;
    const int *counts = ok ? c->okCounts : c->ngCounts;
    const int first = kind == 0 ? 8 : kind == 1 ? 20 : 0;
    const int n = kind == 2 ? 24 : 12;
    for (int i = 0; i < n; ++i)
        values.append(counts[(first + i) % 24]);
    return values;
}

void ResStatistics::showLive()
{
    viewGrid = liveGrid;
    recompute(viewGrid);
}

void ResStatistics::loadView(QSqlQuery q)
{
    readGrid(viewGrid, q);
    recompute(viewGrid);
}
