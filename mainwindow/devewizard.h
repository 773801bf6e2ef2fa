#pragma once
// The one top-level window and owner of everything that runs the box: database connections,
// parameters, camera views, pages, timers and the machine cycle. GUI thread only.

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QWidget>

class CammerWidget;
class IOStatusWidget;

class DeVeWizard : public QWidget
{
    Q_OBJECT
public:
    DeVeWizard();
    ~DeVeWizard() override;

    QSqlDatabase paramDb; // "dbIn" on PARAM.db
    QSqlDatabase snDb;    // "dbT" on SN.db
    // Used by the parameter, region-table and serial stores for the whole run.
    QSqlQuery *paramQuery = nullptr;
    QSqlQuery *snQuery = nullptr;

    int moldSide = 0;    // written by the parameter loader, then by the machine cycle
    int screenOff = 0;   // 1 while the backlight is off
    int runState = 1;    // 1 detecting, 2 learning templates, 3 stopped
    int alarmState = 0;  // 0 normal, 1 result shown, 2 NG alarm latched, 3 alarm review
    int currentSlot = 1; // detection slot of the running cycle step

    // Camera view per camera position; the first gCameraCount are in use, the rest null.
    CammerWidget *cammerWidgets[8] = {};

    // Bottom status strip of the I/O points.
    IOStatusWidget *ioStatusWidget = nullptr;

    // Result-image folders per camera and detection slot: [0] NG, [1] OK.
    QDir recordDirs[8][8][2];

public slots:
    // The machine-cycle poll, run on every input change of the I/O board.
    void Run();

private:
    void runPendingUpdate();
    void openDatabases();
    void installCoreHooks();
    void createCameraViews();
    void startResultImageSaver();
    void stopResultImageSaver();
    void loadParameters();
    void createIoBoardLink();
};

// The main window; set by its constructor first thing, valid for the rest of the run. GUI thread.
extern DeVeWizard *gMainWindow;
