#pragma once
// The pink cancel button the network dialogs put beside their frame's OK button. GUI thread only.

#include <QString>

class CComp_DialogFrame;
class QPushButton;

// At least 100 x 50 like the OK button, so a longer caption widens it rather than being cut; a press
// rejects the dialog.
QPushButton *addDialogCancelButton(CComp_DialogFrame *dialog, const QString &caption);
