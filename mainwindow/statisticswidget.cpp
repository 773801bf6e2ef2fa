#include "statisticswidget.h"

#include "atomicfile.h"
#include "camerastatisticswidget.h"
#include "choosebox.h"
#include "clock.h"
#include "colorbutton.h"
#include "commandrunner.h"
#include "databasejournal.h"
#include "imagesize.h"
#include "mainwindowlog.h"
#include "pathmap.h"
#include "resstatistics.h"
#include "startup.h"
#include "sysparam.h"
#include "systemhelpers.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QListWidget>
#include <QSqlQuery>
#include <QTabWidget>

#include <algorithm>

StatisticsWidget *gStatisticsWidget = nullptr;

namespace {

const QString kArchiveConnection = QStringLiteral("dbListRes");

// The process-wide boxes come with the main window; a page shown without one (a tool) makes its own.
bool askYesNo(const QString &question)
{
    static ChooseBox *own = nullptr;
    ChooseBox *box = gChooseBox ? gChooseBox : own ? own : (own = new ChooseBox(nullptr));
    box->setMessage(question);
    return box->exec() == 1;
}

void tellUser(const QString &text)
{
    static WarnBox *own = nullptr;
    WarnBox *box = gWarnBox ? gWarnBox : own ? own : (own = new WarnBox(nullptr));
    box->setMessage(text);
    box->exec();
}

ColorButton *makeButton(const QString &text, QWidget *parent)
{
    auto *button = new ColorButton(text, parent, 3);
    button->setFixedSize(300, 50);
    return button;
}

} // namespace

StatisticsWidget *statisticsWidget()
{
    if (!gStatisticsWidget)
        gStatisticsWidget = new StatisticsWidget(nullptr);
    return gStatisticsWidget;
}

StatisticsWidget::StatisticsWidget(QWidget *parent) : QWidget(parent)
{
    setGeometry(QRect(QPoint(gShowW / 2 - 960, gShowH / 2 - 540), QPoint(gShowW / 2 + 959, gShowH / 2 + 539)));

    cameraTabs = new QTabWidget(this);
    cameraTabs->setFixedSize(1738, 980);
    cameraTabs->setStyleSheet(QStringLiteral("QTabBar::tab{width: 200px; height: 50px; font-size: 25px;}"));
    const int cameras = std::clamp(gCameraCount, 0, 8);
    for (int t = 0; t <= cameras; ++t) {
        cameraPages[t] = new CamereaTabWidget((t + 8) % 9, this);
        cameraPages[t]->setFixedSize(1738, 980);
        cameraPages[t]->setStyleSheet(
            QStringLiteral("QTabBar::tab{width: 250px; height: 50px; font-size: 25px;}"));
        cameraTabs->addTab(cameraPages[t], t == 0 ? uiText(585) : uiText(586).arg(t));
    }

    periodList = new QListWidget(this);
    periodList->setFixedHeight(980);
    QFont listFont(QStringLiteral("wqy-microhei"));
    listFont.setPointSize(10);
    periodList->setFont(listFont);
    connect(periodList, &QListWidget::itemClicked, this, &StatisticsWidget::UpdateRecord);

    ColorButton *returnButton = makeButton(uiText(58), this);
    connect(returnButton, &ColorButton::clicked, this, &StatisticsWidget::SlotConfirm);
    ColorButton *exportButton = makeButton(uiText(326), this);
    connect(exportButton, &ColorButton::clicked, this, &StatisticsWidget::SlotExportData);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->addWidget(periodList, 0, 0, 15, 1, Qt::AlignTop);
    grid->addWidget(cameraTabs, 0, 1, 15, 10, Qt::AlignTop);
    grid->addWidget(exportButton, 15, 0, 1, 11, Qt::AlignRight);
    grid->addWidget(returnButton, 15, 1, 1, 11, Qt::AlignCenter);

    archiveDb = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kArchiveConnection);
}

StatisticsWidget::~StatisticsWidget()
{
    archiveDb.close();
    archiveDb = QSqlDatabase();
    QSqlDatabase::removeDatabase(kArchiveConnection);
    if (gStatisticsWidget == this)
        gStatisticsWidget = nullptr;
}

void StatisticsWidget::showEvent(QShowEvent *event)
{
    listArchives();
    QWidget::showEvent(event);
}

void StatisticsWidget::listArchives()
{
    periodList->clear();
    if (!gStatisticsStore)
        return;
    periodList->addItem(gStatisticsStore->periodDate);
    QStringList names = gStatisticsStore->archiveDir.entryList({QStringLiteral("*.db")},
                                                              QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                                                              QDir::Name);
    for (auto it = names.crbegin(); it != names.crend(); ++it)
        periodList->addItem(QString(*it).remove(QStringLiteral(".db")));
    periodList->setCurrentRow(0);
    UpdateRecord(periodList->item(0));
}

