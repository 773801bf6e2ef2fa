#pragma once
// Network_CardItem_SetDia: the editor of one network card: connection mode and the four addresses,
// and for a WiFi card also whether it is used, the network to join (from a scan run before the
// editor shows) and its pass phrase. The widgets carry object names; readBack() finds them by name.
// GUI thread only (the scan runs on a pool thread under the wait dialog).

#include "ccomp_dialogframe.h"
#include "networkmanager.h"

class Network_CardItem_SetDia : public CComp_DialogFrame
{
    Q_OBJECT
public:
    // A WiFi card's editor scans for networks first (up to a minute under the wait dialog).
    explicit Network_CardItem_SetDia(stu_netinfo info, QWidget *parent = nullptr);

    // The card with the editor's values. Name, hardware address, state, description and the WiFi
    // flag are never the editor's to change: they come from the card as it was handed in.
    stu_netinfo readBack() const;

    // A copy of the card as handed in.
    stu_netinfo info;
};
