#pragma once
// The application object: a QApplication with the long-press timer that leads to touch calibration.

#include <QApplication>
#include <QTimer>

class MApplication : public QApplication
{
    Q_OBJECT
public:
    // GUI thread, first thing in main. The long-press timer is created, not started.
    MApplication(int &argc, char **argv);

    // Called by the network dialogs after they close.
    void stopLongPressTimer();

    QTimer *longPressTimer = nullptr;
    bool calibrateOnRelease = false;

private slots:
    void onLongPressTimeout();
};

// The application object, set by main.
extern MApplication *gApp;
