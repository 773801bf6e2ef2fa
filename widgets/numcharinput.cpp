#include "numcharinput.h"

#include "uitexttable.h"

#include <QGridLayout>
#include <QPushButton>

NumCharInput *gNumCharInput = nullptr;

NumCharInput *numCharInput()
{
    if (!gNumCharInput)
        gNumCharInput = new NumCharInput(nullptr);
    return gNumCharInput;
}

namespace {
// The three letter rows and what the same keys type on the symbol page (the same count per row).
const char *const kLetterRows[3] = {"qwertyuiop", "asdfghjkl", "zxcvbnm,."};
const char *const kSymbolRows[3] = {"!@#$%^&*()", "-_=+[]{};", ":'\"<>/?\\|"};
} // namespace

NumCharInput::NumCharInput(QWidget *parent) : Keypad(parent)
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setSpacing(6);
    for (int i = 0; i < 10; ++i) {
        const QString d = QString::number((i + 1) % 10);
        addTextKey(grid, d, d, 0, i);
    }
    addActionKey(grid, QStringLiteral("bs"), 0, 10, 2, [this] { backspace(); });
    for (int r = 0; r < 3; ++r) {
        const QString letters = QString::fromLatin1(kLetterRows[r]);
        // Rows step in by half a key, as on a real keyboard; the shift key fills the last row's start.
        const int first = r == 2 ? 2 : r;
        for (int i = 0; i < letters.size(); ++i)
            addTextKey(grid, letters.mid(i, 1), letters.mid(i, 1), r + 1, first + i);
    }
    addActionKey(grid, QStringLiteral("shift"), 3, 0, 2, [this] {
        m_capitals = !m_capitals;
        relabel();
    });
    addActionKey(grid, QStringLiteral("symbols"), 4, 0, 2, [this] {
        m_symbols = !m_symbols;
        relabel();
    });
    addActionKey(grid, QStringLiteral("space"), 4, 2, 7, [this] { typeText(QStringLiteral(" ")); });
    addActionKey(grid, QStringLiteral("ok"), 4, 9, 3, [this] { confirm(); });
    addActionKey(grid, QStringLiteral("clear"), 2, 10, 2, [this] { clearField(); });
    retranslate();
}

void NumCharInput::relabel()
{
    for (int r = 0; r < 3; ++r) {
        const QString letters = QString::fromLatin1(kLetterRows[r]);
        const QString symbols = QString::fromLatin1(kSymbolRows[r]);
        for (int i = 0; i < letters.size(); ++i) {
            QString typed = m_symbols ? symbols.mid(i, 1) : letters.mid(i, 1);
            if (m_capitals && !m_symbols)
                typed = typed.toUpper();
            setTypedText(key(letters.mid(i, 1)), typed);
        }
    }
    // Shift means nothing on the symbol page.
    key(QStringLiteral("shift"))->setEnabled(!m_symbols);
    retranslate();
}

void NumCharInput::retranslate()
{
    key(QStringLiteral("bs"))->setText(uiText(157));
    key(QStringLiteral("clear"))->setText(uiText(625));
    key(QStringLiteral("space"))->setText(uiText(626));
    key(QStringLiteral("ok"))->setText(uiText(121));
    // Each toggle names what it switches to.
    key(QStringLiteral("shift"))->setText(uiText(m_capitals ? 158 : 159));
    key(QStringLiteral("symbols"))->setText(uiText(m_symbols ? 442 : 441));
}
