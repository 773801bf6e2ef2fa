#pragma once
// How well a text reads against what is behind it, by the WCAG contrast ratio of relative luminances
// (4.5:1 for text, 3:1 for text of 24 px and more), and whether the entries of a combo box's opened list
// read so, measured on the pixels the list draws. Header only.

#include <QAbstractItemView>
#include <QColor>
#include <QComboBox>
#include <QFontInfo>
#include <QHash>
#include <QImage>
#include <QStringList>
#include <QtTest>

#include <algorithm>
#include <cmath>

namespace readability {

inline double linear(int c)
{
    const double s = c / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
}

inline double luminance(const QColor &c)
{
    return 0.2126 * linear(c.red()) + 0.7152 * linear(c.green()) + 0.0722 * linear(c.blue());
}

inline double ratio(double a, double b)
{
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

// The colour most pixels of `area` in `shot` have.
inline QRgb mostCommon(const QImage &shot, const QRect &area)
{
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[shot.pixel(x, y)];
    QRgb most = 0;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        if (it.value() > counts.value(most))
            most = it.key();
    return most;
}

// Opens the list of `combo` (shown, with two entries or more) with its second entry highlighted and
// measures the first (plain) and the second against their grounds: the strokes of the entry's text,
// most of them at full strength (a 22 px "1" has some 40 such pixels), must read at 4.5:1, the
// highlighted one at 3:1 when its text is 24 px or more.
// Returns what does not read so; the list is closed again and the box's choice put back.
inline QStringList unreadablePopupEntries(QComboBox *combo)
{
    QStringList problems;
    const int was = combo->currentIndex();
    combo->setCurrentIndex(1);
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    if (!QTest::qWaitFor([view] { return view->isVisible(); }) ||
        !QTest::qWaitForWindowExposed(view->window()))
        return {QStringLiteral("the list did not open")};
    const QImage shot = view->viewport()->grab().toImage();
    const int pixels = QFontInfo(view->font()).pixelSize();
    for (int row : {0, 1}) {
        const bool highlighted = row == combo->currentIndex();
        const double needed = highlighted && pixels >= 24 ? 3.0 : 4.5;
        const QRect entry = view->visualRect(combo->model()->index(row, 0)) & shot.rect();
        if (entry.isEmpty()) {
            problems << QStringLiteral("entry %1 not drawn").arg(row);
            continue;
        }
        const QColor ground(mostCommon(shot, entry));
        double best = 1.0;
        int readable = 0;
        for (int y = entry.top(); y <= entry.bottom(); ++y)
            for (int x = entry.left(); x <= entry.right(); ++x) {
                const double r = ratio(luminance(shot.pixelColor(x, y)), luminance(ground));
                best = std::max(best, r);
                readable += r >= needed;
            }
        if (readable < 20)
            problems << QStringLiteral("%1 entry \"%2\" (%3 px) on %4: %5 pixels at %6:1, text at best %7:1")
                            .arg(highlighted ? QStringLiteral("highlighted") : QStringLiteral("plain"),
                                 combo->itemText(row))
                            .arg(pixels)
                            .arg(ground.name())
                            .arg(readable)
                            .arg(needed, 0, 'f', 1)
                            .arg(best, 0, 'f', 2);
    }
    combo->hidePopup();
    combo->setCurrentIndex(was);
    return problems;
}

} // namespace readability
