#include "uistyle.h"

#include "startup.h"

#include <QAbstractButton>
#include <QAbstractItemDelegate>
#include <QComboBox>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTextBoundaryFinder>
#include <QWidget>

const char *const kUiFontFamily = "wqy-microhei";

// The style texts name pictures of this library's resources, which the linker drops unless they are
// registered (outside any namespace: the macro declares the registering function).
static void initWidgetResources()
{
    Q_INIT_RESOURCE(widgets);
}

namespace {

// The box installs the font file under the name "wqy-microhei"; Debian's package names the same font
// "WenQuanYi Micro Hei". Substitution only applies where the first name is not found.
void mapUiFontFamily()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    initWidgetResources();
    QFont::insertSubstitutions(QString::fromLatin1(kUiFontFamily),
                               {QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC")});
}

// The list says its text colour with its white ground: under a dialog's sheet the entries would
// otherwise take the dialog's white list text.
const char *const kComboStyle = "QComboBox{font-family:\"wqy-microhei\";font-size:26px;color:black;"
                                "background-color:white;border:1px solid #00BCD4;border-radius:4px;"
                                "padding:2px 10px;min-height:48px;}"
                                "QComboBox::drop-down{width:50px;border:none;}"
                                "QComboBox::down-arrow{image:url(:/widgets/comboarrow.xpm);}"
                                "QComboBox QAbstractItemView{font-size:26px;color:black;"
                                "background-color:white;selection-background-color:#00838F;"
                                "selection-color:white;outline:0px;}";

// Entries of an opened list at a fixed height. The style-sheet rule on the item is not enough: once the
// page holding the box has a style sheet of its own, the list's entries come out at the text's height.
class FixedHeightItemDelegate : public QStyledItemDelegate
{
public:
    FixedHeightItemDelegate(int height, QObject *parent) : QStyledItemDelegate(parent), m_height(height) {}
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), m_height);
    }

private:
    int m_height;
};

} // namespace

QFont uiFont(int pixelSize)
{
    mapUiFontFamily();
    QFont font(QString::fromLatin1(kUiFontFamily));
    font.setPixelSize(qMax(1, pixelSize));
    return font;
}

QFont boxApplicationFont()
{
    mapUiFontFamily();
    return QFont(QStringLiteral("WenQuanYi Micro Hei"));
}

void dialogStyleSheet(QWidget *widget, const QString &extra)
{
    if (!widget)
        return;
    mapUiFontFamily();
    // A highlighted list entry takes the darker cyan: white reads on it at 4.5:1, on #00BCD4 at 2.3:1.
    widget->setStyleSheet(
        QStringLiteral("QDialog{background-color:rgb(110,110,110);}"
                       "QWidget{font-family:\"wqy-microhei\";}"
                       "QLabel{color:white;font-size:26px;}"
                       "QPushButton{font-size:32px;color:white;background-color:#00BCD4;border:none;"
                       "outline:0px;padding:4px 12px;}"
                       "QPushButton:pressed{background-color:#0097A7;}"
                       "QTabWidget::pane{border:1px solid #00BCD4;}"
                       "QTabBar::tab{font-size:26px;color:white;background-color:rgb(90,90,90);"
                       "min-width:120px;min-height:50px;padding:0px 10px;}"
                       "QTabBar::tab:selected{background-color:#00BCD4;}"
                       "QListWidget,QListView{font-size:26px;color:white;background-color:rgb(90,90,90);"
                       "border:1px solid #00BCD4;outline:0px;}"
                       "QListWidget::item,QListView::item{min-height:50px;}"
                       "QListWidget::item:selected,QListView::item:selected{background-color:#00838F;}"
                       "QCheckBox{color:white;font-size:26px;spacing:12px;}"
                       "QCheckBox::indicator{width:40px;height:40px;}"
                       "QLineEdit{font-size:26px;color:black;background-color:white;"
                       "border:1px solid #00BCD4;border-radius:4px;min-height:46px;padding:0px 8px;}")
        + extra);
}

QString scrollAreaStyleSheet()
{
    return QStringLiteral("QScrollArea{background-color:rgb(110,110,110);border:none;}"
                          "QScrollArea > QWidget > QWidget{background-color:rgb(110,110,110);}"
                          "QScrollBar:vertical{width:40px;background:rgb(90,90,90);}"
                          "QScrollBar::handle:vertical{min-height:60px;background:#00BCD4;}"
                          "QScrollBar:horizontal{height:40px;background:rgb(90,90,90);}"
                          "QScrollBar::handle:horizontal{min-width:60px;background:#00BCD4;}"
                          "QScrollBar::add-line,QScrollBar::sub-line{width:0px;height:0px;}");
}

void comboBoxStyleSheet(QComboBox *box, QAbstractItemDelegate *delegate, const QString &extra)
{
    if (!box)
        return;
    mapUiFontFamily();
    if (delegate)
        box->setItemDelegate(delegate);
    box->setStyleSheet(QString::fromLatin1(kComboStyle) + extra);
}

void styleComboBox(QComboBox *box, int itemHeight)
{
    if (!box)
        return;
    box->setStyleSheet(QStringLiteral("QComboBox QAbstractItemView::item{height:%1px;}"
                                      "QTabBar::tab{min-height:%1px;}")
                           .arg(itemHeight));
    setComboItemHeight(box, itemHeight);
}

void setComboItemHeight(QComboBox *box, int itemHeight)
{
    if (box) // the box deletes the delegate it had
        box->setItemDelegate(new FixedHeightItemDelegate(itemHeight, box));
}

int captionLastLineStart(const QString &text, int prevStart, int lastStart)
{
    if (prevStart < 0 || lastStart <= prevStart || lastStart >= text.size() ||
        text.at(lastStart - 1).isSpace())
        return lastStart;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    characters.setPosition(lastStart);
    int shown = 0;
    for (int at = lastStart, next = 0; at < text.size() && at >= 0 && shown < 2; at = next) {
        next = characters.toNextBoundary();
        shown += !text.at(at).isSpace();
    }
    if (shown != 1)
        return lastStart;
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
    breaks.setPosition(lastStart);
    const bool insideWord = !breaks.isAtBoundary();
    const int earlierBreak = breaks.toPreviousBoundary();
    if (earlierBreak > prevStart)
        return earlierBreak;
    characters.setPosition(lastStart);
    const int previousCharacter = characters.toPreviousBoundary();
    return insideWord && previousCharacter > prevStart ? previousCharacter : lastStart;
}

void setButtonAutoRepeat(QAbstractButton *button)
{
    if (!button)
        return;
    button->setAutoRepeat(true);
    button->setAutoRepeatDelay(300);
    button->setAutoRepeatInterval(50);
}

void paintBoxBackground(QWidget *widget)
{
    QPainter p(widget);
    const QRect r = widget->rect();
    if (gPixBackground && !gPixBackground->isNull())
        p.drawPixmap(r, *gPixBackground);
    else
        p.fillRect(r, QColor(110, 110, 110));
    p.setPen(QPen(QColor(0x00, 0xBC, 0xD4), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(1, 1, -1, -1));
}
