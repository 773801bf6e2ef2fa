#include "networkcarditem.h"

#include "networkcardsetdia.h"
#include "settingshooks.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char *const kRedStripe = "QWidget{border-style:solid;background-color:rgb(110,110,110);border: 0px;"
                               "border-left: 10px solid red;}";
const char *const kGreenStripe = "QWidget{border-style:solid;background-color:rgb(110,110,110);border: 0px;"
                                 "border-left: 10px solid green;}";
const char *const kWhiteLabel = "QLabel{outline:0px;border:none;font-size:15px;color:white;}";
constexpr auto kBlockAlign = Qt::AlignLeft | Qt::AlignHCenter | Qt::AlignVCenter; // 0x85

QLabel *whiteLabel(const QString &text, const char *objectName, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    // Card files and the kernel fill these rows: their text is shown as written, never as markup.
    label->setTextFormat(Qt::PlainText);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setStyleSheet(QString::fromLatin1(kWhiteLabel));
    return label;
}

} // namespace

Network_CardItem::Network_CardItem(stu_netinfo card, QWidget *parent) : QWidget(parent), info(card)
{
    setFixedSize(680, 120);
    // The stripe is a border of the row itself: without this a plain QWidget paints no style sheet.
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(QString::fromLatin1(kRedStripe));

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(30, 0, 10, 0);
    outer->setSpacing(5);
    auto *inner = new QWidget(this);
    inner->setMinimumWidth(620);
    // The row's rule would give every child the stripe too.
    inner->setStyleSheet(QStringLiteral("QWidget{border:none;}"));
    outer->addWidget(inner);
    auto *row = new QHBoxLayout(inner);
    row->setSpacing(10);
    row->setContentsMargins(30, 0, 0, 0);

    auto *block = new QVBoxLayout;
    block->setSpacing(10);
    block->setAlignment(kBlockAlign);
    block->addStretch(1);

    auto *line1 = new QHBoxLayout;
    line1->setSpacing(20);
    if (info.iswifi) {
        auto *wifi = new QLabel(inner);
        wifi->setFixedSize(40, 40);
        wifi->setAlignment(Qt::AlignCenter);
        wifi->setPixmap(QPixmap(QStringLiteral("./images/wifi.png"))
                            .scaled(40, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        wifi->setStyleSheet(QString::fromLatin1(kWhiteLabel));
        line1->addWidget(wifi);
    }
    auto *name = new QLabel(info.name, inner);
    name->setTextFormat(Qt::PlainText);
    name->setObjectName(QStringLiteral("labname"));
    name->setMinimumWidth(300);
    name->setStyleSheet(
        QStringLiteral("QLabel{outline:0px;border:none;font-weight:bold;font-size:30px;color:lightblue;}"));
    line1->addWidget(name);
    auto *mac = whiteLabel(info.mac, "labmac", inner);
    mac->setMaximumWidth(150);
    line1->addWidget(mac);
    m_rateLabel = new QLabel(inner);
    m_rateLabel->setTextFormat(Qt::PlainText);
    m_rateLabel->setObjectName(QStringLiteral("labrate"));
    m_rateLabel->setMinimumWidth(80);
    m_rateLabel->setAlignment(kBlockAlign);
    m_rateLabel->setStyleSheet(QStringLiteral("QLabel{outline:0px;border:none;font-size:15px;color:lightblue;}"));
    line1->addWidget(m_rateLabel);
    line1->addStretch(1);
    block->addLayout(line1);

    auto *line2 = new QHBoxLayout;
    line2->setSpacing(20);
    line2->addWidget(whiteLabel(info.address, "labip", inner));
    line2->addWidget(whiteLabel(info.netmask, "labmask", inner));
    line2->addWidget(whiteLabel(info.gateway, "labroute", inner));
    line2->addStretch(1);
    block->addLayout(line2);

    auto *tip = whiteLabel(info.describe, "labtip", inner);
    tip->setMaximumWidth(300);
    tip->setVisible(gLanguage != 3);
    block->addWidget(tip);
    block->addStretch(1);
    row->addLayout(block);
    row->addStretch(1);

    auto *unused = whiteLabel(QString(), "labuse", inner);
    unused->setFixedSize(60, 60);
    unused->setAlignment(Qt::AlignCenter);
    unused->setPixmap(QPixmap(QStringLiteral("./images/error.png"))
                          .scaled(60, 60, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    unused->setVisible(!info.use);
    row->addWidget(unused);

    auto *edit = new QPushButton(inner);
    edit->setObjectName(QStringLiteral("btnmodify"));
    edit->setIcon(QIcon(QStringLiteral("./images/modify.png")));
    edit->setFixedSize(60, 60);
    edit->setIconSize(QSize(40, 40));
    edit->setFocusPolicy(Qt::NoFocus);
    edit->setStyleSheet(QStringLiteral(
        "QPushButton{outline:0px;border:none;font-size:32px;color:white;background-color:rgb(110,110,110)}"
        "QPushButton:pressed{color:#ffffff;background:#f1c232;}"));
    // Queued: the editor's modal loop starts after the release has been handled.
    connect(edit, &QPushButton::released, this, &Network_CardItem::slotChgCardInfo, Qt::QueuedConnection);
    row->addWidget(edit);
}

Network_CardItem::~Network_CardItem() = default;

void Network_CardItem::setStatusStyle(bool active)
{
    // Restyling re-polishes every child: only on a change, as this runs every second.
    if (active != m_active) {
        m_active = active;
        setStyleSheet(QString::fromLatin1(active ? kGreenStripe : kRedStripe));
    }
    update();
}

void Network_CardItem::setRateText(const QString &text)
{
    m_rateLabel->setText(text);
    update();
}

QString Network_CardItem::rateText() const
{
    return m_rateLabel->text();
}

void Network_CardItem::reload_information(stu_netinfo newinfo)
{
    info = newinfo;
    const struct
    {
        const char *objectName;
        const QString &text;
    } labels[] = {{"labip", info.address},
                  {"labmask", info.netmask},
                  {"labroute", info.gateway},
                  {"labtip", info.describe}};
    for (const auto &l : labels)
        if (auto *label = findChild<QLabel *>(QString::fromLatin1(l.objectName)))
            label->setText(l.text);
    if (auto *unused = findChild<QLabel *>(QStringLiteral("labuse")))
        unused->setVisible(!info.use);
    update();
}

void Network_CardItem::slotChgCardInfo()
{
    Network_CardItem_SetDia editor(info, nullptr);
    if (editor.exec() == QDialog::Accepted) {
        info = editor.readBack();
        QTimer::singleShot(100, this, &Network_CardItem::sigUpdateAll);
        if (settingsHooks().stopLongPressTimer)
            settingsHooks().stopLongPressTimer();
    }
}
