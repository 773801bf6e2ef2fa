#pragma once
// NetworkSettingDialog: the network settings behind the settings screen's network button. The left
// column lists the box's network cards (one Network_CardItem each, striped by the traffic monitor);
// accepting a card's editor saves both card files and reruns the apply script. The right column edits
// the report-link settings ("cnt_net/config.json"), shows the link state once a second and pings the
// server. Built without parent, run modally, destroyed on return. GUI thread only (the apply script and
// the WiFi scan run on pool threads under the wait dialog).

#include "ccomp_dialogframe.h"

#include <QMap>
#include <QString>

class CheckBox;
class Edit;
class EditIP;
class Network_CardItem;
class PingTest;
class QLabel;
class QPushButton;
class QTimer;
class QVBoxLayout;
class TextShowWidget;

class NetworkSettingDialog : public CComp_DialogFrame
{
    Q_OBJECT
public:
    explicit NetworkSettingDialog(QWidget *parent = nullptr);
    // Stops the timers, the traffic monitor and a running ping.
    ~NetworkSettingDialog() override;

    // Fills the five service members from "cnt_net/config.json"; true when it was read and parsed
    // (otherwise the members keep what they hold).
    bool loadServiceConfig();

    // One row per card, by card name (ascending).
    QMap<QString, Network_CardItem *> cardRows;

    // The report-link settings as last loaded or saved.
    QString devicename;
    QString serveraddr;
    QString serverport = QStringLiteral("10432");
    bool workNetFunc = false;
    bool workVideo = false;

    // The service column's widgets (tests and the screenshot tool reach them here).
    QLabel *stateLabel = nullptr;
    CheckBox *netFuncBox = nullptr;
    CheckBox *videoBox = nullptr;
    Edit *deviceNameEdit = nullptr;
    EditIP *serverAddrEdit = nullptr;
    Edit *serverPortEdit = nullptr;
    QPushButton *pingButton = nullptr;
    Edit *pingAddrEdit = nullptr;
    TextShowWidget *pingPane = nullptr;
    QTimer *cardStateTimer = nullptr;
    QTimer *serviceStateTimer = nullptr;

public slots:
    // Every second: the rows' stripes and rates from the traffic monitor.
    void slotTimeout_ChKState();
    // Every second: the report link's state in words.
    void slotTimeout_PPYState();
    // After an accepted card edit: writes both card files, reruns the apply script, refreshes the rows.
    void slotUpdateAll();
    // Takes the service column's values, saves them and restarts the report link's helpers.
    void slotUpdatePPY();

    // The Ping button: (re)starts a ping of the ping field in the pane.
    void startPing();
    // The pane's close button: ends the ping.
    void stopPing();

private:
    QWidget *buildCardColumn();
    QVBoxLayout *buildServiceColumn();
    // What the dialog's 1280 px leave the service column beside its margins (8 + 8), the card list
    // (700) and the gap between them (100); its texts wrap inside it.
    static constexpr int kServiceColumnWidth = 1280 - 8 - 8 - 700 - 100;

    // Runs the ping and polls it every 100 ms for the pane.
    PingTest *m_ping = nullptr;
};
