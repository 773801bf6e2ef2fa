#pragma once
// Bar chart of one shift's hourly OK and NG counts on the statistics page: per hour an OK bar and an
// NG bar side by side, the count written in each bar, and a legend. GUI thread only.

#include <QList>
#include <QWidget>

class Histogram : public QWidget
{
    Q_OBJECT
public:
    Histogram(QWidget *parent, QList<int> labels, QList<int> okValues, QList<int> ngValues);

    // New counts for the same hours; repaints.
    void setData(QList<int> okValues, QList<int> ngValues);

    QList<int> labels;
    QList<int> okValues;
    QList<int> ngValues;
    int barCount = 0; // bars drawn: the shortest of the three lists
    int maxValue = 0; // largest count of both lists, 0 when empty

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void takeValues(QList<int> ok, QList<int> ng);
};
