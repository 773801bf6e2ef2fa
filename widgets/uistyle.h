#pragma once
// The shared look of every page: the one interface font and the style texts that the dialogs, combo
// boxes and scroll areas share, plus the auto-repeat of the step buttons. GUI thread only.

#include <QFont>
#include <QString>

class QAbstractButton;
class QAbstractItemDelegate;
class QComboBox;
class QWidget;

// The family every text of the box is drawn in.
extern const char *const kUiFontFamily; // "wqy-microhei"

// The interface font at `pixelSize` px. The family name is the box's own; on a desktop where the font
// is installed under its full name, the name is mapped onto it.
QFont uiFont(int pixelSize);

// The application font of the box: what every widget without a font of its own draws with. The
// program and the screenshot tools set it on their application object.
QFont boxApplicationFont();

// Sets on `widget` the shared grey dialog style followed by `extra`.
void dialogStyleSheet(QWidget *widget, const QString &extra);

// The common grey scroll-area style text.
QString scrollAreaStyleSheet();

// Sets `delegate` on the box (when given) and the common combo style followed by `extra`.
void comboBoxStyleSheet(QComboBox *box, QAbstractItemDelegate *delegate, const QString &extra);

// Popup items `itemHeight` px high (a finger's width; the pages use 50): the style rule, and the list's
// entries held at that height by setComboItemHeight.
void styleComboBox(QComboBox *box, int itemHeight);

// The entries of the box's opened list `itemHeight` px high whatever style sheet the page holding it
// has (a style rule on the entries alone gives way to it). Replaces the box's item delegate.
void setComboItemHeight(QComboBox *box, int itemHeight);

// Where the last line of a caption should begin when the greedy line breaking began it at `lastStart`,
// the line before it at `prevStart` (positions in `text`): a last line of a single character ("パスワード変
// / 更") takes more of the line before, from its last place where a line may break ("パスワード / 変更"),
// or its last character where the break already fell inside a word. A last line of more than one
// character, or a one-letter word of its own, keeps its start.
int captionLastLineStart(const QString &text, int prevStart, int lastStart);

// Held step buttons repeat: first repeat after 300 ms, then every 50 ms.
void setButtonAutoRepeat(QAbstractButton *button);

// Paints the boxes' background picture (gPixBackground) over `widget`, or plain grey without it, with
// the box border.
void paintBoxBackground(QWidget *widget);
