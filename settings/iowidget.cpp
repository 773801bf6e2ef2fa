#include "iowidget.h"

IOWidget::IOWidget(QWidget *parent) : QWidget(parent)
{
    setGeometry(0, 0, 1800, 950);
}
