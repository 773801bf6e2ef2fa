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
    setStyleSheet(QStringLiteral("QDateTimeEdit{font-size:30px;color:black;background-color:white;"
                                 "border:1px solid #00BCD4;padding:0px 8px;}"
                                 "QDateTimeEdit::up-button{width:60px;height:34px;}"
                                 "QDateTimeEdit::down-button{width:60px;height:34px;}"));
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
