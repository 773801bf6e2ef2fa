// Login level, automatic logout, screen-off timer and the heartbeat lamp.

#include "devewizard.h"
#include "mainwindowglobals.h"
#include "sysparam.h"
#include "systemhelpers.h"

#include <QTimer>

int DeVeWizard::userLevel()
{
    if (gSysParam && gSysParam->isPswUsed == 0)
        return 2;
    if (loginLevel != 0)
        return loginLevel;
    runPasswordBox();
    return loginLevel;
}

// Unlike userLevel, asks even when passwords are not in use: the advanced functions always need the
// advanced password.
bool DeVeWizard::isAdvancedUser()
{
    if (loginLevel == 2)
        return true;
    runPasswordBox();
    return loginLevel == 2;
}

void DeVeWizard::TimerLogout()
{
    logoutTimer->stop();
    loginLevel = 0;
}

void DeVeWizard::TimerLCD()
{
    lcdTimer->stop();
    setBacklight(0);
}

// Lamp 5 blinks with a two-second period while the cycle runs and stays lit while it is stopped.
void DeVeWizard::SlotFPS()
{
    if (runState != 3) {
        gHeartbeatOn = !gHeartbeatOn;
        setLed(5, gHeartbeatOn ? 0 : 1);
    } else {
        setLed(5, 1);
    }
}
