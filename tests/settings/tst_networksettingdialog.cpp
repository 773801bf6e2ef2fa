// The network settings dialog offscreen, on card files, kernel lists and a report-link file laid out in a
// temporary root: the card editor's shape for wired and WiFi cards, what it reads back, an accepted edit
// saving both card files (cards without a row kept), the service column and the ping pane.
#include "boxtestpolicy.h"
#include "captionfit.h"
#include "checkbox.h"
#include "combobox.h"
#include "edit.h"
#include "editip.h"
#include "imagesize.h"
#include "netcardrunner.h"
#include "netconfigfile.h"
#include "networkcarditem.h"
#include "networkcardsetdia.h"
#include "networkmanager.h"
#include "networksettingdialog.h"
#include "pathmap.h"
#include "pingtest.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "textshowwidget.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QTextBrowser>
#include <QtTest>

namespace {

// A ping that "runs" and prints one line.
class FakePing : public LongProcess
{
public:
    explicit FakePing(QStringList *started) : m_started(started) {}
    bool start(const QString &program, const QStringList &arguments, int) override
    {
        *m_started << (QStringList{program} + arguments).join(QLatin1Char('|'));
        m_pending = "64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.05 ms\n";
        return true;
    }
    QByteArray readAvailable() override { return std::exchange(m_pending, QByteArray()); }
    void close() override {}

private:
    QStringList *m_started;
    QByteArray m_pending;
};

QJsonObject card(const QString &name, bool wifi, const QString &address)
{
    QJsonObject o{{"name", name}, {"iswifi", wifi}, {"address", address}, {"mac", "aa:bb:cc:00:00:01"},
                  {"netmask", "255.255.255.0"}, {"status", "up"}, {"describe", "LAN"}};
    if (wifi) {
        o.insert(QStringLiteral("hotname"), QStringLiteral("Plant-") + name);
        o.insert(QStringLiteral("passwd"), QStringLiteral("secret-") + name);
    }
    return o;
}

QByteArray cardFile(const QJsonArray &cards)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("netcard_info"), cards}}).toJson();
}

QMap<QString, QJsonObject> cardsIn(const QString &path)
{
    QMap<QString, QJsonObject> byName;
    const QJsonArray cards = QJsonDocument::fromJson(readTestFile(path)).object().value(
                                                                              QStringLiteral("netcard_info")).toArray();
    for (const QJsonValue &v : cards)
        byName.insert(v.toObject().value(QStringLiteral("name")).toString(), v.toObject());
    return byName;
}

} // namespace

class TestNetworkSettingDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void editorShapeForWiredAndWifiCards_data();
    void editorShapeForWiredAndWifiCards();
    void readBackTakesOnlyTheEditableFields_data();
    void readBackTakesOnlyTheEditableFields();
    void acceptedEditSavesBothFilesAndKeepsCardsWithoutRow();
    void serviceColumnLoadsSavesAndPings();
    void captionsFitInEveryLanguage();

private:
    QString wiredPath() const { return mapSystemPath(QStringLiteral("/etc/netplan/netplan_prejson.txt")); }
    QString wifiPath() const { return mapSystemPath(QStringLiteral("/etc/netplan/wifi_prejson.txt")); }

    TestWorkDir *m_dir = nullptr;
    NetCardRunner *m_runner = nullptr;
    WarnBox *m_warn = nullptr;
    QStringList m_pings;
};

void TestNetworkSettingDialog::initTestCase()
{
    fillUiTextTable();
}

