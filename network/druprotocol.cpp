#include "druprotocol.h"

#include <QRegularExpression>
#include <QStringList>

#include <climits>
#include <cstring>

namespace {

// Eight items separated by ","; each number gives 1 for "1" and 0 otherwise, non-numbers are left
// out. False (states untouched) when there are not exactly eight items.
bool readStates(const QString &field, QList<qint32> *states)
{
    const QStringList items = field.split(QLatin1Char(','));
    if (items.size() != 8)
        return false;
    states->clear();
    for (const QString &item : items) {
        bool ok = false;
        const int value = item.toInt(&ok, 10);
        if (ok)
            states->append(value == 1 ? 1 : 0);
    }
    return true;
}

void parseModifyCells(const QString &frame, DruParseResult &r)
{
    static const QRegularExpression pattern(
        QStringLiteral("^A;22;(\\S+);\\((.*)\\);\\((.*)\\);\\((.*)\\);\\((.*)\\)"));
    const QRegularExpressionMatch match = pattern.match(frame);
    if (!match.hasMatch())
        return;
    Dru_Procotol_Struct &p = r.record;
    p.machineId = match.captured(2);
    const QStringList first = match.captured(3).split(QLatin1Char(';'));
    if (first.size() == 2) {
        p.name1 = first.at(0);
        p.ip1 = first.at(1);
    }
    const QStringList second = match.captured(4).split(QLatin1Char(';'));
    if (second.size() == 2) {
        p.name2 = second.at(0);
        p.ip2 = second.at(1);
    }
    const QStringList rest = match.captured(5).split(QLatin1Char(';'));
    if (rest.size() > 2 && rest.size() % 2 == 0)
        for (int i = 0; i + 1 < rest.size(); i += 2)
            p.members.append(qMakePair(rest.at(i), rest.at(i + 1)));
    r.signal = DruParseResult::ReqA2c22ModifyCells;
    r.reply = DruParseResult::ReplyA2c22;
}

} // namespace

bool druHasGroupId(const QString &groupId, const QString &deviceSerial,
                   const Dru_Procotol_Struct &cellConfig)
{
    if (groupId.isEmpty())
        return false;
    if (groupId == deviceSerial || groupId == cellConfig.name1 || groupId == cellConfig.name2)
        return true;
    for (const auto &member : cellConfig.members)
        if (member.first == groupId)
            return true;
    return false;
}

