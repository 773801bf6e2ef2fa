// The network settings dialog: its frame and the card column. The service column is in
// networkservicecolumn.cpp.
#include "networksettingdialog.h"

#include "dialogcancelbutton.h"
#include "imagesize.h"
#include "networkcarditem.h"
#include "networkmanager.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

NetworkSettingDialog::NetworkSettingDialog(QWidget *parent) : CComp_DialogFrame(uiText(328), parent)
{
    setGeometry(gShowW / 2 - 640, gShowH / 2 - 480, 1280, 960);

    addDialogCancelButton(this, uiText(124));

    auto *mainBox = new QHBoxLayout;
    mainBox->setSpacing(100);
    mainBox->setContentsMargins(8, 20, 8, 0);

    NetworkManager *manager = NetworkManager::instance();
    manager->reload(false);
    manager->setTrafficMonitor(true, 500);
    mainBox->addWidget(buildCardColumn());

    cardStateTimer = new QTimer(this);
    connect(cardStateTimer, &QTimer::timeout, this, &NetworkSettingDialog::slotTimeout_ChKState);
    cardStateTimer->start(1000);

    loadServiceConfig();
    // The column keeps to the room the dialog leaves it, so that it never squeezes the card list or
    // runs past the dialog's edge.
    auto *service = new QWidget(contentWidget());
    service->setObjectName(QStringLiteral("serviceColumn"));
    service->setFixedWidth(kServiceColumnWidth);
    QVBoxLayout *column = buildServiceColumn();
    column->setContentsMargins(0, 0, 0, 0);
    service->setLayout(column);
    mainBox->addWidget(service);
    mainBox->addStretch(1);
    contentWidget()->setLayout(mainBox);

    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint); // 0x2000800
    dialogStyleSheet(this, QString());
}

NetworkSettingDialog::~NetworkSettingDialog()
{
    cardStateTimer->stop();
    serviceStateTimer->stop();
    stopPing();
    NetworkManager::instance()->setTrafficMonitor(false, 500);
}

QWidget *NetworkSettingDialog::buildCardColumn()
{
    auto *scroll = new QScrollArea(this);
    scroll->setMinimumWidth(700);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setStyleSheet(scrollAreaStyleSheet());
    auto *content = new QWidget;
    auto *box = new QVBoxLayout(content);
    box->setSpacing(10);

    int height = 0;
    const QMap<QString, stu_netinfo> cards = NetworkManager::instance()->cardItems();
    for (auto it = cards.cbegin(); it != cards.cend(); ++it) {
        auto *row = new Network_CardItem(it.value(), nullptr);
        connect(row, &Network_CardItem::sigUpdateAll, this, &NetworkSettingDialog::slotUpdateAll,
                Qt::QueuedConnection);
        box->addWidget(row);
        height += row->minimumHeight() + 10;
        cardRows.insert(it.key(), row);
    }
    box->addStretch(1);
    content->setFixedSize(800, height);
    scroll->setWidget(content);
    return scroll;
}

void NetworkSettingDialog::slotTimeout_ChKState()
{
    const QMap<QString, TrafficInfo> traffic = NetworkManager::instance()->traffic;
    for (auto it = traffic.cbegin(); it != traffic.cend(); ++it) {
        Network_CardItem *row = cardRows.value(it.key());
        if (!row)
            continue;
        row->setStatusStyle(it.value().active);
        row->setRateText(it.value().rateText);
    }
}

void NetworkSettingDialog::slotUpdateAll()
{
    QList<stu_netinfo> cards;
    for (Network_CardItem *row : qAsConst(cardRows))
        cards << row->info;
    NetworkManager *manager = NetworkManager::instance();
    manager->writeCardFiles(cards);
    manager->reload(true);
    const QMap<QString, stu_netinfo> read = manager->cardItems();
    for (auto it = cardRows.cbegin(); it != cardRows.cend(); ++it)
        if (read.contains(it.key()))
            it.value()->reload_information(read.value(it.key()));
    update();
}
