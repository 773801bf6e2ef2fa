#pragma once
// The statistics page: the running statistics day and every archived day in a list, and per camera
// tab and slot tab the shift figures and hourly charts of the day selected, read from the store's
// view grid; exports the figures shown to a USB disk. GUI thread only.

#include <QSqlDatabase>
#include <QWidget>

class CamereaTabWidget;
class QListWidget;
class QListWidgetItem;
class QTabWidget;

class StatisticsWidget : public QWidget
{
    Q_OBJECT
public:
    explicit StatisticsWidget(QWidget *parent = nullptr);
    ~StatisticsWidget() override;

    // Row 0 the running day, then the archived days, newest first; selects row 0.
    void listArchives();
    // After each counted result: shows the running figures again if the running day is selected.
    void refreshLive();

    // The figures of the store's view grid, tab-separated, one line per camera and slot tab as the
    // page offers them (UTF-8 with a byte-order mark, so a spreadsheet program reads the texts).
    static QByteArray exportText(const QString &periodName);

    QListWidget *periodList = nullptr;
    QTabWidget *cameraTabs = nullptr;
    CamereaTabWidget *cameraPages[9] = {}; // by camera tab index; tab 0 = all cameras
    QSqlDatabase archiveDb;                // "dbListRes", opened read-only on an archive

public slots:
    void SlotConfirm();
    void UpdateRecord(QListWidgetItem *item);
    void SlotExportData();

protected:
    void showEvent(QShowEvent *event) override;
};

// The page, created on first use (without parent, hidden) and never deleted. GUI thread.
extern StatisticsWidget *gStatisticsWidget;
StatisticsWidget *statisticsWidget();
