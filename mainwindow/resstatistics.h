#pragma once
// The statistics store: hourly OK and NG counts per camera and detection slot over a statistics day
// that starts at 08:00, kept in "ResStatistics.db" and archived day by day into "./ResStatistics".
// GUI thread only: the machine cycle counts, the statistics page reads.

#include <QDir>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <cstdint>

// The counts of one camera and one detection slot, or of an aggregate.
struct StatisticsCell
{
    int okCounts[24] = {}; // by hour of the local clock
    int ngCounts[24] = {};
    // Derived from the hourly counts; the day shift is hours 8 to 19, the night shift the others.
    int dayNg = 0, dayOk = 0, nightNg = 0, nightOk = 0, wholeNg = 0, wholeOk = 0;

    // Recomputes the six sums, added in 64 bits and saturated to the int range.
    void computeSums();
};

// One camera's cell (slot 8 = all its slots) with its eight slot cells; the all-cameras node likewise.
struct StatisticsNode
{
    StatisticsCell cell;
    StatisticsCell slotCells[8];
};

// Cells (camera, slot), each 0..8, 8 standing for all of them.
struct StatisticsGrid
{
    StatisticsNode allCameras;
    StatisticsNode cameraNodes[8];

    // Null for an index outside 0..8.
    StatisticsCell *cell(int camera, int detect);
    const StatisticsCell *cell(int camera, int detect) const;
    StatisticsNode &node(int camera) { return camera == 8 ? allCameras : cameraNodes[camera]; }
};

class ResStatistics
{
public:
    // How a save reaches the file. The older per-row autocommit is kept for the benchmark that
    // shows why the cycle uses one transaction.
    enum class SaveMode { OneTransaction, RowByRow };

    // Opens "ResStatistics.db" (from the template, or built from the compiled-in SQL when the
    // template is missing) and loads the running period. The caller runs checkDate() afterwards.
    ResStatistics();
    ~ResStatistics();
    ResStatistics(const ResStatistics &) = delete;
    ResStatistics &operator=(const ResStatistics &) = delete;

    // Counts one result of `camera` (0..8) in `detect` (0..8) at `hour` (0..23), saves the running
    // grid and refreshes the statistics page when it shows the running period. 1 when counted, 0 for
    // an index out of range (nothing counted).
    int addResult(int hour, bool ok, int camera, int detect, SaveMode mode = SaveMode::OneTransaction);

    // Archives the running period and starts a new one when the statistics day of now differs from
    // the running one. A day whose archive cannot be made is kept running, and tried again later.
    void checkDate();

    // One sum of view cell (camera, detect): kind 0 day shift, 1 night shift, 2 whole day; 0 for any
    // other kind or index.
    int count(int kind, bool ok, int camera, int detect) const;
    // Hourly values of view cell (camera, detect): kind 0 hours 8..19, kind 1 hours 20..23 then 0..7,
    // kind 2 hours 0..23; empty for any other kind or index.
    QList<int> hourValues(int kind, bool ok, int camera, int detect) const;

    // View := running counts, aggregates recomputed.
    void showLive();
    // View := the grid read through `query` (a query on an archived file), aggregates recomputed.
    void loadView(QSqlQuery query);

    // Writes the running grid into "ResStatistics.db". False when the file cannot be opened or a
    // statement failed (then nothing of this save is kept).
    bool save(SaveMode mode = SaveMode::OneTransaction);

    // The statement that stores one cell as row "C<camera>_D<detect>"; values are our own numbers.
    static QString updateRowStatement(const StatisticsCell &cell, int camera, int detect);
    // Reads up to 24 counts from a stored value text; stops at the first item that is not a count
    // (later hours keep what they held). Returns how many were read.
    static int parseCounts(const QString &text, int counts[24]);
    // Recomputes every aggregate cell and sum of `grid` from its detailed cells.
    static void recompute(StatisticsGrid &grid);

    StatisticsGrid liveGrid;
    StatisticsGrid viewGrid;
    QSqlDatabase db; // "dbResStatistics" on "ResStatistics.db"
    QSqlQuery query;
    uint32_t periodStart = 0; // seconds since the epoch of 08:00 on the period's first day
    QString periodDate;       // "yyyy-MM-dd" of periodStart
    QDir archiveDir;          // "./ResStatistics"

private:
    bool openDatabase();
    bool tableMissing = false; // the file opened, but its table could not be built
    void loadPeriodStart();
    void writePeriodStart();
    bool rollover(const QString &newDate);
    bool writeRows(const StatisticsNode &node, int camera);
    void readGrid(StatisticsGrid &grid, QSqlQuery &q);
    void readRow(StatisticsNode &node, int camera, QSqlQuery &q);
    static bool readCell(StatisticsCell &cell, const QString &statement, QSqlQuery &q);

    bool m_archiveFailureLogged = false;
};

// The store; created by the main window when statistics are enabled, else null. GUI thread.
extern ResStatistics *gStatisticsStore;

// The statistics day (08:00 to 08:00) that `localTime` falls in, named by the date of its start.
QDate statisticsDay(const QDateTime &localTime);
