#pragma once
// The status strip at the bottom of the main window: the lamps of the four machine inputs and the
// four outputs that the box drives, under their I/O point names. GUI thread only.

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
    // The level a point shows: ControlPort::getIO of gControlPort, 0 while there is none.
    static int pointLevel(int point);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect cellRect(int point) const;
};