void TestNetworkSettingDialog::init()
{
    m_dir = new TestWorkDir;
    QVERIFY(m_dir->isValid());
    setSystemPathRoot(m_dir->filePath(QStringLiteral("root")));
    // A scan that lacks the saved network; the apply script is only recorded.
    m_runner = new NetCardRunner;
    m_runner->outputs.insert(QStringLiteral("iwlist"),
                             "          ESSID:\"Office\"\n          ESSID:\"Guest\"\n");
    setCommandRunner(m_runner);
    m_pings.clear();
    setLongProcessFactory([this] { return std::make_unique<FakePing>(&m_pings); });
    BoxTestPolicy::enable(1);
    BoxTestPolicy::clearShown();
    m_warn = new WarnBox;
    gWarnBox = m_warn;
    gShowW = 1920;
    gShowH = 1080;
    gLanguage = 1;

    // The kernel knows eth0, eth1 and wlan0; the files also hold eth9 and wlan9, whose adapters are
    // unplugged just now.
    QVERIFY(writeTestFile(mapSystemPath(QStringLiteral("/proc/net/dev")),
                          "Inter-|   Receive                                                |  Transmit\n"
                          " face |bytes    packets errs drop fifo frame compressed multicast|bytes\n"
                          "    lo:  1000      10    0    0    0     0          0         0  1000\n"
                          "  eth0: 123456    100    0    0    0     0          0         0  5000\n"
                          "  eth1:      0      0    0    0    0     0          0         0     0\n"
                          " wlan0:   2048     20    0    0    0     0          0         0   300\n"));
    QVERIFY(QDir().mkpath(mapSystemPath(QStringLiteral("/sys/class/net/wlan0/wireless"))));
    QVERIFY(writeTestFile(wiredPath(), cardFile({card(QStringLiteral("eth1"), false, QStringLiteral("10.0.1.5")),
                                                 card(QStringLiteral("eth9"), false, QStringLiteral("10.0.9.5")),
                                                 card(QStringLiteral("eth0"), false, QStringLiteral("10.0.0.5"))})));
    QVERIFY(writeTestFile(wifiPath(), cardFile({card(QStringLiteral("wlan0"), true, QStringLiteral("10.0.2.5")),
                                                card(QStringLiteral("wlan9"), true, QStringLiteral("10.0.3.5"))})));
    QVERIFY(NetworkManager::instance()->reload(false));
}

void TestNetworkSettingDialog::cleanup()
{
    gWarnBox = nullptr;
    delete m_warn;
    BoxTestPolicy::disable();
    setLongProcessFactory({});
    setCommandRunner(nullptr);
    delete m_runner;
    setSystemPathRoot(QString());
    delete m_dir;
    gLanguage = 1;
}

void TestNetworkSettingDialog::editorShapeForWiredAndWifiCards_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QStringList>("networks");
    QTest::addColumn<QString>("shownNetwork");
    QTest::newRow("wired: mode and four addresses") << "eth0" << QSize(800, 500) << QStringList() << QString();
    QTest::newRow("wifi: saved network out of reach is appended and chosen")
        << "wlan0" << QSize(800, 800) << QStringList{"Office", "Guest", "Plant-wlan0"} << "Plant-wlan0";
}

void TestNetworkSettingDialog::editorShapeForWiredAndWifiCards()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(QStringList, networks);
    QFETCH(QString, shownNetwork);
    const stu_netinfo info = NetworkManager::instance()->cardItems().value(name);
    QCOMPARE(info.name, name);
    Network_CardItem_SetDia editor(info);
    QCOMPARE(editor.size(), size);
    QCOMPARE(editor.minimumSize(), size);
    QCOMPARE(editor.maximumSize(), size);
    for (const char *objectName : {"IPAddressEdite_IP", "IPAddressEdite_Mask", "IPAddressEdite_Route",
                                   "IPAddressEdite_DNS"})
        QVERIFY2(editor.findChild<EditIP *>(QString::fromLatin1(objectName)), objectName);
    QCOMPARE(editor.findChild<EditIP *>(QStringLiteral("IPAddressEdite_IP"))->text(), info.address);
    QVERIFY(editor.findChild<QComboBox *>(QStringLiteral("QComboBox_pComTool")));

    auto *found = editor.findChild<QComboBox *>(QStringLiteral("QComboBox_pLabHotName"));
    auto *hotName = editor.findChild<Edit *>(QStringLiteral("Edit_editHotName"));
    const bool wifi = !networks.isEmpty();
    QCOMPARE(found != nullptr, wifi);
    QCOMPARE(hotName != nullptr, wifi);
    QCOMPARE(editor.findChild<QComboBox *>(QStringLiteral("QComboBox_pComUse")) != nullptr, wifi);
    QCOMPARE(editor.findChild<Edit *>(QStringLiteral("Edit_editPasswd")) != nullptr, wifi);
    QCOMPARE(m_runner->callsOf(QStringLiteral("iwlist")).size(), wifi ? 1 : 0);
    if (!wifi)
        return;
    QStringList items;
    for (int i = 0; i < found->count(); ++i)
        items << found->itemText(i);
    QCOMPARE(items, networks);
    QCOMPARE(found->currentText(), shownNetwork);
    QCOMPARE(hotName->text(), shownNetwork);
    // Choosing a network overwrites what was typed.
    hotName->setText(QStringLiteral("typed"));
    found->setCurrentIndex(1);
    QCOMPARE(hotName->text(), QStringLiteral("Guest"));
}

void TestNetworkSettingDialog::readBackTakesOnlyTheEditableFields_data()
{
    QTest::addColumn<bool>("wifi");
    QTest::newRow("wired") << false;
    QTest::newRow("wifi") << true;
}