void StatisticsWidget::UpdateRecord(QListWidgetItem *item)
{
    if (!gStatisticsStore || !item)
        return;
    if (periodList->currentRow() == 0) {
        gStatisticsStore->showLive();
    } else {
        archiveDb.close();
        archiveDb.setDatabaseName(
            QStringLiteral("%1//%2.db").arg(gStatisticsStore->archiveDir.absolutePath(), item->text()));
        // An archive is evidence: never written, and never created when it is gone.
        archiveDb.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!moveSpecialCompanionsAside(archiveDb.databaseName()) || !archiveDb.open()) {
            qCWarning(lcMainWindow) << "statistics archive cannot be opened:" << archiveDb.databaseName();
            return;
        }
        gStatisticsStore->loadView(QSqlQuery(archiveDb));
    }
    const int t = cameraTabs->currentIndex();
    if (t >= 0 && t < 9 && cameraPages[t])
        cameraPages[t]->refreshCurrent();
}

void StatisticsWidget::refreshLive()
{
    if (!gStatisticsStore || periodList->currentRow() != 0)
        return;
    gStatisticsStore->showLive();
    const int t = cameraTabs->currentIndex();
    if (t >= 0 && t < 9 && cameraPages[t])
        cameraPages[t]->refreshCurrent();
}

void StatisticsWidget::SlotConfirm()
{
    hide();
}

QByteArray StatisticsWidget::exportText(const QString &periodName)
{
    QStringList lines;
    lines << periodName;
    QStringList header{uiText(585), uiText(584)};
    for (int titleRow : {545, 546}) {
        header << uiText(titleRow) + QLatin1Char(' ') + uiText(542);
        header << uiText(titleRow) + QLatin1Char(' ') + uiText(543);
    }
    header << uiText(547) << uiText(587) + QLatin1Char(' ') + uiText(543) << uiText(588);
    for (int h = 0; h < 24; ++h)
        header << QStringLiteral("%1:00 OK").arg(h, 2, 10, QLatin1Char('0'));
    for (int h = 0; h < 24; ++h)
        header << QStringLiteral("%1:00 NG").arg(h, 2, 10, QLatin1Char('0'));
    lines << header.join(QLatin1Char('\t'));

    const int cameras = std::clamp(gCameraCount, 0, 8), slotCount = std::clamp(gDetectSlotCount, 0, 8);
    const int base = gSysParam && gSysParam->machineType != 0 ? 372 : 263;
    const ResStatistics *store = gStatisticsStore;
    for (int t = 0; t <= cameras && store; ++t) {
        const int camera = (t + 8) % 9;
        for (int s = 0; s <= slotCount; ++s) {
            const int detect = (s + 8) % 9;
            QStringList row{t == 0 ? uiText(585) : uiText(586).arg(t), s == 0 ? uiText(584) : uiText(base + s - 1)};
            for (int kind : {0, 1}) {
                row << QString::number(store->count(kind, true, camera, detect));
                row << QString::number(store->count(kind, false, camera, detect));
            }
            const int ok = store->count(2, true, camera, detect), ng = store->count(2, false, camera, detect);
            row << QString::number(qint64(ok) + ng) << QString::number(ng)
                << CameraStatisticsWidget::ngRateText(ok, ng);
            for (bool okKind : {true, false}) {
                for (int v : store->hourValues(2, okKind, camera, detect))
                    row << QString::number(v);
            }
            lines << row.join(QLatin1Char('\t'));
        }
    }
    // A line break inside a text would split its row in two.
    for (QString &line : lines)
        line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return QByteArrayLiteral("\xEF\xBB\xBF") + lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n";
}

void StatisticsWidget::SlotExportData()
{
    hide();
    if (!askYesNo(uiText(324))) {
        show();
        return;
    }
    while (mountUsbByBlkid().isEmpty()) {
        if (!askYesNo(uiText(320)))
            return;
    }
    const QString stamp = appNow().toString(QStringLiteral("yyyy-MM-dd_hh.mm.ss"));
    const QString path = mapSystemPath(QStringLiteral("/mnt/%1.xls").arg(stamp));
    const QString period = periodList->currentItem() ? periodList->currentItem()->text() : QString();
    const QByteArray data = exportText(period);
    QString error;
    bool ok = writeFileAtomically(path, data, {}, &error);
    // Believe the disk, not the write call: the file must be there with every byte.
    ok = ok && QFileInfo(path).size() == data.size();
    runCommand(QStringLiteral("sync"));
    runCommand(QStringLiteral("umount"), {QStringLiteral("/mnt")});
    if (!ok)
        qCWarning(lcMainWindow) << "statistics export to" << path << "failed:" << error;
    tellUser(uiText(ok ? 147 : 650));
    show();
}
