#include "mapplication.h"

#include <QFont>

MApplication *gApp = nullptr;

MApplication::MApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // Every text of the box is drawn in this one font, which covers all four languages.
    setFont(QFont(QStringLiteral("WenQuanYi Micro Hei")));
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
