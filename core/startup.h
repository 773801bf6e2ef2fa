#pragma once
// Process-wide resources made at start: the interface pixmaps, the mutexes shared between threads,
// the LED descriptor, and the version and camera count published in cnt_net/config.json.

#include <QDateTime>
#include <QMutex>
#include <QPixmap>
#include <QString>
#include <QStringList>

// The program version text: four dot-separated numbers; heads every log file.
extern const char *const kVersionText;

// Descriptor of "/dev/led", negative when it could not be opened (LED calls then do nothing).
extern int gLedFd;

// Guards the I/O input and output words between IOThread and ControlPort.
extern QMutex *gIoMutex;
// Guards the result-image hand-over buffers between the camera views and the image saver.
extern QMutex *gFailImageMutex;
// One pair per camera position, made at start for all eight positions.
extern QMutex *gCameraMutexes[8];
extern QMutex *gCameraMutexes2[8];
extern bool gCameraFlags[8];

// Filled before main runs (initMainGlobals); see startup.cpp.
extern QStringList ArchiveSuffixes;
extern QStringList PaletteNames;
extern QString gAppDirPath;
extern QString gTemplateTimeText;

// Number of cameras in use (0..8), written by the main window's constructor.
extern int gCameraCount;

// The 19 interface pixmaps, loaded by loadUiPixmaps from ./images/ (an absent file gives an empty one).
extern QPixmap *gPixLogo, *gPixBackground, *gPixTitle, *gPixLine, *gPixEdit, *gPixSliderU, *gPixSliderD,
    *gPixSliderT, *gPixButtonU, *gPixButtonD, *gPixOut1, *gPixOut0, *gPixOrigin, *gPixMoveUp, *gPixMoveDown,
    *gPixMoveLeft, *gPixMoveRight, *gPixEnlargeScale, *gPixReductionScale;

// The files loadUiPixmaps reads, in its order.
QStringList uiPixmapFiles();

// GUI thread, after the application object exists.
void loadUiPixmaps();

// Creates gIoMutex, gFailImageMutex and the per-camera mutexes and flags, before any thread or
// window that takes them exists.
void createProcessMutexes();

// Ignores SIGXFSZ for the whole process and the programs it starts: a file size limit set on the box
// (a launcher's "ulimit -f", prlimit) then makes a write beyond it fail with EFBIG, which every writer
// reports and survives, where the signal would end the box with the clamp word it last sent. Called
// first in main, before any thread exists.
void ignoreFileSizeSignal();
// Ignores SIGPIPE in the box alone: standard error a pipe whose reader has gone (a launcher's "| tee"
// ended) then costs the lines written there, where the signal would end the box with the clamp word it
// last sent. The programs it starts have the signal at its default again. Called first in main.
void ignoreBrokenPipeSignal();

// Raises the I/O privilege level (ignored where refused or not available) and opens "/dev/led".
void openPlatformDevices();

// Rewrites "version" and "camcount" of cnt_net/config.json, keeping every other key. The file is
// replaced atomically because the reporting process reads it; an unwritable file is left as it was.
void writeNetConfig();

// Removes the atomic writer's temporary files older than `startedAt` that a killed earlier run left in
// the folders the box writes: the working directory itself, and below "alarmimage", "originalimage",
// the template folders "cammer<camera><slot>", "cnt_net" and "paraGroup". Logs how many went.
void removeStaleWriteTemporaries(const QDateTime &startedAt);
