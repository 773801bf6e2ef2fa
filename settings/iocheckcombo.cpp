#include "iocheckcombo.h"

#include "ionames.h"
#include "iowidget.h"

#include "core/uitexttable.h"
#include "widgets/checkbox.h"
#include "widgets/combobox.h"
#include "widgets/uistyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

IOCheckComBO::IOCheckComBO(IOWidget *parent, const QString &label, int boxCount, int row)
    : QWidget(parent), rowIndex(row), m_page(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setSpacing(10);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setContentsMargins(0, 0, 0, 0);
    const QFont font = uiFont(28);
    if (!label.isEmpty()) {
        m_label = new QLabel(label, this);
        m_label->setFixedSize(150, 40);
        m_label->setFont(font);
        layout->addWidget(m_label);
    }
    triggerCombo = new ComboBox(this);
    triggerCombo->setFixedSize(150, 40);
    triggerCombo->setFont(font);
    styleComboBox(triggerCombo, 50);
    layout->addWidget(triggerCombo);
    for (int k = 0; k < 8 && k < boxCount; ++k) {
        boxes[k] = new CheckBox(this, ioOutputName(parent->outputNames[k]));
        boxes[k]->setFixedSize(155, 40);
        boxes[k]->setFont(font);
        layout->addWidget(boxes[k]);
        static void (IOCheckComBO::*const kClick[8])(int) = {
            &IOCheckComBO::Slotclick0, &IOCheckComBO::Slotclick1, &IOCheckComBO::Slotclick2,
            &IOCheckComBO::Slotclick3, &IOCheckComBO::Slotclick4, &IOCheckComBO::Slotclick5,
            &IOCheckComBO::Slotclick6, &IOCheckComBO::Slotclick7};
        connect(boxes[k], &QCheckBox::stateChanged, this, kClick[k]);
    }
    cutModeCombo = new ComboBox(this);
    cutModeCombo->setFixedSize(185, 40);
    cutModeCombo->setFont(font);
    for (int row : {474, 475, 523})
        cutModeCombo->addItem(uiText(row));
    styleComboBox(cutModeCombo, 50);
    layout->addWidget(cutModeCombo);
    connect(triggerCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &IOCheckComBO::SlotChangeTrigin);
    connect(cutModeCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &IOCheckComBO::SlotChangeCutMode);
}

void IOCheckComBO::Slotclick(int k, int state)
{
    m_page->boxChanged(rowIndex, k, state != 0);
    emit clickeCheckBox(rowIndex, k, state);
}

void IOCheckComBO::fillTrigger(int first, int count)
{
    const QSignalBlocker block(triggerCombo);
    triggerCombo->clear();
    if (first >= count) {
        first = count - 1;
        selectedInput = count - 1;
    }
    first = qMax(0, first);
    firstInput = first;
    selectedInput = qBound(first, selectedInput, count - 1);
    for (int i = first; i < count; ++i)
        triggerCombo->addItem(ioInputName(m_page->inputNames[i]));
    triggerCombo->setCurrentIndex(selectedInput - first);
}

void IOCheckComBO::refreshTexts(int count)
{
    for (int i = 0; i < triggerCombo->count(); ++i)
        triggerCombo->setItemText(i, ioInputName(m_page->inputNames[qMin(firstInput + i, 7)]));
    for (int k = 0; k < 8; ++k) {
        if (!boxes[k])
            continue;
        boxes[k]->setText(ioOutputName(m_page->outputNames[k]));
        boxes[k]->setVisible(k < count);
    }
}

void IOCheckComBO::setCutMode(int mode)
{
    const QSignalBlocker block(cutModeCombo);
    cutModeCombo->setCurrentIndex(mode);
}

void IOCheckComBO::SlotChangeTrigin(int comboIndex)
{
    if (comboIndex < 0)
        return;
    selectedInput = firstInput + comboIndex;
    emit changeTrigin(rowIndex, selectedInput);
}

void IOCheckComBO::SlotChangeCutMode(int index)
{
    if (index >= 0 && rowIndex >= 0 && rowIndex < 8)
        m_page->rowCutMode[rowIndex] = index;
}
