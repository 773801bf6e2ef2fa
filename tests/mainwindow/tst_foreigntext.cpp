// Text that comes from outside (card files, conf.txt, typed entries, program output, names in messages)
// is shown as written on every widget that shows it: a tag is shown as its characters, never read as
// markup, so a card description cannot make a label load a picture or a device file.

#include "boxtestpolicy.h"
#include "choosebox.h"
#include "commandrunner.h"
#include "edit.h"
#include "hardwareconfigurationwidget.h"
#include "imagesize.h"
#include "networkcarditem.h"
#include "networkmanager.h"
#include "networksettingdialog.h"
#include "pathmap.h"
#include "pingtest.h"
#include "testfiles.h"
#include "testworkdir.h"
#include "textshowwidget.h"
#include "uitexttable.h"
#include "warnbox.h"

#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextCodec>
#include <QtTest>

#include <memory>

namespace {

// A picture far taller than any line: a label that reads its text as markup grows to its height.
const char *const kTallPicture = "tall.png";
constexpr int kTallPictureHeight = 1500;

class QuietRunner : public CommandRunner
{
public:
    CommandResult run(const QString &, const QStringList &, int) override
    {
        CommandResult result;
        result.started = true;
        result.exitCode = 0;
        return result;
    }
};

// A ping whose output line is whatever the test gives it.
class EchoPing : public LongProcess
{
public:
    explicit EchoPing(QByteArray line) : m_pending(std::move(line)) {}
    bool start(const QString &, const QStringList &, int) override { return true; }
    QByteArray readAvailable() override { return std::exchange(m_pending, QByteArray()); }
    void close() override {}

private:
    QByteArray m_pending;
};

// The widgets that show outside text, each built the way the box builds it.
enum class Shown
{
    WarnBoxMessage,
    ChooseBoxQuestion,
    CardName,
    CardMac,
    CardAddress,
    CardNetmask,
    CardGateway,
    CardDescription,
    CardDescriptionReloaded,
    HardwareKey,
    HardwareValue,
    PingPaneTypedHost,
    PingPaneOutput,
};

stu_netinfo cardWith(const QString &field, const QString &text)
{
    stu_netinfo card;
    card.name = QStringLiteral("eth0");
    card.address = QStringLiteral("10.0.0.5");
    card.netmask = QStringLiteral("255.255.255.0");
    card.gateway = QStringLiteral("10.0.0.1");
    card.mac = QStringLiteral("aa:bb:cc:00:00:01");
    card.describe = QStringLiteral("LAN");
    if (field == QLatin1String("labname"))
        card.name = text;
    else if (field == QLatin1String("labmac"))
        card.mac = text;
    else if (field == QLatin1String("labip"))
        card.address = text;
    else if (field == QLatin1String("labmask"))
        card.netmask = text;
    else if (field == QLatin1String("labroute"))
        card.gateway = text;
    else
        card.describe = text;
    return card;
}

QLabel *labelShowing(QWidget *widget, const QString &text)
{
    for (QLabel *label : widget->findChildren<QLabel *>())
        if (label->text() == text)
            return label;
    return nullptr;
}

} // namespace

Q_DECLARE_METATYPE(Shown)

