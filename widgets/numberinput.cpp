#include "numberinput.h"

#include "uitexttable.h"

#include <QGridLayout>
#include <QPushButton>

NumberInput *gNumberInput = nullptr;

NumberInput *numberInput()
{
    if (!gNumberInput)
        gNumberInput = new NumberInput(nullptr);
    return gNumberInput;
}

// 7 8 9 BS / 4 5 6 Clear / 1 2 3 - / 0 . OK, as on a calculator.
NumberInput::NumberInput(QWidget *parent) : Keypad(parent)
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setSpacing(6);
    const char *const digits = "789456123";
    for (int i = 0; i < 9; ++i) {
        const QString d(QLatin1Char(digits[i]));
        addTextKey(grid, d, d, i / 3, i % 3);
    }
    addTextKey(grid, QStringLiteral("0"), QStringLiteral("0"), 3, 0);
    addTextKey(grid, QStringLiteral("."), QStringLiteral("."), 3, 1);
    addTextKey(grid, QStringLiteral("-"), QStringLiteral("-"), 2, 3);
    addActionKey(grid, QStringLiteral("bs"), 0, 3, 1, [this] { backspace(); });
    addActionKey(grid, QStringLiteral("clear"), 1, 3, 1, [this] { clearField(); });
    addActionKey(grid, QStringLiteral("ok"), 3, 2, 2, [this] { confirm(); });
    retranslate();
}

void NumberInput::retranslate()
{
    key(QStringLiteral("bs"))->setText(uiText(157));
    key(QStringLiteral("clear"))->setText(uiText(625));
    key(QStringLiteral("ok"))->setText(uiText(121));
}
