#pragma once
// IOCheckComBO: one detection row of the multiple-detection I/O page: the input that triggers it, a
// box per output it may own, and what it cuts on NG. GUI thread only.

#include <QWidget>

class CheckBox;
class ComboBox;
class IOWidget;
class QLabel;

class IOCheckComBO : public QWidget
{
    Q_OBJECT
public:
    IOCheckComBO(IOWidget *parent, const QString &label, int boxCount, int row);

    // Refills the trigger list with inputs first..count-1; the choice stays when it is still in the list,
    // else it becomes `first`; with first >= count only input count-1 is offered.
    void fillTrigger(int first, int count);
    // Trigger items and box labels from the page's current names.
    void refreshTexts(int count);
    void setCutMode(int mode);

    CheckBox *box(int k) const { return boxes[k]; }

    int rowIndex = 0;
    int selectedInput = 0;
    int firstInput = 0;
    ComboBox *triggerCombo = nullptr;
    ComboBox *cutModeCombo = nullptr;
    CheckBox *boxes[8] = {};

signals:
    void clickeCheckBox(int row, int column, int state);
    void changeTrigin(int row, int input);

public slots:
    void SlotChangeTrigin(int comboIndex);
    void SlotChangeCutMode(int index);
    // Box k's stateChanged: the page takes or frees output k for this row, then the row tells it.
    void Slotclick0(int state) { Slotclick(0, state); }
    void Slotclick1(int state) { Slotclick(1, state); }
    void Slotclick2(int state) { Slotclick(2, state); }
    void Slotclick3(int state) { Slotclick(3, state); }
    void Slotclick4(int state) { Slotclick(4, state); }
    void Slotclick5(int state) { Slotclick(5, state); }
    void Slotclick6(int state) { Slotclick(6, state); }
    void Slotclick7(int state) { Slotclick(7, state); }

private:
    void Slotclick(int k, int state);

    IOWidget *m_page;
    QLabel *m_label = nullptr;
};
