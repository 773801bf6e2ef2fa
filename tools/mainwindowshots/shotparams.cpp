#include "shotparams.h"

#include "paramstore.h"
#include "sysparam.h"
#include "uitexttable.h"

#include <QSqlDatabase>
#include <QSqlQuery>

// Through the parameter store itself, so the values land where the window's loader reads them.
bool storeShotParameters(int language, bool allMenuButtons)
{
    bool ok = false;
    {
        QSqlDatabase param =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("shotParam"));
        param.setDatabaseName(QStringLiteral("PARAM.db"));
        QSqlDatabase sn = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("shotSn"));
        sn.setDatabaseName(QStringLiteral("SN.db"));
        if (param.open() && sn.open()) {
            QSqlQuery paramQuery(param);
            QSqlQuery snQuery(sn);
            SysParam p;
            loadSysParam(&p, paramQuery, snQuery);
            gLanguage = language;
            if (allMenuButtons) {
                p.enableStatistics = 1;
                p.showManualSnap = 1;
                p.enableProdDetect = 1;
                p.tempWaveform = 1;
            }
            ok = saveSysParam(&p, paramQuery);
        }
        param.close();
        sn.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("shotParam"));
    QSqlDatabase::removeDatabase(QStringLiteral("shotSn"));
    return ok;
}
