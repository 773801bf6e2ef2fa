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
#include <QIODevice>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScroller>
#include <QTextStream>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {

// A longer line is a wrong file; its text would only stretch the page.
constexpr int kMaxLineLength = 200;
// Bytes kept of each line: UTF-8 gives at least one character per four bytes, so every character the
// page can show is inside them.
constexpr qint64 kLineHeadBytes = 4 * (kMaxLineLength + 1);

// The file as the page reads it, each line cut to its first kLineHeadBytes bytes with its line end
// kept. The rest of a longer line is passed over block by block up to its line end, so one line of a
// gigabyte costs neither memory nor more than a read of the file.
class LineHeadDevice : public QIODevice
{
public:
    explicit LineHeadDevice(QIODevice *source) : m_source(source), m_block(1 << 20, Qt::Uninitialized) {}
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return QIODevice::bytesAvailable() + (m_end - m_pos) + (m_source->atEnd() ? 0 : 1);
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        qint64 given = 0;
        while (given < maxSize && fill()) {
            const char *at = m_block.constData() + m_pos;
            const qint64 available = m_end - m_pos;
            if (m_lineBytes >= kLineHeadBytes) {
                const void *lineEnd = std::memchr(at, '\n', size_t(available));
                if (!lineEnd) {
                    m_pos = m_end;
                    continue;
                }
                m_pos += static_cast<const char *>(lineEnd) - at; // the line end itself is passed on
                m_lineBytes = 0;
                continue;
            }
            qint64 take = std::min({available, maxSize - given, kLineHeadBytes - m_lineBytes});
            const void *lineEnd = std::memchr(at, '\n', size_t(take));
            if (lineEnd) {
                take = static_cast<const char *>(lineEnd) - at + 1;
                m_lineBytes = 0;
            } else {
                m_lineBytes += take;
            }
            std::memcpy(data + given, at, size_t(take));
            given += take;
            m_pos += take;
        }
        return given > 0 ? given : -1;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    bool fill()
    {
        if (m_pos < m_end)
            return true;
        m_pos = 0;
        m_end = std::max<qint64>(0, m_source->read(m_block.data(), m_block.size()));
        return m_end > 0;
    }

    QIODevice *m_source;
    QByteArray m_block;
    qint64 m_pos = 0;
    qint64 m_end = 0;
    qint64 m_lineBytes = 0; // of the current line, passed on so far
};

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
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return;
    LineHeadDevice heads(&file);
    heads.open(QIODevice::ReadOnly);
    QTextStream in(&heads);
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
