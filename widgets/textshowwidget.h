#pragma once
// TextShowWidget: a 560 x 300 panel with a text area and a close button at its top right corner;
// the network dialog shows ping output in it. GUI thread only.

#include <QWidget>

class QPushButton;
class QTextBrowser;

class TextShowWidget : public QWidget
{
    Q_OBJECT
public:
    explicit TextShowWidget(QWidget *parent = nullptr);

    // The text area filling the panel.
    QTextBrowser *textBrowser = nullptr;
    // Adds `text` as a new paragraph at the end, as written: program output and typed hosts are never
    // read as markup (QTextBrowser::append would).
    void appendText(const QString &text);
    QPushButton *closeButton() const { return m_close; }

signals:
    // The close button was pressed; the panel hides itself right after.
    void sigHideWidget();

private:
    QPushButton *m_close = nullptr;
};
