#include "editdatetime.h"

#include "clock.h"
#include "commandrunner.h"
#include "uistyle.h"

namespace {
const char *const kFormat = "yyyy-MM-dd hh:mm:ss";
} // namespace

EditDateTime::EditDateTime(QWidget *parent) : QDateTimeEdit(parent)
{
    setDisplayFormat(QString::fromLatin1(kFormat));
    setFont(uiFont(30));
    setCalendarPopup(false);
    setMinimumSize(480, 70);
    setAlignment(Qt::AlignCenter);
    // Stacked in the 70 px field each arrow would be 34 px high, under a fingertip: they stand on
    // either side of the field instead, down on the left and up on the right like the step buttons,
    // each the field's full height.
    setStyleSheet(QStringLiteral("QDateTimeEdit{font-size:30px;color:black;background-color:white;"
                                 "border:1px solid #00BCD4;padding:0px 8px;}"
                                 "QDateTimeEdit::up-button{subcontrol-origin:border;"
                                 "subcontrol-position:center right;width:60px;height:68px;}"
                                 "QDateTimeEdit::down-button{subcontrol-origin:border;"
                                 "subcontrol-position:center left;width:60px;height:68px;}"));
    setCurrent();
}

void EditDateTime::setCurrent()
{
    setDateTime(appNow());
}

void EditDateTime::setSystemTime()
{
    runCommand(QStringLiteral("date"),
               {QStringLiteral("-s"), dateTime().toString(QString::fromLatin1(kFormat))}, 3000);
    runCommand(QStringLiteral("hwclock"), {QStringLiteral("--systohc")}, 3000);
}
