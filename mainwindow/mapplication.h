#pragma once
// The application object: sees every press first to keep the logout and screen-off timers running,
// wakes a dark screen, and on a box running simulated cameras leads a long press to the touch-screen
// calibration. GUI thread only.

#include <QApplication>
#include <QTimer>

class MApplication : public QApplication
{
    Q_OBJECT
public:
    // GUI thread, first thing in main. The long-press timer is created, not started.
    MApplication(int &argc, char **argv);

    // Tests only the event type for every event; presses and releases are handled as described in
    // the source. A press on a dark screen only wakes it and goes no further.
    bool notify(QObject *object, QEvent *event) override;

    // Called by the network dialogs after they close.
    void stopLongPressTimer();

    QTimer *longPressTimer = nullptr;
    bool calibrateOnRelease = false;

public slots:
    // 5 s after a press that is still held: arms the calibration for the release on a box whose
    // first camera view is simulated.
    void onLongPressTimeout();

private:
    bool onPress();
    void onRelease();
};

// The application object, set by main.
extern MApplication *gApp;
