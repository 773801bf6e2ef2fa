#pragma once
// CustomIONameWidget: gives each of the eight board inputs and outputs a name from the sixteen machine
// signals; the names label the multiple-detection I/O page at once and go into the working copy.
// GUI thread only.

#include <QWidget>

class ColorButton;
class ComboBox;
class IOWidget;

class CustomIONameWidget : public QWidget
{
    Q_OBJECT
public:
    // `settings` is shown again on Confirm; `io` holds the name copies this page edits.
    CustomIONameWidget(QWidget *parent, QWidget *settings, IOWidget *io);
    // Sets every combo from the I/O page's copies.
    void loadNames();

    ComboBox *inputCombos[8] = {};
    ComboBox *outputCombos[8] = {};
    ColorButton *confirmButton = nullptr;

public slots:
    void accept();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QWidget *m_settings;
    IOWidget *m_io;
};
