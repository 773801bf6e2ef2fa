// Painting of the settings screen: background, page headings and the title bar.
#include "wizardparawidget.h"

#include "settingshooks.h"

#include "core/startup.h"
#include "core/uitexttable.h"
#include "widgets/checkbox.h"
#include "widgets/edit.h"
#include "widgets/uistyle.h"

#include <QFontMetrics>
#include <QPainter>

namespace {

void drawLine(QPainter &p, int x, int y, int half)
{
    const QRect r(x, y, half - 30, 5);
    if (gPixLine && !gPixLine->isNull())
        p.drawPixmap(r, *gPixLine);
    else
        p.fillRect(r, QColor(200, 200, 200));
}

// A translation longer than its room is drawn smaller rather than cut off.
void drawText(QPainter &p, const QRect &r, int pixelSize, const QColor &colour, const QString &text)
{
    QFont font = uiFont(pixelSize);
    while (pixelSize > 16 && QFontMetrics(font).horizontalAdvance(text) > r.width())
        font = uiFont(--pixelSize);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, text);
}

} // namespace

void WizardParaWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const int w = width();
    const int half = w / 2;
    if (!simpleDisplay) {
        if (gPixBackground && !gPixBackground->isNull())
            p.drawPixmap(rect(), *gPixBackground);
        else
            p.fillRect(rect(), QColor(60, 70, 80));
    }

    QString title;
    if (currentPage == 0) {
        title = uiText(267);
        drawText(p, {30, 60, half - 60, 50}, 30, Qt::white, uiText(219));
        drawLine(p, 30, 110, half);
        drawText(p, {30, 235, half - 60, 50}, 30, Qt::white, uiText(222));
        drawLine(p, 30, 285, half);
        if (!showAllParamsBox->isChecked()) {
            drawText(p, {30, 350, half - 30, 50}, 30, Qt::white, uiText(333));
            drawLine(p, 30, 400, half);
        }
        // The headings use the room up to the next widget ("Reset Count" at x 1640 on the right).
        drawText(p, {half + 30, 60, 1630 - half - 30, 50}, 30, Qt::white, uiText(228));
        drawLine(p, half + 30, 110, half);
    } else if (currentPage == 1 || simpleDisplay) {
        title = uiText(260);
        drawText(p, {30, 60, 185, 50}, 30, Qt::white, uiText(221).arg(cameraIndex + 1)); // "Restore" at 220
        drawText(p, {485, 60, 160, 50}, 25, Qt::green, uiText(214)); // display mode button at 650
        drawLine(p, 30, 123, half);
        if (simpleDisplay)
            return; // the simple display has no title bar
    } else if (currentPage == 3) {
        title = uiText(259);
        drawText(p, {30, 360, 720, 50}, 28, Qt::yellow, uiText(203)); // combos at 765
        drawText(p, {30, 420, 720, 50}, 28, Qt::yellow, uiText(334));
        if (showFactoryParamBox->isChecked()) {
            const int rows[4] = {273, 274, 275, 281};
            for (int i = 0; i < 4; ++i)
                drawText(p, {30, 480 + 60 * i, 720, 50}, 28, Qt::yellow, uiText(rows[i]));
        }
    } else if (currentPage == 4) {
        title = uiText(229);
        drawText(p, {30, 60, 600, 50}, 30, Qt::white, uiText(261));
        drawLine(p, 30, 110, half);
        drawLine(p, 30, 310, half);
        drawText(p, {half + 30, 60, half - 60, 50}, 30, Qt::white, uiText(225));
        drawLine(p, half + 30, 110, half);
        const int d = gLanguage == 3 ? 420 : 350;
        drawText(p, {half + 30, 117, newPasswordEdit->x() - half - 35, 50}, 25, Qt::yellow, uiText(226));
        drawText(p, {half + 30 + d, 117, confirmPasswordEdit->x() - half - 35 - d, 50}, 25, Qt::yellow,
                 uiText(227));
        drawLine(p, half + 30, 170, half);
    } else if (currentPage == 5) {
        title = uiText(206);
    }

    const QRect bar(0, 0, w, 50);
    if (gPixTitle && !gPixTitle->isNull())
        p.drawPixmap(bar, *gPixTitle);
    QFont serialFont(QStringLiteral("times"));
    serialFont.setPixelSize(14);
    serialFont.setWeight(2);
    p.setFont(serialFont);
    p.setPen(Qt::yellow);
    p.drawText(QRect(5, 0, w, 50), Qt::AlignLeft | Qt::AlignVCenter, serialText);
    p.setFont(uiFont(30));
    p.setPen(Qt::white);
    p.drawText(bar, Qt::AlignCenter, title);
    const int *lens = settingsHooks().lensOptEnabled;
    const QString letter = lens && *lens != 0 ? QStringLiteral("Q") : QStringLiteral("V");
    drawText(p, {w - 235, 0, w, 50}, 32, Qt::yellow,
             QStringLiteral("%1%2").arg(letter, QString::fromLatin1(kVersionText)));
}
