#pragma once
// IOWidget: the multiple-detection I/O page reached from the settings screen: which detection row
// owns each output, which input triggers it and which cameras it checks. GUI thread only.

#include <QWidget>

class IOWidget : public QWidget
{
    Q_OBJECT
public:
    explicit IOWidget(QWidget *parent = nullptr);
};
