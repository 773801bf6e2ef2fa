#pragma once
// The one top-level window and owner of everything that runs the box: database connections,
// parameters, camera views, pages, timers and the machine cycle. GUI thread only.
//
// Its implementation is split by concern: devewizard.cpp (construction in its fixed order and
// destruction), operationrecord.cpp (the operation record and its daily roll-over), resultcounters.cpp
// ("count.txt"), cameralayout.cpp (view layout and zoom), loginlevel.cpp (login level, logout,
// screen-off and heartbeat timers), pageactions.cpp (menu bar, its page actions, keypads and touches).

#include "machinecycle.h"

#include <QDir>
#include <QRgb>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVector>
#include <QWidget>

class CammerWidget;
struct DatabaseCheck;
class CustomIONameWidget;
class DetectionMarkFile;
class LatchedAlarmKeeper;
class DrawROIWidget;
class HardwareConfigurationWidget;
class HelpWidget;
class IndexButton;
class IOStatusWidget;
class PasswordDialog;
class QAbstractButton;
class QTimer;
class WidgetChangeCamera;
class WizardParaWidget;

class DeVeWizard : public QWidget, public CycleWindowState
{
    Q_OBJECT
public:
    // Builds the whole box in its fixed start-up order; returns it built, not shown.
    DeVeWizard();
    // Stops the saver thread and the window's timers, removes the hooks it installed and closes its
    // databases, so that a window can also be built and destroyed inside one process (tests).
    ~DeVeWizard() override;

    QSqlDatabase recordDb; // "dbRecord" on RECORD.db
    QSqlDatabase paramDb;  // "dbIn" on PARAM.db
    QSqlDatabase snDb;     // "dbT" on SN.db
    // Used by the parameter, region-table and serial stores for the whole run.
    QSqlQuery *paramQuery = nullptr;
    QSqlQuery *snQuery = nullptr;

    // moldSide, screenOff, runState, alarmState, detectStatus, currentSlot, manualTrigSlot,
    // cycleTenths and cycleMarkTenths come from CycleWindowState.
    int loginLevel = 0;    // 0 not logged in, 1 basic user, 2 advanced user

    // The moulding cycle and detection control (machinecycle*.cpp, detectioncontrol.cpp); made by
    // the constructor, lives as long as the window.
    MachineCycle *machineCycle = nullptr;
    // The latch kept on disk while it lasts, and the mark of a detection under way.
    LatchedAlarmKeeper *latchKeeper = nullptr;
    DetectionMarkFile *detectionMark = nullptr;
    // The start/stop button's own password prompt (stopping needs the password while the login is
    // off); made at its first use and kept.
    PasswordDialog *stopPasswordDialog = nullptr;

    // Camera view per camera position; the first gCameraCount are in use, the rest null.
    CammerWidget *cammerWidgets[8] = {};
    // The camera shown alone; gCameraCount means all cameras tiled.
    int shownCamera = 0;

    // Pages; null until their page is part of the program.
    IOStatusWidget *ioStatusWidget = nullptr;
    IndexButton *indexButton = nullptr;
    DrawROIWidget *drawROIWidget = nullptr;
    WizardParaWidget *paraWidget = nullptr;
    HelpWidget *helpWidget = nullptr;
    WidgetChangeCamera *changeCameraWidget = nullptr;
    CustomIONameWidget *customIONameWidget = nullptr;
    HardwareConfigurationWidget *hardwareWidget = nullptr;

    // Result-image folders per camera and detection slot: [0] NG, [1] OK.
    QDir recordDirs[8][8][2];

    // Day of the running "RECORD.db" (yyyy-MM-dd) and the archive folders.
    QString recordDate;
    QDir recordArchiveDir;
    QDir statisticsArchiveDir;

    // Zoom of the enlarged camera view: picture point p is drawn at p * zoomScale + offset.
    double zoomOffsetX = 0.0;
    double zoomOffsetY = 0.0;
    double zoomScale = 1.0;
    int zoomAnchorX = 0; // the screen point kept in place while zooming
    int zoomAnchorY = 0;
    int zoomButtonMode = 0; // 0 zoom buttons hidden, 1 the enlarge button, 2 all seven

    // One camera cell relative to the image and to the screen.
    float cellScaleX = 1.0f;
    float cellScaleY = 1.0f;
    float cellScreenX = 1.0f;
    float cellScreenY = 1.0f;

    // Colour table of 8-bit pictures: entry i is the opaque grey i.
    QVector<QRgb> grayColorTable;

    QTimer *logoutTimer = nullptr;
    QTimer *lcdTimer = nullptr;
    QTimer *dateTimer = nullptr;
    QTimer *fpsTimer = nullptr;
    QTimer *countTimer = nullptr; // stores the result counters once a second when they changed
    QTimer *zoomTimer = nullptr;

