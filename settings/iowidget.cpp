#include "iowidget.h"

#include "iocheckcombo.h"
#include "ionames.h"

#include "core/startup.h"
#include "core/sysparam.h"
#include "core/uitexttable.h"
#include "widgets/checkbox.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/uistyle.h"
#include "widgets/warnbox.h"

#include <QPainter>
#include <QSignalBlocker>

IOWidget::IOWidget(QWidget *parent) : QWidget(parent)
{
    const QSize area = parent ? parent->size() : QSize(1800, 950);
    setGeometry((area.width() - 1800) / 2, (area.height() - 950) / 2, 1800, 950);
    countCombo = new ComboBox(this);
    countCombo->setGeometry(40, 30, 150, 40);
    countCombo->setFont(uiFont(32));
    for (int row = 501; row <= 507; ++row)
        countCombo->addItem(uiText(row));
    styleComboBox(countCombo, 50);
    for (int r = 0; r < 8; ++r) {
        rows[r] = new IOCheckComBO(this, QString(), 8, r);
        rows[r]->move(30, 100 + 70 * r);
        connect(rows[r], &IOCheckComBO::clickeCheckBox, this, &IOWidget::SlotClickCheckBox);
        connect(rows[r], &IOCheckComBO::changeTrigin, this, &IOWidget::SlotChangeTrigin);
    }
    confirmButton = new ColorButton(uiText(121), this);
    confirmButton->setGeometry(1550, 855, 200, 75);
    connect(confirmButton, &QAbstractButton::clicked, this, &IOWidget::accept);
    resetButton = new ColorButton(uiText(497), this);
    resetButton->setGeometry(1320, 855, 200, 75);
    connect(resetButton, &QAbstractButton::clicked, this, &IOWidget::reset);
    // The names page is reached from here: the names label this page's choices.
    namesButton = new ColorButton(uiText(498), this);
    namesButton->setGeometry(1090, 855, 200, 75);
    connect(namesButton, &QAbstractButton::clicked, this, &IOWidget::namesRequested);
    connect(countCombo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &IOWidget::SlotChangeDetectNum);
    loadValues();
    hide();
}

void IOWidget::loadValues()
{
    const SysParam fallback;
    const SysParam &p = gSysParam ? *gSysParam : fallback;
    count = p.detectCount >= 2 && p.detectCount <= 8 ? p.detectCount : 2;
    for (int i = 0; i < 8; ++i) {
        outputOwner[i] = p.detTrigSource[i] >= 0 && p.detTrigSource[i] < count ? p.detTrigSource[i] : -1;
        rowCutMode[i] = p.detCutMode[i] >= 0 && p.detCutMode[i] <= 2 ? p.detCutMode[i] : 0;
        rows[i]->selectedInput = qBound(0, p.detCheckMask[i], count - 1);
        rows[i]->setCutMode(rowCutMode[i]);
        inputNames[i] = validIoNameIndex(p.inputNameIdx[i], i);
        outputNames[i] = validIoNameIndex(p.outputNameIdx[i], i);
    }
    {
        const QSignalBlocker block(countCombo);
        countCombo->setCurrentIndex(count - 2);
    }
    SlotChangeDetectNum(count - 2);
}

void IOWidget::SlotChangeDetectNum(int index)
{
    count = qBound(2, index + 2, 8);
    for (int r = 0; r < 8; ++r) {
        rows[r]->setVisible(r < count);
        if (r < count)
            rows[r]->fillTrigger(r == 0 ? 0 : rows[r - 1]->selectedInput, count);
    }

    // Rebuild the grid from the owners: every box free and clear, then each owned box checked again
    // through the click rules, so that stored owners that break the order lose out rather than stay.
    int owners[8];
    std::copy(std::begin(outputOwner), std::end(outputOwner), owners);
    m_rebuilding = true;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            const QSignalBlocker block(rows[r]->box(c));
            rows[r]->box(c)->setChecked(false);
            setBoxCheckable(r, c, true);
        }
    m_rebuilding = false;
    std::fill(std::begin(outputOwner), std::end(outputOwner), -1);
    for (int u = 0; u < count; ++u) {
        const int r = owners[u];
        if (r >= 0 && r < count && rows[r]->box(u)->isEnabled())
            rows[r]->box(u)->setChecked(true);
    }
    refreshTexts();
}