void TestNetworkSettingDialog::readBackTakesOnlyTheEditableFields()
{
    QFETCH(bool, wifi);
    const stu_netinfo in = stu_netinfo::fromJson(
        {{"name", wifi ? "wlan0" : "eth0"}, {"iswifi", wifi}, {"mac", "aa:bb:cc:dd:ee:ff"}, {"status", "connected"},
         {"describe", "LAN"}, {"describe_netplan", "eth0"}, {"address", "10.0.0.5"}, {"dns", "10.0.0.2"},
         {"use", true}, {"hotname", "Office"}, {"passwd", "old"}});
    Network_CardItem_SetDia editor(in);

    editor.findChild<QComboBox *>(QStringLiteral("QComboBox_pComTool"))->setCurrentIndex(1);
    // A cleared editor reads as 0.0.0.0.
    const char *const addresses[][2] = {{"IPAddressEdite_IP", "192.168.7.9"},
                                        {"IPAddressEdite_Mask", "255.255.0.0"},
                                        {"IPAddressEdite_Route", ""},
                                        {"IPAddressEdite_DNS", "1.1.1.1"}};
    for (const auto &a : addresses)
        editor.findChild<EditIP *>(QString::fromLatin1(a[0]))->setText(QString::fromLatin1(a[1]));
    if (wifi) {
        editor.findChild<QComboBox *>(QStringLiteral("QComboBox_pComUse"))->setCurrentIndex(1);
        editor.findChild<Edit *>(QStringLiteral("Edit_editHotName"))->setText(QStringLiteral("Line 3"));
        editor.findChild<Edit *>(QStringLiteral("Edit_editPasswd"))->setText(QStringLiteral("n3w pass"));
    }
    const stu_netinfo out = editor.readBack();
    QCOMPARE(out.isdhcp, true);
    QCOMPARE(out.address, QStringLiteral("192.168.7.9"));
    QCOMPARE(out.netmask, QStringLiteral("255.255.0.0"));
    QCOMPARE(out.gateway, QStringLiteral("0.0.0.0"));
    QCOMPARE(out.dns, QStringLiteral("1.1.1.1"));
    QCOMPARE(out.use, !wifi);
    QCOMPARE(out.hotname, wifi ? QStringLiteral("Line 3") : in.hotname);
    QCOMPARE(out.passwd, wifi ? QStringLiteral("n3w pass") : in.passwd);
    // Never the editor's to change.
    QCOMPARE(out.name, in.name);
    QCOMPARE(out.mac, in.mac);
    QCOMPARE(out.status, in.status);
    QCOMPARE(out.describe, in.describe);
    QCOMPARE(out.iswifi, in.iswifi);
}

