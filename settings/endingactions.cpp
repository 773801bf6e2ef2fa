#include "endingactions.h"

#include "core/systemhelpers.h"

#include <QThread>

EndingActions::EndingActions()
{
    stopAndWait = [] { ::stopAndWait(); };
    quitApp = [](int status) { ::quitApp(status); };
    pause = [](int ms) { QThread::msleep(ms > 0 ? ms : 0); };
    // The main window's connection is "dbRecord"; without a main window there is no live record.
    liveRecordDb = [] { return QSqlDatabase::database(QStringLiteral("dbRecord"), false); };
    recordArchiveDir = [] { return QDir(QStringLiteral("./RECORD")); };
}

EndingActions &endingActions()
{
    static EndingActions actions;
    return actions;
}