void IOWidget::refreshTexts()
{
    for (int r = 0; r < 8; ++r)
        rows[r]->refreshTexts(count);
}

void IOWidget::setBoxCheckable(int row, int column, bool checkable)
{
    CheckBox *box = rows[row]->box(column);
    if (!checkable && box->isChecked())
        box->setChecked(false); // clears its owner through the click path
    box->setEnabled(checkable);
    // Keep the box's own look (the large indicator) and only change the text colour.
    if (!box->property("baseStyle").isValid())
        box->setProperty("baseStyle", box->styleSheet());
    box->setStyleSheet(box->property("baseStyle").toString() +
                       (checkable ? QStringLiteral("QCheckBox{color:yellow;}")
                                  : QStringLiteral("QCheckBox{color:rgb(160,160,160);}")));
}

void IOWidget::boxChanged(int row, int column, bool checked)
{
    if (m_rebuilding || column < 0 || column >= 8)
        return;
    if (checked)
        outputOwner[column] = row;
    else if (outputOwner[column] == row)
        outputOwner[column] = -1;
}

void IOWidget::SlotClickCheckBox(int row, int column, int state)
{
    if (m_rebuilding)
        return;
    if (state != 0) {
        // Earlier rows lose this column and everything right of it, later rows it and everything left.
        for (int i = 0; i < count; ++i) {
            if (i == row)
                continue;
            const int from = i < row ? column : 0;
            const int to = i < row ? count - 1 : column;
            for (int c = from; c <= to; ++c)
                setBoxCheckable(i, c, false);
        }
    }
    applyLocks();
}

void IOWidget::applyLocks()
{
    bool locked[8][8] = {};
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < count; ++c) {
            if (!rows[i]->box(c)->isChecked())
                continue;
            for (int j = 0; j < count; ++j) {
                if (j == i)
                    continue;
                const int from = j < i ? c : 0;
                const int to = j < i ? count - 1 : c;
                for (int k = from; k <= to; ++k)
                    locked[j][k] = true;
            }
        }
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < count; ++c)
            if (rows[i]->box(c)->isEnabled() == locked[i][c])
                setBoxCheckable(i, c, !locked[i][c]);
}

bool IOWidget::CheckStatus(int row, int column)
{
    return row >= 0 && row < count && column >= 0 && column < count && rows[row]->box(column)->isEnabled();
}

void IOWidget::SlotChangeTrigin(int row, int input)
{
    // The next rows may only start at or after this input; each refill passes its choice on.
    for (int r = row + 1; r < count; ++r) {
        rows[r]->fillTrigger(input, count);
        input = rows[r]->selectedInput;
    }
}

void IOWidget::reset()
{
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) {
            rows[r]->box(c)->setChecked(false);
            setBoxCheckable(r, c, true);
        }
    std::fill(std::begin(outputOwner), std::end(outputOwner), -1);
}

void IOWidget::accept()
{
    if (outputOwner[count - 1] < 0) {
        if (gWarnBox) {
            gWarnBox->setMessage(uiText(512));
            gWarnBox->exec();
        }
        return;
    }
    if (gSysParamEdit) {
        gSysParamEdit->detectCount = count;
        for (int i = 0; i < 8; ++i) {
            gSysParamEdit->detCheckMask[i] = rows[i]->selectedInput;
            gSysParamEdit->detTrigSource[i] = outputOwner[i];
            gSysParamEdit->detCutMode[i] = rowCutMode[i];
        }
    }
    hide();
    QMetaObject::invokeMethod(parentWidget(), "DoChangePage");
}

void IOWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (gPixBackground && !gPixBackground->isNull())
        p.drawPixmap(rect(), *gPixBackground);
    else
        p.fillRect(rect(), QColor(60, 70, 80));
    p.setFont(uiFont(35));
    p.setPen(Qt::white);
    p.drawText(QRect((width() - 500) / 2, 20, 500, 50), Qt::AlignCenter, uiText(499));
}
