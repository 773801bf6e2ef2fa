#pragma once
// HelpWidget: the full-screen pager over the operating instructions, one picture per page, in the
// operator's language ("./help/" for Simplified Chinese, "./help-en/" for every other language).
// The main window builds it once, hidden; the menu bar's help action shows it. GUI thread only.

#include <QPixmap>
#include <QString>
#include <QWidget>

class ColorButton;

// The help page shown; shared by the whole run and kept while the pager is hidden, so that it reopens
// on the page last shown. GUI thread.
extern int gHelpPage;

class HelpWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kMaxPages = 50;
    // The seventh picture in name order is the alarm-handling page.
    static constexpr int kAlarmPage = 6;

    // Builds the buttons, chooses the folder by gLanguage and loads the pictures.
    explicit HelpWidget(QWidget *parent);
    ~HelpWidget() override;

    // The pictures that loaded, in file-name order; a file that is not a readable picture of a sane
    // size is left out, so every page counted can be drawn.
    int pageCount = 0;
    QPixmap *pages[kMaxPages] = {};
    // "./help/" or "./help-en/".
    QString folder;

    ColorButton *lastButton = nullptr;
    ColorButton *nextButton = nullptr;
    ColorButton *alarmButton = nullptr;
    ColorButton *returnButton = nullptr;

public slots:
    // Without pictures the paging slots do nothing; "Alarm" does nothing while there are fewer than
    // seven pages.
    void SlotLast();
    void SlotNext();
    void SlotAlarm();
    void SlotReturn();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void loadPages();
    // gHelpPage brought inside 0 .. pageCount - 1 (a page of an earlier, longer folder).
    int shownPage() const;
};
