#pragma once
// Whether every caption of a window fits its widget as the widget draws it: buttons of the pages
// (their own line breaking), labels (word wrap or their own lines), check boxes (beside the indicator),
// combo boxes (every item in the edit field) and plain push buttons, measured with the font each widget
// ends up with after its style sheet. Header only: used by tests that link the widgets library.

#include "colorbutton.h"
#include "uistyle.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTextLayout>

namespace captionfit {

inline int pixelSizeOf(const QFont &f)
{
    return f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize();
}

// Lines of `text` laid out at `width` with Qt's word wrap (breaks only where a word may break).
inline QVector<qreal> wrappedLineWidths(const QString &text, const QFont &font, int width)
{
    QVector<qreal> out;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        out << line.naturalTextWidth();
    }
    layout.endLayout();
    return out;
}

// One line per problem ("class "text": what"); empty when every caption fits. Widgets hidden in the
// window are skipped. A caption drawn below `minPixelSize` counts as a problem too.
inline QStringList misfits(QWidget *window, int minPixelSize = 0)
{
    QStringList out;
    const QRect inside = window->rect();
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->isWindow() || !w->isVisibleTo(window))
            continue;
        w->ensurePolished();
        QString text;
        QRect room;
        int lines = 1;
        const QFont font = w->font();
        const QFontMetrics m(font);
        QStringList problems;
        if (auto *b = qobject_cast<ColorButton *>(w)) {
            text = b->text();
            const QStringList shown = b->textLines();
            const QFontMetrics bm(uiFont(b->textPixelSize()));
            for (const QString &l : shown)
                if (bm.horizontalAdvance(l) > b->width() - 8)
                    problems << QStringLiteral("line \"%1\" wider than the button").arg(l);
            if (shown.size() > 2)
                problems << QStringLiteral("%1 lines").arg(shown.size());
            // A caption longer than the button shows is cut, its last shown line ending in "…".
            if (!shown.isEmpty() && shown.last().endsWith(QChar(0x2026)) && !text.endsWith(QChar(0x2026)))
                problems << QStringLiteral("cut to %1 lines").arg(shown.size());
            const int step = b->lineStep(shown.size());
            if (step <= b->textPixelSize() || step * shown.size() > b->height() - 4)
                problems << QStringLiteral("%1 lines taller than the button").arg(shown.size());
            if (b->textPixelSize() < minPixelSize)
                problems << QStringLiteral("%1 px").arg(b->textPixelSize());
        } else if (auto *l = qobject_cast<QLabel *>(w)) {
            text = l->text();
            if (text.isEmpty() || l->textFormat() == Qt::RichText)
                continue;
            room = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
            if (l->wordWrap()) {
                const QVector<qreal> widths = wrappedLineWidths(text, font, room.width());
                for (qreal x : widths)
                    if (x > room.width() + 0.5)
                        problems << QStringLiteral("a word wider than the label");
                lines = widths.size();
            } else {
                const QStringList parts = text.split(QLatin1Char('\n'));
                for (const QString &p : parts)
                    if (m.horizontalAdvance(p) > room.width())
                        problems << QStringLiteral("wider than the label (%1 > %2)")
                                        .arg(m.horizontalAdvance(p))
                                        .arg(room.width());
                lines = parts.size();
            }
            if (lines * m.lineSpacing() > room.height() + m.descent())
                problems << QStringLiteral("%1 lines taller than the label").arg(lines);
        } else if (auto *c = qobject_cast<QCheckBox *>(w)) {
            text = c->text();
            QStyleOptionButton opt;
            opt.initFrom(c);
            opt.text = text;
            room = c->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, c);
            const QStringList parts = text.split(QLatin1Char('\n'));
            for (const QString &p : parts)
                if (m.horizontalAdvance(p) > room.width())
                    problems << QStringLiteral("wider than the box (%1 > %2)")
                                    .arg(m.horizontalAdvance(p))
                                    .arg(room.width());
            if (parts.size() * m.lineSpacing() > c->height() + m.descent())
                problems << QStringLiteral("%1 lines taller than the box").arg(parts.size());
        } else if (auto *cb = qobject_cast<QComboBox *>(w)) {
            QStyleOptionComboBox opt;
            opt.initFrom(cb);
            opt.editable = cb->isEditable();
            room = cb->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, cb);
            for (int i = 0; i < cb->count(); ++i)
                if (m.horizontalAdvance(cb->itemText(i)) > room.width())
                    problems << QStringLiteral("item \"%1\" wider than the box (%2 > %3)")
                                    .arg(cb->itemText(i))
                                    .arg(m.horizontalAdvance(cb->itemText(i)))
                                    .arg(room.width());
            text = cb->currentText();
        } else if (auto *p = qobject_cast<QPushButton *>(w)) {
            text = p->text();
            if (text.isEmpty())
                continue;
            QStyleOptionButton opt;
            opt.initFrom(p);
            opt.text = text;
            room = p->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, p);
            if (m.horizontalAdvance(text) > room.width())
                problems << QStringLiteral("wider than the button (%1 > %2)")
                                .arg(m.horizontalAdvance(text))
                                .arg(room.width());
        } else {
            continue;
        }
        if (!qobject_cast<ColorButton *>(w) && !text.isEmpty() && pixelSizeOf(font) < minPixelSize)
            problems << QStringLiteral("%1 px").arg(pixelSizeOf(font));
        const QRect onWindow(w->mapTo(window, QPoint(0, 0)), w->size());
        if (!text.isEmpty() && !inside.contains(onWindow))
            problems << QStringLiteral("outside the window");
        for (const QString &p : problems)
            out << QStringLiteral("%1 \"%2\": %3").arg(QLatin1String(w->metaObject()->className()), text, p);
    }
    return out;
}

} // namespace captionfit
