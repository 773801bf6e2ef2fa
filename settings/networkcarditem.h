#pragma once
// Network_CardItem: one network card's row in the network settings dialog: name, hardware address,
// receive rate, addresses and description, a stripe (green while the card carries traffic, red
// otherwise) and the button that opens the card editor. GUI thread only.

#include "networkmanager.h"

#include <QWidget>

class QLabel;

class Network_CardItem : public QWidget
{
    Q_OBJECT
public:
    explicit Network_CardItem(stu_netinfo info, QWidget *parent = nullptr);
    ~Network_CardItem() override;

    // Green stripe when `active`, red otherwise.
    void setStatusStyle(bool active);
    void setRateText(const QString &text);
    QString rateText() const;
    bool statusActive() const { return m_active; }

    // The card as the row holds it: what the editor last accepted, or what the card files last said.
    stu_netinfo info;

signals:
    // An edit was accepted: the dialog saves every card and reapplies them.
    void sigUpdateAll();

public slots:
    // Takes the card as read back after an apply and refreshes the address and description labels;
    // the name, hardware address and WiFi mark stay as built.
    void reload_information(stu_netinfo newinfo);
    // Runs the card editor; an accepted edit replaces the row's card and, 100 ms later, asks the
    // dialog to save and apply.
    void slotChgCardInfo();

private:
    QLabel *m_rateLabel = nullptr;
    bool m_active = false;
};
