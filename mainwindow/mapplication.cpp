#include "mapplication.h"

MApplication *gApp = nullptr;

MApplication::MApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    longPressTimer = new QTimer(this);
    connect(longPressTimer, &QTimer::timeout, this, &MApplication::onLongPressTimeout);
}

void MApplication::stopLongPressTimer()
{
    longPressTimer->stop();
}

void MApplication::onLongPressTimeout()
{
    // The calibration prompt needs the camera views and the boxes, which come with the main window's
    // pages; until then a long press only ends the timer.
    longPressTimer->stop();
}
