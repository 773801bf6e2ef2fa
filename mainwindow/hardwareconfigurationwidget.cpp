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
#include <QTextStream>

namespace {

// A longer line is a wrong file; its text would only stretch the page.
constexpr int kMaxLineLength = 200;

QLabel *makeLabel(const QString &text, const QColor &colour, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setFont(font);
    return label;
}

} // namespace

HardwareConfigurationWidget::HardwareConfigurationWidget(QWidget *parent) : QWidget(parent)
{
    setGeometry(gShowW / 2 - 750, gShowH / 2 - 400, 1500, 800);
    setWindowFlags(Qt::CustomizeWindowHint);
    const QFont font = uiFont(30);

    QList<ConfEntry> entries;
    readConfList(entries);
    countLabel = nullptr;
    grid = new QGridLayout;
    int row = 0;
    for (const ConfEntry &entry : entries) {
        const QColor colour = entry.second.isEmpty() ? Qt::cyan : Qt::yellow;
        grid->addWidget(makeLabel(entry.first, colour, font, this), row, 0);
        if (entry.first == QLatin1String("Count")) {
            countLabel = makeLabel(QString(), colour, font, this);
            grid->addWidget(countLabel, row, 1);
        } else {
            grid->addWidget(makeLabel(entry.second, colour, font, this), row, 1);
        }
        ++row;
    }

    confirmButton = new ColorButton(uiText(121), this, 3);
    confirmButton->setFixedSize(150, 50);
    grid->addWidget(confirmButton, row, 0, 1, 2, Qt::AlignHCenter | Qt::AlignBottom);
    connect(confirmButton, &QAbstractButton::clicked, this, &HardwareConfigurationWidget::slotConfirm);
    grid->setSpacing(10);
    grid->setContentsMargins(50, 50, 50, 50);
    setLayout(grid);
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
