#include "combobox.h"

#include "uistyle.h"

#include <QListView>

ComboBox::ComboBox(QWidget *parent) : QComboBox(parent)
{
    listView = new QListView(this);
    setView(listView);
    setFont(uiFont(26));
    listView->setFont(uiFont(26));
}
