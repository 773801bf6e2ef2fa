#pragma once
// The temperature history of the thermal cameras' temperature regions: one row per detection pass in
// table "camera<n>" of "TemperatureData.db", in-memory series of the running day for the charts, and
// a daily archive into "./TemperatureData". GUI thread only (detection pass, roll-over, chart page).

#include <QDir>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointF>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

class QListWidgetItem;

// Series key ("D<slot>_T<region>") to its points: x milliseconds since the epoch, y degrees.
using SeriesMap = QMap<QString, QList<QPointF>>;

class TemperatureChartData : public QObject
{
    Q_OBJECT
public:
    // The store, created at the first call. GUI thread.
    static TemperatureChartData *instance();
    ~TemperatureChartData() override;

    // Regions per detection slot in the table; a row's columns: insertTime, then per slot its time
    // and regions 0..9.
    static constexpr int kRegionsPerSlot = 10;
    // The live series keep at least a day of points: a point is dropped once it is more than this
    // far behind the newest point of its series (the database keeps every row).
    static constexpr qint64 kLiveWindowMs = 25LL * 3600 * 1000;

    // One row of one pass: regions, times and values are parallel, one entry per measured region.
    // Regions without a column in the table are left out and logged; the rest is stored.
    void insertRecord(int camera, int detect, QVector<int> regions, QVector<qint64> times,
                      QVector<double> values);
    // One point of the running day's series (camera 0..7).
    void appendLive(int camera, const QString &key, double x, double y);
    // The points of one series of the day selected; empty for an unknown camera or key.
    QList<QPointF> series(int camera, const QString &key) const;
    // Moves the running day's database into the archive folder as "<name>.db" ("<name>_<n>.db" when
    // that day is archived already) and starts an empty one. False when nothing was moved.
    bool archive(const QString &name);

    // Reads the running day's rows into liveRecords.
    void loadLive();
    // Reads every camera's table of the open database into `out`; false (out untouched) when the
    // database cannot be opened.
    bool loadRecords(QList<SeriesMap> &out);

    QSqlDatabase database; // "Temperature"; closed between operations
    QDir recordDir;        // "./TemperatureData"
    QString dayText;       // the day of construction, "yyyy-MM-dd"
    QString shownDayText;  // text of the day last selected
    bool showingToday = false;
    QList<SeriesMap> shownRecords; // by camera position
    QList<SeriesMap> liveRecords;  // by camera position

public slots:
    // Selects the day to show by the item's text: the running day, or an archive read from disk.
    void UpdateRecord(QListWidgetItem *item);

private:
    TemperatureChartData();
    bool openRunning();
    static void trimLive(QList<QPointF> &points);
};

// The store once created, else null. GUI thread.
extern TemperatureChartData *gTemperatureChartData;
