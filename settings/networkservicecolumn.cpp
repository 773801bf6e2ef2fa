// The network settings dialog's service column: the report-link switches, the box's name, the server's
// address and port, the link state and the ping test.
#include "networksettingdialog.h"

#include "checkbox.h"
#include "edit.h"
#include "editip.h"
#include "netconfigfile.h"
#include "pingtest.h"
#include "qornetmn.h"
#include "textshowwidget.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Rows of the texts this column shows beyond its captions.
constexpr int kPortKeptRow = 713;
constexpr int kNotSavedRow = 714;

void tellSetter(const QString &text)
{
    if (!gWarnBox)
        return;
    gWarnBox->setMessage(text);
    gWarnBox->exec();
}

QHBoxLayout *captionRow(const QString &caption, QWidget *field, QWidget *parent)
{
    auto *row = new QHBoxLayout;
    auto *label = new QLabel(caption, parent);
    label->setWordWrap(true);
    row->addWidget(label);
    row->addWidget(field);
    row->addStretch(1);
    return row;
}

} // namespace

bool NetworkSettingDialog::loadServiceConfig()
{
    ServiceConfig config;
    config.devicename = devicename;
    config.serveraddr = serveraddr;
    config.serverport = serverport;
    config.workNetFunc = workNetFunc;
    config.workVideo = workVideo;
    if (!NetConfigFile::load(&config))
        return false;
    devicename = config.devicename;
    serveraddr = config.serveraddr;
    serverport = config.serverport;
    workNetFunc = config.workNetFunc;
    workVideo = config.workVideo;
    return true;
}

QVBoxLayout *NetworkSettingDialog::buildServiceColumn()
{
    QWidget *content = contentWidget();
    auto *column = new QVBoxLayout;
    column->setSpacing(10);

    auto *stateRow = new QHBoxLayout;
    stateLabel = new QLabel(content);
    stateLabel->setObjectName(QStringLiteral("lab_showstate"));
    stateLabel->setStyleSheet(QStringLiteral("QLabel{outline:0px;border:none;font-size:20px;color:lightblue;}"));
    stateLabel->setWordWrap(true);
    stateRow->addWidget(stateLabel, 1);
    auto *applyButton = new QPushButton(content);
    applyButton->setObjectName(QStringLiteral("btnapply"));
    applyButton->setIcon(QIcon(QStringLiteral("./images/Rotate.png")));
    applyButton->setFixedSize(100, 50);
    applyButton->setIconSize(QSize(60, 40));
    applyButton->setFocusPolicy(Qt::NoFocus);
    applyButton->setStyleSheet(QStringLiteral(
        "QPushButton{outline:0px;border:none;font-size:32px;color:white;background-color:rgb(110,110,110)}"
        "QPushButton:pressed{color:#ffffff;background:#f1c232;}"));
    connect(applyButton, &QPushButton::clicked, this, &NetworkSettingDialog::slotUpdatePPY);
    stateRow->addWidget(applyButton);
    column->addLayout(stateRow);

    netFuncBox = new CheckBox(content, uiText(598));
    netFuncBox->setChecked(workNetFunc);
    netFuncBox->wrapTextTo(kServiceColumnWidth);
    column->addWidget(netFuncBox);
    videoBox = new CheckBox(content, uiText(599));
    videoBox->setChecked(workVideo);
    videoBox->wrapTextTo(kServiceColumnWidth);
    column->addWidget(videoBox);

    deviceNameEdit = new Edit(Edit::FullKeyboard, content, 1);
    deviceNameEdit->setMaximumWidth(200);
    deviceNameEdit->setText(devicename);
    column->addLayout(captionRow(uiText(600), deviceNameEdit, content));

    serverAddrEdit = new EditIP(uiText(602), content);
    serverAddrEdit->setText(serveraddr);
    column->addWidget(serverAddrEdit);

    serverPortEdit = new Edit(Edit::FullKeyboard, content, 1);
    serverPortEdit->setMaximumWidth(100);
    serverPortEdit->setText(serverport);
    column->addLayout(captionRow(uiText(601), serverPortEdit, content));

    auto *pingRow = new QHBoxLayout;
    pingButton = new QPushButton(QStringLiteral("Ping"), content);
    pingButton->setFixedSize(150, 50);
    pingButton->setFocusPolicy(Qt::NoFocus);
    pingButton->setStyleSheet(
        QStringLiteral("outline:0px;border:none;font-size:32px;color:white;background-color:#00BCD4;"));
    pingRow->addWidget(pingButton);
    pingAddrEdit = new Edit(Edit::FullKeyboard, content, 1);
    pingAddrEdit->setFixedSize(400, 50);
    pingAddrEdit->setText(serverAddrEdit->text());
    pingRow->addWidget(pingAddrEdit);
    column->addLayout(pingRow);
    column->addStretch(1);

    serviceStateTimer = new QTimer(this);
    connect(serviceStateTimer, &QTimer::timeout, this, &NetworkSettingDialog::slotTimeout_PPYState);
    serviceStateTimer->start(1000);

    pingPane = new TextShowWidget(this);
    pingPane->hide();
    m_ping = new PingTest(this);
    connect(m_ping, &PingTest::outputAppended, pingPane, &TextShowWidget::appendText);
    connect(pingButton, &QPushButton::clicked, this, &NetworkSettingDialog::startPing);
    connect(pingPane, &TextShowWidget::sigHideWidget, this, &NetworkSettingDialog::stopPing);
    connect(serverAddrEdit, &EditIP::textchange, this, [this] {
        pingAddrEdit->setText(serverAddrEdit->text());
        update();
    });
    return column;
}

