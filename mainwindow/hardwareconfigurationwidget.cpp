#include "hardwareconfigurationwidget.h"

#include "cammerwidget.h"
#include "colorbutton.h"
#include "devewizard.h"
#include "imagesize.h"
#include "mainwindowlog.h"
#include "startup.h"
#include "uistyle.h"
#include "uitexttable.h"
#include "wizardparawidget.h"

#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScroller>
#include <QTextStream>
#include <QVBoxLayout>

namespace {

// A longer line is a wrong file; its text would only stretch the page.
constexpr int kMaxLineLength = 200;

// One cell of the list. conf.txt comes with the box but can be replaced from a stick, so its text is
// shown as written, never read as markup; a text wider than its column is cut with an ellipsis instead
// of widening the page past the screen.
class ConfCellLabel : public QLabel
{
public:
    ConfCellLabel(const QString &text, const QColor &colour, const QFont &font, QWidget *parent)
        : QLabel(text, parent)
    {
        setTextFormat(Qt::PlainText);
        QPalette palette = this->palette();
        palette.setColor(QPalette::WindowText, colour);
        setPalette(palette);
        setFont(font);
    }

    // A column gives way down to this width; below it the text is cut, so a long key or value never
    // pushes the other column out of sight.
    QSize minimumSizeHint() const override
    {
        const QSize natural = QLabel::minimumSizeHint();
        return QSize(qMin(natural.width(), kCellMinWidth), natural.height());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setFont(font());
        p.setPen(palette().color(QPalette::WindowText));
        const QRect r = contentsRect();
        p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter,
                   fontMetrics().elidedText(text(), Qt::ElideRight, r.width()));
    }

private:
    static constexpr int kCellMinWidth = 560;
};

QLabel *makeLabel(const QString &text, const QColor &colour, const QFont &font, QWidget *parent)
{
    return new ConfCellLabel(text, colour, font, parent);
}

} // namespace

HardwareConfigurationWidget::HardwareConfigurationWidget(QWidget *parent) : QWidget(parent)
{
    // 1500 x 800 in the middle of the box's screen; a smaller screen gets all of itself.
    const int width = qMin(1500, gShowW), height = qMin(800, gShowH);
    setGeometry((gShowW - width) / 2, (gShowH - height) / 2, width, height);
    setWindowFlags(Qt::CustomizeWindowHint);
    const QFont font = uiFont(30);

    QList<ConfEntry> entries;
    readConfList(entries);
    countLabel = nullptr;
    // The lines scroll inside the page, so a long file can neither grow the page off the screen nor
    // push the confirm button out of reach.
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setStyleSheet(
        QStringLiteral("QScrollArea,QScrollArea>QWidget>QWidget{background:transparent;}"
                       "QScrollBar:vertical{width:40px;background:rgb(90,90,90);}"
                       "QScrollBar::handle:vertical{min-height:60px;background:#00BCD4;}"
                       "QScrollBar::add-line,QScrollBar::sub-line{width:0px;height:0px;}"));
    QScroller::grabGesture(scroll->viewport(), QScroller::LeftMouseButtonGesture);
    auto *list = new QWidget(scroll);
    grid = new QGridLayout(list);
    int row = 0;
    for (const ConfEntry &entry : entries) {
        const QColor colour = entry.second.isEmpty() ? Qt::cyan : Qt::yellow;
        grid->addWidget(makeLabel(entry.first, colour, font, list), row, 0);
        if (entry.first == QLatin1String("Count")) {
            countLabel = makeLabel(QString(), colour, font, list);
            grid->addWidget(countLabel, row, 1);
        } else {
            grid->addWidget(makeLabel(entry.second, colour, font, list), row, 1);
        }
        ++row;
    }
    grid->setSpacing(10);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setRowStretch(row, 1);
    scroll->setWidget(list);

    confirmButton = new ColorButton(uiText(121), this, 3);
    confirmButton->setFixedSize(150, 50);
    connect(confirmButton, &QAbstractButton::clicked, this, &HardwareConfigurationWidget::slotConfirm);
    auto *page = new QVBoxLayout(this);
    page->setSpacing(10);
    page->setContentsMargins(50, 50, 50, 50);
    page->addWidget(scroll, 1);
    page->addWidget(confirmButton, 0, Qt::AlignHCenter | Qt::AlignBottom);
}

HardwareConfigurationWidget::~HardwareConfigurationWidget() = default;

void HardwareConfigurationWidget::readConfList(QList<ConfEntry> &out)
{
    out.clear();
    QFile file(QStringLiteral("conf.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    QTextStream in(&file);
    const QLatin1Char underscore('_');
    const QLatin1Char blank(' ');
    while (!in.atEnd()) {
        // readLine drops LF and CR LF alike.
        const QString line = in.readLine().left(kMaxLineLength);
        if (line.isEmpty())
            continue;
        if (out.size() == kMaxEntries) {
            qCWarning(lcMainWindow) << "conf.txt: only the first" << kMaxEntries << "lines are shown";
            break;
        }
        const QStringList parts = line.split(QLatin1Char('\t'), Qt::KeepEmptyParts);
        QString key = parts.at(0);
        QString value = parts.size() > 1 ? parts.at(1) : QString();
        out.append({key.replace(underscore, blank), value.replace(underscore, blank)});
    }
}

int HardwareConfigurationWidget::shownCameraCount()
{
    const CammerWidget *first = gMainWindow ? gMainWindow->cammerWidgets[0] : nullptr;
    if (first && first->cameraIid == QLatin1String("simulateCamera_IID"))
        return 0;
    return gCameraCount;
}

void HardwareConfigurationWidget::showEvent(QShowEvent *event)
{
    if (countLabel)
        countLabel->setText(QString::number(shownCameraCount()));
    QWidget::showEvent(event);
}

void HardwareConfigurationWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (gPixBackground && !gPixBackground->isNull())
        p.drawPixmap(rect(), *gPixBackground);
    // The shipped background is light; cyan and yellow text needs a dark ground to be read.
    p.fillRect(rect(), QColor(0x22, 0x2b, 0x36, 225));
    p.setPen(QPen(QColor(0x6f, 0xa8, 0xdc), 4));
    p.drawRect(rect().adjusted(2, 2, -2, -2));
}

void HardwareConfigurationWidget::slotConfirm()
{
    hide();
    if (gMainWindow && gMainWindow->paraWidget) {
        gMainWindow->paraWidget->show();
        gMainWindow->paraWidget->raise();
    }
}