void TestNetworkSettingDialog::acceptedEditSavesBothFilesAndKeepsCardsWithoutRow()
{
    const QByteArray wiredBefore = readTestFile(wiredPath());
    auto dialog = std::make_unique<NetworkSettingDialog>();
    QCOMPARE(dialog->cardRows.keys(), (QStringList{"eth0", "eth1", "wlan0"}));
    Network_CardItem *eth1 = dialog->cardRows.value(QStringLiteral("eth1"));

    // Stripes and rates follow the traffic monitor; interfaces without a row are skipped.
    NetworkManager::instance()->traffic[QStringLiteral("eth1")].active = true;
    NetworkManager::instance()->traffic[QStringLiteral("eth1")].rateText = QStringLiteral("1.50kb/s");
    NetworkManager::instance()->traffic[QStringLiteral("eth7")].active = true;
    dialog->slotTimeout_ChKState();
    QVERIFY(eth1->statusActive());
    QCOMPARE(eth1->rateText(), QStringLiteral("1.50kb/s"));
    QVERIFY(eth1->styleSheet().contains(QStringLiteral("solid green")));

    // Cancelled: nothing written, no script.
    BoxTestPolicy::queueAnswer(0);
    eth1->slotChgCardInfo();
    QTest::qWait(300);
    QCOMPARE(readTestFile(wiredPath()), wiredBefore);
    QCOMPARE(m_runner->callsOf(QStringLiteral("python3")).size(), 0);

    // Accepted: both files written from the rows, the script runs once, the row shows the file's card.
    eth1->info.address = QStringLiteral("10.0.1.77");
    BoxTestPolicy::queueAnswer(1);
    eth1->slotChgCardInfo();
    QTRY_COMPARE(m_runner->callsOf(QStringLiteral("python3")).size(), 1);
    QCOMPARE(eth1->findChild<QLabel *>(QStringLiteral("labip"))->text(), QStringLiteral("10.0.1.77"));

    const QMap<QString, QJsonObject> wired = cardsIn(wiredPath());
    const QMap<QString, QJsonObject> wifi = cardsIn(wifiPath());
    QCOMPARE(wired.keys(), (QStringList{"eth0", "eth1", "eth9"}));
    QCOMPARE(wifi.keys(), (QStringList{"wlan0", "wlan9"}));
    QCOMPARE(wired.value(QStringLiteral("eth1")).value(QStringLiteral("address")).toString(),
             QStringLiteral("10.0.1.77"));
    QCOMPARE(wired.value(QStringLiteral("eth9")).value(QStringLiteral("address")).toString(),
             QStringLiteral("10.0.9.5"));
    for (const QJsonObject &o : wired) {
        QCOMPARE(o.value(QStringLiteral("iswifi")).toBool(true), false);
        QVERIFY(!o.contains(QStringLiteral("passwd")) && !o.contains(QStringLiteral("hotname")));
    }
    // The unplugged adapter keeps its network and pass phrase; the pass phrases are not world-readable.
    QCOMPARE(wifi.value(QStringLiteral("wlan9")).value(QStringLiteral("passwd")).toString(),
             QStringLiteral("secret-wlan9"));
    QCOMPARE(wifi.value(QStringLiteral("wlan0")).value(QStringLiteral("hotname")).toString(),
             QStringLiteral("Plant-wlan0"));
    QCOMPARE(QFile::permissions(wifiPath()) & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());

    // A second edit writes all cards again and runs the script again; the first edit stays.
    Network_CardItem *wlan0 = dialog->cardRows.value(QStringLiteral("wlan0"));
    wlan0->info.passwd = QStringLiteral("n3w");
    BoxTestPolicy::queueAnswer(1);
    wlan0->slotChgCardInfo();
    QTRY_COMPARE(m_runner->callsOf(QStringLiteral("python3")).size(), 2);
    QCOMPARE(cardsIn(wifiPath()).value(QStringLiteral("wlan0")).value(QStringLiteral("passwd")).toString(),
             QStringLiteral("n3w"));
    QCOMPARE(cardsIn(wiredPath()).value(QStringLiteral("eth1")).value(QStringLiteral("address")).toString(),
             QStringLiteral("10.0.1.77"));
    QCOMPARE(cardsIn(wifiPath()).keys(), (QStringList{"wlan0", "wlan9"}));

    // Closing the dialog switches the monitor off.
    dialog.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const auto timers = NetworkManager::instance()->findChildren<QTimer *>();
    for (const QTimer *t : timers)
        QVERIFY(!t->isActive());
}

void TestNetworkSettingDialog::serviceColumnLoadsSavesAndPings()
{
    // A port stored as a number is not taken; other keys and a folder already set survive a save.
    QVERIFY(writeTestFile(NetConfigFile::path(),
                          R"({"version":"V1.2","camcount":2,"devicename":"press-7","serveraddr":"10.1.2.3",
                              "serverport":10500,"device_worknetfunc":false,"device_workvideo":true,
                              "videoapp_dir":"/opt/cnt/"})"));
    NetworkSettingDialog dialog;
    QCOMPARE(dialog.deviceNameEdit->text(), QStringLiteral("press-7"));
    QCOMPARE(dialog.serverAddrEdit->text(), QStringLiteral("10.1.2.3"));
    QCOMPARE(dialog.serverPortEdit->text(), QStringLiteral("10432"));
    QVERIFY(!dialog.netFuncBox->isChecked());
    QVERIFY(dialog.videoBox->isChecked());
    QCOMPARE(dialog.pingAddrEdit->text(), QStringLiteral("10.1.2.3"));

    dialog.slotTimeout_PPYState();
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lab_showstate"))->text(), uiText(605));

    // An empty server address saves as 0.0.0.0; a port out of range keeps the shown one and says so.
    dialog.serverAddrEdit->setText(QString());
    QCOMPARE(dialog.pingAddrEdit->text(), QStringLiteral("0.0.0.0"));
    dialog.serverPortEdit->setText(QStringLiteral("70000"));
    dialog.deviceNameEdit->setText(QStringLiteral("press-8"));
    dialog.slotUpdatePPY();
    QVERIFY(BoxTestPolicy::shownTexts().contains(uiText(713).arg(QStringLiteral("10432"))));
    QCOMPARE(dialog.serverPortEdit->text(), QStringLiteral("10432"));
    const QJsonObject saved = QJsonDocument::fromJson(readTestFile(NetConfigFile::path())).object();
    QCOMPARE(saved.value(QStringLiteral("serveraddr")).toString(), QStringLiteral("0.0.0.0"));
    QCOMPARE(saved.value(QStringLiteral("serverport")), QJsonValue(QStringLiteral("10432")));
    QCOMPARE(saved.value(QStringLiteral("devicename")).toString(), QStringLiteral("press-8"));
    QCOMPARE(saved.value(QStringLiteral("version")).toString(), QStringLiteral("V1.2"));
    QCOMPARE(saved.value(QStringLiteral("camcount")).toInt(), 2);
    QCOMPARE(saved.value(QStringLiteral("videoapp_dir")).toString(), QStringLiteral("/opt/cnt/"));

    // A field that reads as a ping option is refused in the pane and nothing runs.
    dialog.pingAddrEdit->setText(QStringLiteral("-f 127.0.0.1"));
    dialog.pingButton->click();
    QVERIFY(dialog.pingPane->isVisibleTo(&dialog));
    QVERIFY(m_pings.isEmpty());
    QCOMPARE(dialog.pingPane->textBrowser->toPlainText(), uiText(710).arg(QStringLiteral("-f 127.0.0.1")));

    // A host runs "ping" with the host as one argument; its output reaches the pane.
    dialog.pingAddrEdit->setText(QStringLiteral("127.0.0.1"));
    dialog.pingButton->click();
    QCOMPARE(m_pings, QStringList{QStringLiteral("ping|127.0.0.1")});
    QTRY_VERIFY(dialog.pingPane->textBrowser->toPlainText().contains(QStringLiteral("icmp_seq=1")));
    QVERIFY(!dialog.pingPane->textBrowser->toPlainText().contains(QStringLiteral("-f")));
    // Closing the pane ends the ping and empties it.
    dialog.pingPane->closeButton()->click();
    QVERIFY(!dialog.pingPane->isVisibleTo(&dialog));
    QVERIFY(dialog.pingPane->textBrowser->toPlainText().isEmpty());
}