class TestForeignText : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        fillUiTextTable();
        gLanguage = 1;
    }

    void shownAsWritten_data()
    {
        QTest::addColumn<Shown>("shown");
        QTest::addColumn<QString>("text");
        const QString picture = QStringLiteral("<img src=\"%1\">").arg(QLatin1String(kTallPicture));
        const QString bold = QStringLiteral("<b>eth0</b> & <i>x</i>");
        QTest::newRow("message box: a group name") << Shown::WarnBoxMessage << picture;
        QTest::newRow("message box: bold") << Shown::WarnBoxMessage << bold;
        QTest::newRow("question box: an archive name") << Shown::ChooseBoxQuestion << picture;
        QTest::newRow("network card: name") << Shown::CardName << picture;
        QTest::newRow("network card: mac") << Shown::CardMac << picture;
        QTest::newRow("network card: address") << Shown::CardAddress << bold;
        QTest::newRow("network card: netmask") << Shown::CardNetmask << picture;
        QTest::newRow("network card: gateway") << Shown::CardGateway << picture;
        QTest::newRow("network card: description") << Shown::CardDescription << picture;
        QTest::newRow("network card: description after an edit")
            << Shown::CardDescriptionReloaded << picture;
        QTest::newRow("hardware page: key") << Shown::HardwareKey << picture;
        QTest::newRow("hardware page: value") << Shown::HardwareValue << bold;
        QTest::newRow("ping pane: a typed host it refuses") << Shown::PingPaneTypedHost << picture;
        QTest::newRow("ping pane: the program's output") << Shown::PingPaneOutput << picture;
        QTest::newRow("ping pane: bold output") << Shown::PingPaneOutput << bold;
    }

    void shownAsWritten()
    {
        QFETCH(Shown, shown);
        QFETCH(QString, text);
        TestWorkDir dir(TestWorkDir::Empty);
        QImage tall(8, kTallPictureHeight, QImage::Format_RGB32);
        tall.fill(Qt::red);
        QVERIFY(tall.save(QString::fromLatin1(kTallPicture)));

        QuietRunner runner;
        setCommandRunner(&runner);
        BoxTestPolicy::enable(1);
        std::unique_ptr<QWidget> owner;
        QLabel *label = nullptr;
        QTextBrowser *pane = nullptr;
        QString expected = text; // what the widget must show, character for character

        switch (shown) {
        case Shown::WarnBoxMessage: {
            auto *box = new WarnBox;
            owner.reset(box);
            box->setMessage(text);
            break;
        }
        case Shown::ChooseBoxQuestion: {
            auto *box = new ChooseBox;
            owner.reset(box);
            box->setMessage(text);
            break;
        }
        case Shown::CardName:
        case Shown::CardMac:
        case Shown::CardAddress:
        case Shown::CardNetmask:
        case Shown::CardGateway:
        case Shown::CardDescription: {
            static const char *const fields[] = {"labname", "labmac",   "labip",
                                                 "labmask", "labroute", "labtip"};
            const QString field = QString::fromLatin1(fields[int(shown) - int(Shown::CardName)]);
            owner = std::make_unique<Network_CardItem>(cardWith(field, text), nullptr);
            label = owner->findChild<QLabel *>(field);
            break;
        }
        case Shown::CardDescriptionReloaded: {
            auto *row =
                new Network_CardItem(cardWith(QStringLiteral("labtip"), QStringLiteral("LAN")), nullptr);
            owner.reset(row);
            row->reload_information(cardWith(QStringLiteral("labtip"), text));
            label = row->findChild<QLabel *>(QStringLiteral("labtip"));
            break;
        }
        case Shown::HardwareKey:
        case Shown::HardwareValue: {
            const QByteArray line =
                shown == Shown::HardwareKey ? text.toUtf8() + "\tJ6412\n" : "CPU\t" + text.toUtf8() + '\n';
            QVERIFY(writeTestFile(QStringLiteral("conf.txt"), line));
            auto *page = new HardwareConfigurationWidget(nullptr);
            owner.reset(page);
            QLayoutItem *item = page->grid->itemAtPosition(0, shown == Shown::HardwareKey ? 0 : 1);
            label = item ? qobject_cast<QLabel *>(item->widget()) : nullptr;
            break;
        }
        case Shown::PingPaneTypedHost:
        case Shown::PingPaneOutput: {
            setSystemPathRoot(dir.filePath(QStringLiteral("root")));
            setLongProcessFactory([text] { return std::make_unique<EchoPing>(text.toUtf8() + '\n'); });
            auto *dialog = new NetworkSettingDialog;
            owner.reset(dialog);
            if (shown == Shown::PingPaneTypedHost) {
                dialog->pingAddrEdit->setText(text);
                expected = uiText(710).arg(text);
            } else {
                dialog->pingAddrEdit->setText(QStringLiteral("127.0.0.1"));
            }
            dialog->pingButton->click();
            pane = dialog->pingPane->textBrowser;
            if (shown == Shown::PingPaneOutput)
                QTRY_VERIFY(!pane->toPlainText().isEmpty());
            break;
        }
        }

        if (pane) {
            QCOMPARE(pane->toPlainText(), expected);
            QVERIFY2(!pane->document()->toHtml().contains(QLatin1String("<img")), "a picture in the pane");
        } else {
            if (!label)
                label = labelShowing(owner.get(), expected);
            QVERIFY2(label, "no label shows the text");
            QCOMPARE(label->text(), expected);
            QCOMPARE(label->textFormat(), Qt::PlainText);
            // Read as markup, the label would make room for the picture.
            QVERIFY2(label->sizeHint().height() < kTallPictureHeight,
                     qPrintable(QString::number(label->sizeHint().height())));
        }

        owner.reset();
        setLongProcessFactory({});
        setSystemPathRoot(QString());
        BoxTestPolicy::disable();
        setCommandRunner(nullptr);
    }
};

QTEST_MAIN(TestForeignText)
#include "tst_foreigntext.moc"
