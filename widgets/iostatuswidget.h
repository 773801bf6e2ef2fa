#pragma once
// IOStatusWidget: the status strip at the bottom of the main window: the lamps of the four machine
// inputs and the four outputs that the box drives, under their I/O point names, and at its right end
// the time and the last cycle time (DeVeWizard::cycleTenths / 10 s, read through widgetHooks).
// While the board is silent (gIoBoardSilent) the lamps are drawn as grey discs and the names grey.
// GUI thread only.

#include <QWidget>

class IOStatusWidget : public QWidget
{
    Q_OBJECT
public:
    // Points 0-3 are inputs 0-3, points 4-7 outputs 0-3, named by gIoPointNames.
    static constexpr int kPoints = 8;

    explicit IOStatusWidget(QWidget *parent = nullptr);

    // Where point `point` draws its lamp and its name.
    QRect lampRect(int point) const;
    QRect nameRect(int point) const;
    // Where the time and cycle text stands, right of the last point.
    QRect cycleRect() const;
    // Row 110 ("%1  Cycle %2S"): %1 the time of day, %2 the last cycle time in seconds.
    static QString cycleText();
    // The level a point shows: ControlPort::getIO of gControlPort, 0 while there is none.
    static int pointLevel(int point);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect cellRect(int point) const;
    // The points share this part of the width; the cycle text has the rest.
    int pointsWidth() const;
};
