#include "networkcardsetdia.h"

#include "combobox.h"
#include "dialogcancelbutton.h"
#include "edit.h"
#include "editip.h"
#include "uistyle.h"
#include "uitexttable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

constexpr auto kRowAlign = Qt::AlignLeft | Qt::AlignHCenter | Qt::AlignVCenter; // 0x85
constexpr int kPassPhraseRow = 715;

QHBoxLayout *newRow(QVBoxLayout *box)
{
    auto *row = new QHBoxLayout;
    row->setAlignment(kRowAlign);
    box->addLayout(row);
    return row;
}

ComboBox *newCombo(const char *objectName, QWidget *parent)
{
    auto *combo = new ComboBox(parent);
    combo->setObjectName(QString::fromLatin1(objectName));
    combo->setMinimumWidth(300);
    comboBoxStyleSheet(combo, new QStyledItemDelegate(combo), QString());
    return combo;
}

Edit *newField(const char *objectName, const QString &text, QWidget *parent)
{
    auto *field = new Edit(Edit::FullKeyboard, parent, 1);
    field->setObjectName(QString::fromLatin1(objectName));
    field->setMaximumWidth(300);
    if (!text.isEmpty())
        field->setText(text);
    return field;
}

EditIP *newAddress(const QString &caption, const char *objectName, const QString &text, QWidget *parent)
{
    auto *editor = new EditIP(caption, parent);
    editor->setObjectName(QString::fromLatin1(objectName));
    editor->setFixedWidth(550);
    // In 550 px a long caption ("Default gateway") would be cut: it keeps its whole width and the
    // fields, which hold three digits, give way.
    for (QLabel *label : editor->findChildren<QLabel *>()) {
        label->ensurePolished();
        label->setMinimumWidth(qMax(label->minimumWidth(), label->sizeHint().width()));
    }
    for (int i = 0; i < 4; ++i)
        editor->field(i)->setMinimumWidth(70);
    editor->setText(text);
    return editor;
}

} // namespace

Network_CardItem_SetDia::Network_CardItem_SetDia(stu_netinfo card, QWidget *parent)
    : CComp_DialogFrame(QStringLiteral("Net_Card Setting"), parent), info(card)
{
    setFixedSize(800, 500);
    addDialogCancelButton(this, QStringLiteral("cancel"));

    QWidget *content = contentWidget();
    auto *box = new QVBoxLayout(content);
    box->setContentsMargins(20, 50, 20, 50);
    box->setSpacing(10);

    if (info.iswifi) {
        const QStringList networks = NetworkManager::instance()->scanWifi(info.name);

        QHBoxLayout *useRow = newRow(box);
        useRow->addWidget(new QLabel(uiText(613), content));
        ComboBox *use = newCombo("QComboBox_pComUse", content);
        use->addItems({uiText(250), uiText(251)});
        use->setCurrentIndex(info.use ? 0 : 1);
        useRow->addWidget(use);
        useRow->addStretch(1);

        QHBoxLayout *netRow = newRow(box);
        netRow->addWidget(new QLabel(QStringLiteral("wifi名称:"), content));
        Edit *hotName = newField("Edit_editHotName", info.hotname, content);
        netRow->addWidget(hotName);
        ComboBox *found = newCombo("QComboBox_pLabHotName", content);
        found->addItems(networks);
        // The saved network may be out of reach just now: it stays choosable, and chosen.
        if (!info.hotname.isEmpty() && !networks.contains(info.hotname))
            found->addItem(info.hotname);
        if (!info.hotname.isEmpty())
            found->setCurrentText(info.hotname);
        connect(found, &QComboBox::currentTextChanged, hotName, &QLineEdit::setText);
        netRow->addWidget(found);
        netRow->addStretch(1);

        QHBoxLayout *passRow = newRow(box);
        passRow->addWidget(new QLabel(uiText(kPassPhraseRow), content));
        passRow->addWidget(newField("Edit_editPasswd", info.passwd, content));
        passRow->addStretch(1);

        setFixedSize(800, 800);
    }

    QHBoxLayout *modeRow = newRow(box);
    auto *modeLabel = new QLabel(uiText(610), content);
    modeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    modeRow->addWidget(modeLabel);
    ComboBox *mode = newCombo("QComboBox_pComTool", content);
    mode->addItems({uiText(608), uiText(609)});
    mode->setCurrentIndex(info.isdhcp ? 1 : 0);
    modeRow->addWidget(mode);
    modeRow->addStretch(1);

    const struct
    {
        QString caption;
        const char *objectName;
        const QString &text;
    } addresses[] = {{QStringLiteral("IP :"), "IPAddressEdite_IP", info.address},
                     {uiText(330), "IPAddressEdite_Mask", info.netmask},
                     {uiText(611), "IPAddressEdite_Route", info.gateway},
                     {uiText(612), "IPAddressEdite_DNS", info.dns}};
    for (const auto &a : addresses) {
        QHBoxLayout *row = newRow(box);
        row->addWidget(newAddress(a.caption, a.objectName, a.text, content));
        row->addStretch(1);
    }

    setWindowFlags(Qt::FramelessWindowHint | Qt::CustomizeWindowHint); // 0x2000800
    dialogStyleSheet(this, QStringLiteral("QDialog{background-color:rgb(110,110,110);border: 1px solid #BDBDBD;}"));
}

stu_netinfo Network_CardItem_SetDia::readBack() const
{
    stu_netinfo card = info;
    if (auto *mode = findChild<QComboBox *>(QStringLiteral("QComboBox_pComTool")))
        card.isdhcp = mode->currentIndex() == 1;
    const struct
    {
        const char *objectName;
        QString stu_netinfo::*field;
    } addresses[] = {{"IPAddressEdite_IP", &stu_netinfo::address},
                     {"IPAddressEdite_Mask", &stu_netinfo::netmask},
                     {"IPAddressEdite_Route", &stu_netinfo::gateway},
                     {"IPAddressEdite_DNS", &stu_netinfo::dns}};
    for (const auto &a : addresses)
        if (auto *editor = findChild<EditIP *>(QString::fromLatin1(a.objectName)))
            card.*a.field = editor->text();
    if (auto *use = findChild<QComboBox *>(QStringLiteral("QComboBox_pComUse")))
        card.use = use->currentIndex() == 0;
    if (auto *hotName = findChild<Edit *>(QStringLiteral("Edit_editHotName")))
        card.hotname = hotName->text();
    if (auto *passwd = findChild<Edit *>(QStringLiteral("Edit_editPasswd")))
        card.passwd = passwd->text();
    return card;
}
