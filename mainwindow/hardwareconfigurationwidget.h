#pragma once
// HardwareConfigurationWidget: the read-only page listing the box's hardware as installed, from the
// text file "conf.txt" of the working directory, with the "Count" line showing the cameras in use.
// Opened from the "Hardware" button of the settings screen's advanced page; its confirm button returns
// to the settings. GUI thread only.

#include <QList>
#include <QPair>
#include <QString>
#include <QWidget>

class ColorButton;
class QGridLayout;
class QLabel;

// One line of "conf.txt" as shown: key and value, underscores already turned into blanks; an empty
// value makes the line a heading.
using ConfEntry = QPair<QString, QString>;

class HardwareConfigurationWidget : public QWidget
{
    Q_OBJECT
public:
    // At most this many lines are read: the page holds about a dozen, and a wrong file must not
    // build thousands of labels.
    static constexpr int kMaxEntries = 100;

    // Builds the page from "conf.txt"; a missing or unreadable file gives the confirm button alone.
    // The page keeps its size whatever the file holds: the lines scroll, a text too wide for its
    // column is cut with an ellipsis, and every text is shown as written (no markup).
    explicit HardwareConfigurationWidget(QWidget *parent);
    ~HardwareConfigurationWidget() override;

    // Clears `out`, then fills it from "conf.txt" in file order; empty when the file cannot be read.
    static void readConfList(QList<ConfEntry> &out);

    // The camera count the "Count" line shows: 0 when the first camera view runs a simulated camera,
    // else gCameraCount (also without any camera view or main window).
    static int shownCameraCount();

    // The two columns of lines (key, value), inside a scroll area that fills the page above the
    // confirm button.
    QGridLayout *grid = nullptr;
    // The value label of the (last) "Count" line; null when the file has none.
    QLabel *countLabel = nullptr;
    ColorButton *confirmButton = nullptr;

public slots:
    // Hides the page and shows the settings screen again.
    void slotConfirm();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
};
