#pragma once
// What the settings actions that end the run (language, clock, calibration, shutdown, exit) and the
// record page need of the main window and of the process. The defaults act on the process itself
// (pause, stop flag, exit) and find the live record by its connection name; the main window installs
// the rest at start-up, and tests replace them all with recorders. Record lines go through
// confirmActions().insertRecord. GUI thread only.

#include <QDir>
#include <QSqlDatabase>

#include <functional>

struct EndingActions
{
    EndingActions();
    // stopAndWait of the process: the run flag cleared, a second for the workers to see it.
    std::function<void()> stopAndWait;
    // DeVeWizard::FLushAll: closes the SN, parameter and record databases.
    std::function<void()> flushAll;
    // quitApp: ends the process with `status`; in the real program it does not return.
    std::function<void(int status)> quitApp;
    // Blocks the GUI thread for `ms` milliseconds (the settling waits before a restart).
    std::function<void(int ms)> pause;
    // DeVeWizard::ClearRecord and DeVeWizard::CountWrite.
    std::function<void()> clearRecord;
    std::function<void()> countWrite;
    // The live "RECORD.db" connection and the folder of the daily archives.
    std::function<QSqlDatabase()> liveRecordDb;
    std::function<QDir()> recordArchiveDir;
};

EndingActions &endingActions();
