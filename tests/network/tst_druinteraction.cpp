// The text protocol manager: every frame rule through the signals a receiver sees, the reply that
// reaches a peer over the loopback device, and the senders' results.

#include "druinteractionmanager.h"
#include "udptestsupport.h"

#include <QtTest>

#include <arpa/inet.h>

#include <thread>

namespace {

const QString kSerial = QStringLiteral("00000000abcd1234");

const char *const kSignals[] = {
    "sig_do_req_a2s01_discover",   "sig_do_req_a2s02_modifycells", "sig_do_rsp_s2c03_heartbeat",
    "sig_do_rsp_s2c04_needrepair", "sig_do_req_c2s06_outputstate", "sig_do_req_a2s07_allstate",
    "sig_do_req_a2c21_discover",   "sig_do_req_a2c22_modifycells", "sig_do_req_s2c04_needrepair",
    "sig_do_rsp_a2s07_allstate",   "sig_do_req_s2c05_inputstate",
};

QString states(const QList<qint32> &list)
{
    QStringList items;
    for (qint32 v : list)
        items << QString::number(v);
    return items.join(',');
}

// The fields a row checks, in one line.
QString describe(const Dru_Procotol_Struct &p)
{
    QStringList d{QStringLiteral("%1%2 g=%3").arg(p.role).arg(p.number).arg(p.groupId)};
    if (!p.name1.isEmpty() || !p.machineId.isEmpty())
        d << QStringLiteral("m=%1 1=%2@%3").arg(p.machineId, p.name1, p.ip1);
    if (!p.name2.isEmpty())
        d << QStringLiteral("2=%1@%2").arg(p.name2, p.ip2);
    for (const auto &m : p.members)
        d << m.first + "@" + m.second;
    if (!p.inputStates.isEmpty())
        d << "in=" + states(p.inputStates);
    if (!p.outputStates.isEmpty())
        d << "out=" + states(p.outputStates);
    return d.join(' ');
}

std::string datagram(const QByteArray &frame)
{
    QByteArray d = frame;
    d.append(QByteArray(2048 - d.size(), '\0'));
    return d.toStdString();
}

sockaddr_in peerAddress()
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.9");
    a.sin_port = htons(5555);
    return a;
}

} // namespace

class TestDruInteraction : public QObject
{
    Q_OBJECT
    FakeUdpPlatform m_platform;

private slots:
    void init()
    {
        m_platform = FakeUdpPlatform();
        m_platform.addInterface("eth9", "02:00:00:00:00:09", "127.0.0.1", "255.0.0.0");
        setUdpPlatform(&m_platform);
    }
    void cleanup() { setUdpPlatform(nullptr); }