    QAbstractButton *enlargeButton = nullptr;
    QAbstractButton *recoveryButton = nullptr;
    QAbstractButton *reductionButton = nullptr;
    QAbstractButton *moveUpButton = nullptr;
    QAbstractButton *moveDownButton = nullptr;
    QAbstractButton *moveLeftButton = nullptr;
    QAbstractButton *moveRightButton = nullptr;

    // The effective login level: 2 when passwords are not in use, else the level logged in, asking
    // for the password when nobody is (0 when the box is cancelled).
    int userLevel();
    // True when the user is, or by the password asked now becomes, an advanced user.
    bool isAdvancedUser();

public slots:
    // The machine-cycle poll, run on every input change of the I/O board.
    void Run();

    // Operation record (operationrecord.cpp).
    void InsertRecord(const QString &remarks);
    void ClearRecord();
    // Closes the three databases before a restart; blocks 500 ms.
    void FLushAll();
    // At quit (the run's end and the window's destructor): a last try of the record lines that waited
    // for the disk; those still not written are counted in the log, or on standard error when the log
    // cannot take that line either.
    void endOperationRecord();
    void SlotCheckDate();

    // Result counters (resultcounters.cpp).
    void CountRead();
    void CountWrite();

    // Login and screen timers (loginlevel.cpp).
    void TimerLogout();
    void TimerLCD();
    void SlotFPS();

    // Camera layout and zoom (cameralayout.cpp).
    void ChangeCammer();
    void MShowHide(int mode);
    void MHideAll();
    void MTimerScale();
    void MScale(int direction);
    void MEnlargeScale();
    void MRecovery();
    void MReductionScale();
    void SlotMove(int dx, int dy);
    void SlotMoveT();
    void SlotMoveB();
    void SlotMoveL();
    void SlotMoveR();

    // Menu bar actions (pageactions.cpp).
    void SlotReturn();
    void SlotSystemPara();
    void SlotAdjustArea();
    // The area check after re-learning; the argument is not used.
    void CheckArea();
    void CheckArea(int);
    void SlotHelp();
    void SlotShowStatisticsWidget();

protected:
    bool eventFilter(QObject *object, QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void createMenuBar();
    void createCycle();
    bool restoreLatchedAlarm();
    void holdUnreadCameras();
    CycleHooks makeCycleHooks();
    void installEditorHooks();
    void installCycleViewHooks();
    void runPendingUpdate();
    void createLoginTimers();
    void openDatabases();
    bool checkDatabase(const QString &file, const DatabaseCheck &check, const QString &message,
                       const QStringList &copyArguments);
    void installCoreHooks();
    void loadParameters();
    QSize firstImageSize() const;
    void takeImageSizeValues();
    void showStartupNotice();
    void createGlobalBoxes();
    void createIoBoardLink();
    // At the end of start-up: detection started and the first outputs that may release the clamp.
    void decideStartOutputs();
    void watchOpeningsForTheMark();
    void buildGrayColorTable();
    void createCameraViews();
    void checkCameraSerials();
    void createPages();
    void createZoomControls();
    void createHardwarePage();
    QAbstractButton *makePictureButton(const QPixmap &picture);
    QList<QAbstractButton *> zoomButtons() const;
    void createFolders();
    void startResultImageSaver();
    void stopResultImageSaver();
    // Writes "count.txt" when the counters differ from the file (resultcounters.cpp).
    void CountWriteIfChanged();
    void startOperationRecord();
    bool openRecordDb();
    bool makeFreshRecordFile();
    // Writes the held record lines, oldest first, until one fails; true when none is left, else the
    // database's reason in `error`.
    bool writeHeldRecordLines(QString *error = nullptr);
    void runPasswordBox();
    void adoptGlobalBoxes();

    bool recordArchiveFailed = false;
    // Record lines not yet in "RECORD.db" (a full disk): time, level text, remarks, oldest first. At
    // most kMaxHeldRecordLines; beyond, the oldest go and are counted.
    struct HeldRecordLine
    {
        QString time;
        QString level;
        QString remarks;
    };
    static constexpr int kMaxHeldRecordLines = 1000;
    QList<HeldRecordLine> heldRecordLines;
    quint64 lostRecordLines = 0;
};

// The clear-serials question a start asks (row 134 on simulated cameras, 360 when the number of
// cameras found differs from the number of saved serials when any are saved, or when a saved id of
// any length is carried by no opened camera: savedCamerasNotOpen() not 0), 0 for none.
int cameraSerialQuestion(int simulatedCameras, int camerasFound, int savedSerialCount, quint32 savedNotOpen);

// Seconds of a stored timer setting as a QTimer interval: computed in 64 bits, kept in 0..INT_MAX.
int timerMsFromSeconds(int seconds);

// The main window; set by its constructor first thing, valid for the rest of the run. GUI thread.
extern DeVeWizard *gMainWindow;
