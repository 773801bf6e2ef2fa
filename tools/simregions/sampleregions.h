#pragma once
// Sample regions for the simulated cameras, so that a box run without real cameras shows regions on
// its pictures: in slots 0 and 1, a rectangle, a circle and a polygon that look for light objects left
// on the mould ("white area": grey 215 and above, more than 500 pixels is NG). Stored in screen
// coordinates, as the region editor stores them, for a screen of w x h pixels.

#include <QList>
#include <QPair>
#include <QString>

inline QList<QPair<QString, QString>> sampleRegionRows(int w, int h)
{
    const auto x = [w](double f) { return QString::number(int(w * f)); };
    const auto y = [h](double f) { return QString::number(int(h * f)); };
    const QString params = QStringLiteral("0 215 500 5 ");
    QList<QPair<QString, QString>> rows;
    for (int k = 0; k < 2; ++k) {
        const QString slot = QString::number(k);
        rows.append({QStringLiteral("detect") + slot, QStringLiteral("3")});
        rows.append({QStringLiteral("ROI%1-0").arg(k),
                     params + QStringLiteral("1 0 0 %1 %2 %3 %4").arg(x(0.12), y(0.22), x(0.55), y(0.62))});
        rows.append({QStringLiteral("ROI%1-1").arg(k),
                     params + QStringLiteral("4 0 0 %1 %2 %3").arg(x(0.74), y(0.45), QString::number(h / 7))});
        rows.append({QStringLiteral("ROI%1-2").arg(k),
                     params + QStringLiteral("2 0 5 %1 %2 %3 %4 %5 %6 %7 %8 %9 %10")
                                  .arg(x(0.30), y(0.70), x(0.52), y(0.68), x(0.58), y(0.82))
                                  .arg(x(0.44), y(0.92), x(0.28), y(0.86))});
    }
    return rows;
}
