#include "customionamewidget.h"

#include "ionames.h"
#include "iowidget.h"

#include "core/startup.h"
#include "core/sysparam.h"
#include "core/uitexttable.h"
#include "widgets/colorbutton.h"
#include "widgets/combobox.h"
#include "widgets/uistyle.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>

namespace {

// Terminal numbers printed on the board, one per column (inputs skip 2, outputs skip 3).
const int kInputTerminal[8] = {1, 3, 4, 5, 6, 7, 8, 9};
const int kOutputTerminal[8] = {1, 2, 4, 5, 6, 7, 8, 9};

QString terminalLabel(bool input, int column)
{
    const int n = input ? kInputTerminal[column] : kOutputTerminal[column];
    switch (gLanguage) {
    case 0:
        return (input ? QStringLiteral("输入 %1") : QStringLiteral("输出 %1")).arg(n);
    case 2:
        return QString();
    case 3:
        return (input ? QStringLiteral("入力 %1") : QStringLiteral("出力 %1")).arg(n);
    default:
        return (input ? QStringLiteral("Input %1") : QStringLiteral("Output %1")).arg(n);
    }
}

QLabel *makeLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFixedSize(180, 60);
    label->setFont(uiFont(30));
    label->setAlignment(Qt::AlignCenter);
    label->setStyleSheet(QStringLiteral("color:yellow;"));
    return label;
}

} // namespace

CustomIONameWidget::CustomIONameWidget(QWidget *parent, QWidget *settings, IOWidget *io)
    : QWidget(parent), m_settings(settings), m_io(io)
{
    setWindowFlags(windowFlags() | Qt::CustomizeWindowHint);
    auto *grid = new QGridLayout(this);
    grid->setSpacing(10);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    for (int c = 0; c < 8; ++c) {
        grid->addWidget(makeLabel(terminalLabel(true, c), this), 0, c);
        grid->addWidget(makeLabel(terminalLabel(false, c), this), 2, c);
        inputCombos[c] = new ComboBox(this);
        outputCombos[c] = new ComboBox(this);
        for (int i = 0; i < kIoNameCount; ++i) {
            inputCombos[c]->addItem(ioInputName(i));
            outputCombos[c]->addItem(ioOutputName(i));
        }
        for (ComboBox *combo : {inputCombos[c], outputCombos[c]}) {
            combo->setFixedSize(180, 60);
            combo->setFont(uiFont(30));
            styleComboBox(combo, 50);
        }
        grid->addWidget(inputCombos[c], 1, c);
        grid->addWidget(outputCombos[c], 3, c);
    }
    confirmButton = new ColorButton(uiText(121), this);
    confirmButton->setFixedSize(180, 70);
    grid->addWidget(confirmButton, 4, 7);
    connect(confirmButton, &QAbstractButton::clicked, this, &CustomIONameWidget::accept);
    loadNames();
}

void CustomIONameWidget::loadNames()
{
    if (!m_io)
        return;
    for (int i = 0; i < 8; ++i) {
        inputCombos[i]->setCurrentIndex(validIoNameIndex(m_io->inputNames[i], i));
        outputCombos[i]->setCurrentIndex(validIoNameIndex(m_io->outputNames[i], i));
    }
}

void CustomIONameWidget::accept()
{
    for (int i = 0; i < 8; ++i) {
        const int in = validIoNameIndex(inputCombos[i]->currentIndex(), i);
        const int out = validIoNameIndex(outputCombos[i]->currentIndex(), i);
        if (m_io) {
            m_io->inputNames[i] = in;
            m_io->outputNames[i] = out;
        }
        if (gSysParamEdit) {
            gSysParamEdit->inputNameIdx[i] = in;
            gSysParamEdit->outputNameIdx[i] = out;
        }
    }
    hide();
    if (m_io)
        m_io->refreshTexts();
    if (m_settings)
        m_settings->show();
}

void CustomIONameWidget::showEvent(QShowEvent *event)
{
    if (parentWidget())
        move((parentWidget()->width() - width()) / 2, (parentWidget()->height() - height()) / 2);
    QWidget::showEvent(event);
}

void CustomIONameWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (gPixBackground && !gPixBackground->isNull())
        p.drawPixmap(rect(), *gPixBackground);
    else
        p.fillRect(rect(), QColor(60, 70, 80));
}
