#pragma once
// ComboBox: the drop-down list of the pages. Its popup is a QListView (kept in `listView`) so that
// the style sheet can set the item height (styleComboBox); the chart page sets its font on both.
// GUI thread only.

#include <QComboBox>

class QListView;

class ComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit ComboBox(QWidget *parent = nullptr);

    QListView *listView = nullptr;
};
