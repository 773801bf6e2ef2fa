#pragma once
// The interface texts: 2048 rows of four languages (0 Simplified Chinese, 1 English, 2 Traditional
// Chinese, 3 Japanese); the cell of row r and language l is number 4 * r + l. Filled once at start
// on the GUI thread, read-only afterwards (any thread, no lock).

#include <QString>

constexpr int kUiTextRows = 2048;
constexpr int kUiLanguages = 4;

extern QString UiTextTable[kUiTextRows * kUiLanguages];

// Current language index 0..3, from the parameters; constant for the run.
extern int gLanguage;

// Fills every listed row from the texts compiled into the program; all other cells stay empty.
// Returns the number of rows filled.
int fillUiTextTable();

// Text of `row` in `language` (default: gLanguage); empty for a row or language out of range.
const QString &uiText(int row, int language);
const QString &uiText(int row);

// Parses one cell of the compiled-in text source (\n, \r, \t and \\ escapes).
QString unescapeUiText(const QString &cell);