// With the box's font, in every language and with every state text: each caption of the dialog fits
// its widget inside the dialog, the right column's check boxes breaking their texts inside the column.
void TestNetworkSettingDialog::captionsFitInEveryLanguage()
{
    if (!QFontDatabase().families().contains(QStringLiteral("WenQuanYi Micro Hei")))
        QSKIP("fonts-wqy-microhei is not installed");
    QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"))); // as the box does
    QStringList problems;
    for (int language = 0; language < 4; ++language) {
        gLanguage = language;
        NetworkSettingDialog dialog;
        dialog.show();
        QScrollArea *cards = dialog.findChild<QScrollArea *>();
        QVERIFY(cards);
        for (int state : {603, 604, 605, 607}) {
            QLabel *stateLabel = dialog.findChild<QLabel *>(QStringLiteral("lab_showstate"));
            stateLabel->setText(uiText(state));
            QCoreApplication::sendPostedEvents();
            dialog.layout()->activate();
            for (QLayout *l : dialog.findChildren<QLayout *>())
                l->activate();
            for (const QString &p : captionfit::misfits(&dialog))
                problems << QStringLiteral("language %1: %2").arg(language).arg(p);
            // The column's captions stay between the card list and the dialog's right edge.
            const int cardsRight = cards->mapTo(&dialog, QPoint(cards->width(), 0)).x();
            for (QWidget *w :
                 {static_cast<QWidget *>(stateLabel), static_cast<QWidget *>(dialog.netFuncBox),
                  static_cast<QWidget *>(dialog.videoBox), static_cast<QWidget *>(dialog.serverAddrEdit)}) {
                const QRect r(w->mapTo(&dialog, QPoint(0, 0)), w->size());
                if (r.left() < cardsRight || r.right() >= dialog.width())
                    problems << QStringLiteral("language %1: %2 at %3..%4 outside %5..%6")
                                    .arg(language)
                                    .arg(QLatin1String(w->metaObject()->className()))
                                    .arg(r.left())
                                    .arg(r.right())
                                    .arg(cardsRight)
                                    .arg(dialog.width());
            }
        }
        // Both switches keep their whole text, in as many lines as the column needs.
        const auto bare = [](QString t) { return t.remove(QLatin1Char('\n')).remove(QLatin1Char(' ')); };
        QCOMPARE(bare(dialog.netFuncBox->text()), bare(uiText(598)));
        QCOMPARE(bare(dialog.videoBox->text()), bare(uiText(599)));
    }
    problems.removeDuplicates();
    for (const QString &p : problems) // the failure message alone is cut short
        qWarning().noquote() << p;
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestNetworkSettingDialog)
#include "tst_networksettingdialog.moc"