    // One frame a line: name ~ frame ~ outcome. The outcome lists the log line, "sync" with its text,
    // the signal (without "sig_do_") with the record it carries, and the reply the manager sends;
    // "$S" stands for the box's serial, "$BAD" for the out-of-protocol warning, \r \n \0 for those
    // bytes.
    void frames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("outcome");
        const char *table = R"(
discover, five characters ~ <A;1> ~ req_a2s01_discover A1 g=
discover, more fields ~ <A;1;x;y> ~ req_a2s01_discover A1 g=x
one trailing CR ~ <A;1>\r ~ req_a2s01_discover A1 g=
CR LF ~ <A;1>\r\n ~ W:$BAD
four characters ~ <A;> ~ W:$BAD
three characters ~ <A> ~ W:$BAD
no closing bracket ~ <A;1; ~ W:$BAD
no opening bracket ~ A;1;x> ~ W:$BAD
zero byte cuts the frame ~ <A;1\0> ~ W:$BAD
after a zero byte ~ <A;7>\0<A;1> ~ req_a2s07_allstate A7 g=
one field ~ <A1234> ~ W:AnalysisRecvMessage: 未找到定义的数据包序号
empty number ~ <A;;> ~
lower-case role ~ <a;1> ~
discover from S ~ <S;1> ~
number 8 ~ <A;8> ~
modify cells ~ <A;2;$S;n;1.2.3.4> ~ req_a2s02_modifycells A2 g=$S 2=n@1.2.3.4 | <S;2;$S;OK>
modify cells, other group ~ <A;2;x;n;1.2.3.4> ~ I:do_req_a2s02_modifycells: no found procotols group id
modify cells, four fields ~ <A;2;$S;n> ~
modify cells, six fields ~ <A;2;$S;n;1.2.3.4;x> ~
heartbeat, no group ~ <S;3> ~ I:do_req_s2c03_heartbeat: no found procotols group id
heartbeat ~ <S;3;$S;more> ~ <C;3;$S>
heartbeat response ~ <C;3> ~ rsp_s2c03_heartbeat C3 g=
need repair ~ <S;4;$S;x> ~ req_s2c04_needrepair S4 g=$S
need repair, five fields ~ <S;4;$S;x;y> ~
need-repair response ~ <C;4;$S;x> ~ rsp_s2c04_needrepair C4 g=$S 2=$S@x
need-repair response, three fields ~ <C;4;$S> ~ rsp_s2c04_needrepair C4 g=$S
need-repair response, other group ~ <C;4;x;y> ~ I:sig_do_rsp_s2c04_needrepair: no found procotols group id
input states, 2 is off ~ <S;5;$S;1,0,1,0,1,0,1,2> ~ req_s2c05_inputstate S5 g=$S in=1,0,1,0,1,0,1,0
        | <C;5;$S;OK>
input states, seven ~ <S;5;$S;1,0,1,0,1,0,1> ~
input states, nine ~ <S;5;$S;1,0,1,0,1,0,1,0,1> ~
input states, a word ~ <S;5;$S;1,0,1,0,1,0,1,on> ~
input states, other group ~ <S;5;x;1,0,1,0,1,0,1,0> ~ I:do_req_s2c05_inputstate: no found procotols group id
input-state response ~ <C;5;any> ~ sync C;5;any
output states, any id ~ <C;6;x;1,1,0,0,1,1,0,0> ~ req_c2s06_outputstate C6 g=x out=1,1,0,0,1,1,0,0
        | <S;6;$S;OK>
output states, fifth field ~ <C;6;x;1,1,0,0,1,1,0,0;z> ~
all states request ~ <A;7;z> ~ req_a2s07_allstate A7 g=z
all states, a word among outputs ~ <S;7;x;1,1,1,1,1,1,1,1;0,1,0,1,0,1,0,x>
        ~ sync S;7;x;1,1,1,1,1,1,1,1;0,1,0,1,0,1,0,x
        | rsp_a2s07_allstate S7 g=x in=1,1,1,1,1,1,1,1 out=0,1,0,1,0,1,0
all states, short lists ~ <S;7;x;1;1> ~ sync S;7;x;1;1 | rsp_a2s07_allstate S7 g=x
discover C ~ <A;21> ~ req_a2c21_discover A21 g=
cells, two pairs ~ <A;22;SER;9;(m);(n1;i1);(n2;i2);(a;ia;b;ib)>
        ~ req_a2c22_modifycells A22 g=SER m=m 1=n1@i1 2=n2@i2 a@ia b@ib
        | <C;22;$S;OK>
cells, one pair ~ <A;22;SER;9;(m);(n1;i1);(n2;i2);(a;ia)>
        ~ req_a2c22_modifycells A22 g=SER m=m 1=n1@i1 2=n2@i2
        | <C;22;$S;OK>
cells, three items ~ <A;22;SER;9;(m);(n1;i1);(n2;i2);(a;ia;b)>
        ~ req_a2c22_modifycells A22 g=SER m=m 1=n1@i1 2=n2@i2
        | <C;22;$S;OK>
cells, three groups ~ <A;22;SER;(m);(n1;i1);(n2;i2)> ~
)";
        // A line that starts with blanks continues the row above.
        const QString rows = QString::fromUtf8(table).replace(QRegularExpression("\n +"), " ");
        for (const QString &line : rows.split('\n', Qt::SkipEmptyParts)) {
            const QStringList f = line.split('~');
            QByteArray frame = f.at(1).trimmed().toUtf8().replace("$S", kSerial.toLatin1());
            frame.replace("\\r", "\r").replace("\\n", "\n").replace("\\0", QByteArray(1, '\0'));
            QString outcome = f.at(2).trimmed().replace("$S", kSerial);
            outcome.replace("$BAD", "AnalysisRecvMessage: recv error, out of protocol");
            QTest::newRow(qPrintable(f.at(0).trimmed())) << frame << outcome;
        }
    }
    void frames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, outcome);
        Dru_Interaction_Manager manager;
        QCOMPARE(manager.deviceSerial, kSerial);
        QList<QSignalSpy *> spies;
        for (const char *name : kSignals)
            spies << new QSignalSpy(&manager,
                                    (QByteArray("2") + name + "(Dru_Procotol_Struct)").constData());
        QSignalSpy sync(&manager, &UDP_Core::sig_sync_send_core);
        if (outcome.startsWith("W:") || outcome.startsWith("I:"))
            QTest::ignoreMessage(outcome.startsWith("W") ? QtWarningMsg : QtInfoMsg,
                                 qPrintable(outcome.mid(2)));

        manager.AnalysisRecvMessage(peerAddress(), datagram(frame));

        QStringList got;
        if (outcome.startsWith("W:") || outcome.startsWith("I:"))
            got << outcome;
        for (const QList<QVariant> &args : sync)
            got << "sync " + args.first().toString();
        for (int i = 0; i < spies.size(); ++i) {
            for (const QList<QVariant> &args : *spies.at(i)) {
                const auto record = args.first().value<Dru_Procotol_Struct>();
                QCOMPARE(record.ip + ":" + QString::number(record.port), QString("127.0.0.9:5555"));
                got << QString(kSignals[i]).mid(7) + " " + describe(record); // without "sig_do_"
            }
        }
        qDeleteAll(spies);
        const DruParseResult parsed = parseDruFrame(frame.constData(), size_t(frame.size()), "127.0.0.9",
                                                    5555, kSerial, manager.cellConfig);
        if (parsed.reply != DruParseResult::NoReply)
            got << druReplyFrame(parsed.reply, kSerial);
        QCOMPARE(got.join(" | "), outcome);
    }

    // A peer of role "A" on 127.0.0.1:10410 asks the manager (role "S", port 10411) to take a cell
    // member; the answer comes back to the role's port. Without an interface on the peer's subnet
    // the answer still leaves, from any local address.
    void modifyCellsOverLoopback_data()
    {
        QTest::addColumn<bool>("withInterface");
        QTest::newRow("interface on the subnet") << true;
        QTest::newRow("no matching interface") << false;
    }
    void modifyCellsOverLoopback()
    {
        QFETCH(bool, withInterface);
        if (!withInterface)
            m_platform.interfaces.clear();
        Dru_Interaction_Manager manager;
        QVERIFY(waitForPort("127.0.0.1", DruPort::S));
        QCOMPARE(manager.startListen("127.0.0.1", DruPort::S), 0);
        UdpTestPeer peer;
        QVERIFY(peer.bind("127.0.0.1", DruPort::A));
        QVERIFY(peer.sendTo("127.0.0.1", DruPort::S, "<A;2;" + kSerial.toLatin1() + ";n;1.2.3.4>"));
        // The reply slot runs queued on this thread: keep its events flowing while waiting.
        QByteArray answer;
        QElapsedTimer waited;
        waited.start();
        while (answer.isNull() && waited.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            answer = peer.receive(10);
        }
        QCOMPARE(answer, "<S;2;" + kSerial.toLatin1() + ";OK>");
    }

    void senders()
    {
        Dru_Interaction_Manager manager;
        QVERIFY(waitForPort("127.0.0.1", DruPort::A));
        QCOMPARE(manager.startListen("127.0.0.1", DruPort::A), 0);
        UdpTestPeer cell;
        QVERIFY(cell.bind("127.0.0.1", DruPort::S));

        QTest::ignoreMessage(QtWarningMsg, "smartcamera_send_a2s07_allstate: no cell address");
        QVERIFY(!manager.smartcamera_send_a2s07_allstate());
        QVERIFY(cell.receive(50).isNull());

        // The cell answers the all-state request with its states; that answer ends the wait.
        manager.cellConfig.ip1 = "127.0.0.1";
        std::thread answering([&cell] {
            if (cell.receive(5000) == "<A;7>")
                cell.sendTo("127.0.0.1", DruPort::A, "<S;7;x;1,1,1,1,0,0,0,0;0,0,0,0,1,1,1,1>");
        });
        const bool answered = manager.smartcamera_send_a2s07_allstate();
        answering.join();
        QVERIFY(answered);
        QVERIFY(!manager.smartcamera_send_a2s07_allstate()); // nobody answers now
        QCOMPARE(cell.receive(50), QByteArray("<A;7>"));

        m_platform.interfaces.clear();
        Dru_Interaction_Manager alone;
        QVERIFY(alone.smartcamera_send_a2s01_discover()); // no interface: nothing to wait for
    }
};

QTEST_GUILESS_MAIN(TestDruInteraction)
#include "tst_druinteraction.moc"
