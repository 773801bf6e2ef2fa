#pragma once
// The pieces every help page is drawn with (buttons, numbered callouts, the title band, the verdict
// of a camera picture), in colours on which their texts read: 4.5:1 and better against every pixel
// behind a text below 24 px, 3:1 and better behind larger text. Shared by mkhelp and the contrast test.

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

namespace helpdraw {

extern const QColor kBlue;      // button foot, title band foot, frames
extern const QColor kBlueTop;   // button head and title band head: white reads on it at 4.5:1
extern const QColor kOrange;    // highlighted button foot, callouts' face
extern const QColor kOrangeTop; // highlighted button head: white reads on it at 4.5:1
extern const QColor kDark;      // text on paper
extern const QColor kPaper;     // the page
extern const QColor kOk;        // verdict OK, lit outputs
extern const QColor kNg;        // alarm marks and the alarm line on paper
extern const QColor kNgOnDark;  // the NG verdict on its plate
extern const QColor kVerdictPlate;
extern const QColor kText; // every text on buttons, callouts and the title band

constexpr int kBandHeight = 100;
constexpr int kCalloutRadius = 24;
constexpr int kButtonRadius = 8;

QFont font(int px, bool bold = false);

// A button: blue, or orange when `highlight`, with `text` centred in white at `px`.
void button(QPainter &p, const QRectF &r, const QString &text, bool highlight, int px = 22);
// A numbered orange disc centred on `at`, the number in white 28 px bold (none for 0).
void callout(QPainter &p, QPointF at, int number);
// The band across the top of a page, `width` wide and kBandHeight high; its texts are drawn by the
// caller in kText.
void titleBand(QPainter &p, int width);
// "OK" (verdict > 0) or "NG" (verdict < 0) in the top-right corner of the camera picture `r`, on a
// plate of its own; returns the plate.
QRectF verdict(QPainter &p, const QRectF &r, int verdict);
// The plate alone, as verdict() draws it.
QRectF verdictPlate(QPainter &p, const QRectF &r, int verdict);
// The size the verdict of a camera picture `pictureHeight` high is drawn at.
int verdictPixels(double pictureHeight);

} // namespace helpdraw