DruParseResult parseDruFrame(const char *data, size_t size, const QString &senderIp, int senderPort,
                             const QString &deviceSerial, const Dru_Procotol_Struct &cellConfig)
{
    DruParseResult r;
    const void *nul = std::memchr(data, 0, size);
    const size_t length = nul ? size_t(static_cast<const char *>(nul) - data) : size;
    QString text = QString::fromUtf8(data, int(qMin(length, size_t(INT_MAX))));
    if (text.size() >= 2 && text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    if (text.size() <= 4 || !text.startsWith(QLatin1Char('<')) || !text.endsWith(QLatin1Char('>'))) {
        r.warning = QStringLiteral("AnalysisRecvMessage: recv error, out of protocol");
        return r;
    }
    const QString frame = text.mid(1, text.size() - 2);
    const QStringList fields = frame.split(QLatin1Char(';'));
    if (fields.size() < 2) {
        r.warning = QStringLiteral("AnalysisRecvMessage: 未找到定义的数据包序号");
        return r;
    }
    Dru_Procotol_Struct &p = r.record;
    p.ip = senderIp;
    p.port = senderPort;
    p.role = fields.at(0);
    bool ok = false;
    p.number = fields.at(1).toInt(&ok, 10);
    if (!ok)
        p.number = 0;
    if (fields.size() >= 3)
        p.groupId = fields.at(2);
    const bool fromA = p.role == QLatin1String("A");
    const bool fromS = p.role == QLatin1String("S");
    const bool fromC = p.role == QLatin1String("C");
    const int n = fields.size();

    // The group check comes before the field count is looked at.
    auto groupOk = [&](const char *handler) {
        if (druHasGroupId(p.groupId, deviceSerial, cellConfig))
            return true;
        r.info = QString::fromLatin1(handler) + QStringLiteral(": no found procotols group id");
        return false;
    };

    switch (p.number) {
    case 1:
        if (fromA)
            r.signal = DruParseResult::ReqA2s01Discover;
        break;
    case 2:
        if (fromA && groupOk("do_req_a2s02_modifycells") && n == 5) {
            p.name2 = fields.at(3);
            p.ip2 = fields.at(4);
            r.signal = DruParseResult::ReqA2s02ModifyCells;
            r.reply = DruParseResult::ReplyA2s02;
        }
        break;
    case 3:
        if (fromS && groupOk("do_req_s2c03_heartbeat"))
            r.reply = DruParseResult::ReplyS2c03;
        else if (fromC)
            r.signal = DruParseResult::RspS2c03Heartbeat;
        break;
    case 4:
        if (fromS && groupOk("do_req_s2c04_needrepair") && n == 4) {
            r.signal = DruParseResult::ReqS2c04NeedRepair;
        } else if (fromC && groupOk("sig_do_rsp_s2c04_needrepair")) {
            if (n == 4) {
                p.name2 = fields.at(2);
                p.ip2 = fields.at(3);
            }
            r.signal = DruParseResult::RspS2c04NeedRepair;
        }
        break;
    case 5:
        if (fromS && groupOk("do_req_s2c05_inputstate") && n == 4) {
            QList<qint32> states;
            if (readStates(fields.at(3), &states) && states.size() == 8) {
                p.inputStates = states;
                r.signal = DruParseResult::ReqS2c05InputState;
                r.reply = DruParseResult::ReplyS2c05;
            }
        } else if (fromC) {
            r.syncText = frame;
        }
        break;
    case 6:
        if (fromC && n == 4) {
            QList<qint32> states;
            if (readStates(fields.at(3), &states) && states.size() == 8) {
                p.outputStates = states;
                r.signal = DruParseResult::ReqC2s06OutputState;
                r.reply = DruParseResult::ReplyC2s06;
            }
        }
        break;
    case 7:
        if (fromA) {
            r.signal = DruParseResult::ReqA2s07AllState;
        } else if (fromS && n == 5) {
            readStates(fields.at(3), &p.inputStates);
            readStates(fields.at(4), &p.outputStates);
            r.syncText = frame;
            r.signal = DruParseResult::RspA2s07AllState;
        }
        break;
    case 21:
        if (fromA)
            r.signal = DruParseResult::ReqA2c21Discover;
        break;
    case 22:
        if (fromA)
            parseModifyCells(frame, r);
        break;
    default:
        break;
    }
    return r;
}

QString druReplyFrame(DruParseResult::Reply reply, const QString &serial)
{
    switch (reply) {
    case DruParseResult::ReplyA2s02:
        return QStringLiteral("<S;2;") + serial + QStringLiteral(";OK>");
    case DruParseResult::ReplyS2c03:
        return QStringLiteral("<C;3;") + serial + QStringLiteral(">");
    case DruParseResult::ReplyS2c05:
        return QStringLiteral("<C;5;") + serial + QStringLiteral(";OK>");
    case DruParseResult::ReplyC2s06:
        return QStringLiteral("<S;6;") + serial + QStringLiteral(";OK>");
    case DruParseResult::ReplyA2c22:
        return QStringLiteral("<C;22;") + serial + QStringLiteral(";OK>");
    case DruParseResult::NoReply:
        break;
    }
    return QString();
}

int druReplyPort(DruParseResult::Reply reply)
{
    switch (reply) {
    case DruParseResult::ReplyA2s02:
    case DruParseResult::ReplyA2c22:
        return DruPort::A;
    case DruParseResult::ReplyS2c03:
    case DruParseResult::ReplyS2c05:
        return DruPort::S;
    case DruParseResult::ReplyC2s06:
        return DruPort::C;
    case DruParseResult::NoReply:
        break;
    }
    return 0;
}