void NetworkSettingDialog::slotUpdatePPY()
{
    workNetFunc = netFuncBox->isChecked();
    workVideo = videoBox->isChecked();
    devicename = deviceNameEdit->text();
    serveraddr = serverAddrEdit->text();
    const QString typedPort = serverPortEdit->text();
    serverport = NetConfigFile::acceptedServerPort(typedPort, serverport);
    if (serverport != typedPort.trimmed()) {
        serverPortEdit->setText(serverport);
        if (!NetConfigFile::isValidServerPort(typedPort))
            tellSetter(uiText(kPortKeptRow).arg(serverport));
    }

    ServiceConfig config;
    config.devicename = devicename;
    config.serveraddr = serveraddr;
    config.serverport = serverport;
    config.workNetFunc = workNetFunc;
    config.workVideo = workVideo;
    if (!NetConfigFile::apply(config))
        tellSetter(uiText(kNotSavedRow));
}

void NetworkSettingDialog::slotTimeout_PPYState()
{
    stateLabel->setText(QStringLiteral("Unknow"));
    int row = 607;
    switch (QOR_NETMN::instance()->state()) {
    case -2:
        row = 603;
        break;
    case -1:
        row = 605;
        break;
    case -3:
        row = 604;
        break;
    default:
        break;
    }
    stateLabel->setText(uiText(row));
    update();
}

void NetworkSettingDialog::startPing()
{
    // Below the button, in the coordinates of the dialog's content, where the column's rows lie; kept
    // inside the dialog where the column is narrower than the pane.
    const QRect button(pingButton->mapTo(contentWidget(), QPoint(0, 0)), pingButton->size());
    const int x = qMax(0, qMin(button.x(), width() - pingPane->width() - 10));
    pingPane->move(x, button.y() + button.height() + 70);
    pingPane->show();
    pingPane->raise();
    pingPane->textBrowser->clear();
    const QString target = pingAddrEdit->text();
    const PingTest::StartResult result = m_ping->start(target);
    if (result != PingTest::Started)
        pingPane->appendText(PingTest::resultText(result, target.trimmed()));
    update();
}

void NetworkSettingDialog::stopPing()
{
    if (m_ping)
        m_ping->stop();
    if (pingPane)
        pingPane->textBrowser->clear();
}
