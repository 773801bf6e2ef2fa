#pragma once
// EditDateTime: the date and time editor of the clock box ("yyyy-MM-dd hh:mm:ss"); a touch on a part
// selects it, the large arrows on either side (down left, up right) step it. GUI thread only.

#include <QDateTimeEdit>

class EditDateTime : public QDateTimeEdit
{
    Q_OBJECT
public:
    explicit EditDateTime(QWidget *parent = nullptr);

    // The editor shows the current date and time (the program's clock).
    void setCurrent();
    // Sets the machine's clock to the editor's time: "date" "-s" "yyyy-MM-dd hh:mm:ss", then
    // "hwclock" "--systohc" so that the time survives the restart; each waited for up to 3 s. The
    // results are not checked: the box restarts afterwards and shows the time it has.
    void setSystemTime();
};
