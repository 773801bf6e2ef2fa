#pragma once
// IOWidget: the multiple-detection I/O page reached from the settings screen: for 2 to 8 detections of
// a cycle, which input triggers each detection, which outputs each one owns (at most one owner per
// output, later detections owning outputs further right) and what each cuts on NG. It edits the working
// copy on its own Confirm; the settings screen's Confirm saves it. GUI thread only.

#include <QWidget>

class ColorButton;
class ComboBox;
class IOCheckComBO;

class IOWidget : public QWidget
{
    Q_OBJECT
public:
    explicit IOWidget(QWidget *parent = nullptr);

    // Takes the values in force (bounded: a count outside 2..8 becomes 2, an owner outside the shown
    // rows none, an input outside 0..count-1 the nearest one, a name index outside 0..15 the default).
    void loadValues();
    // Trigger items and box labels from inputNames/outputNames (after the I/O names page changed them).
    void refreshTexts();

    int count = 2;
    int outputOwner[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    int rowCutMode[8] = {};
    int inputNames[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    int outputNames[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    ComboBox *countCombo = nullptr;
    IOCheckComBO *rows[8] = {};
    ColorButton *confirmButton = nullptr;
    ColorButton *resetButton = nullptr;
    ColorButton *namesButton = nullptr;

signals:
    void currentIndexChanged(int index);
    // The I/O names page is asked for.
    void namesRequested();

public slots:
    void reset();
    void SlotChangeDetectNum(int index);
    void SlotClickCheckBox(int row, int column, int state);
    bool CheckStatus(int row, int column);
    void SlotChangeTrigin(int row, int input);
    void accept();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    friend class IOCheckComBO;
    // Box (row, column) was checked or unchecked by a click or by the page.
    void boxChanged(int row, int column, bool checked);
    // Greys every box that an owned box forbids, and frees the rest.
    void applyLocks();
    void setBoxCheckable(int row, int column, bool checkable);
    bool m_rebuilding = false;
};
