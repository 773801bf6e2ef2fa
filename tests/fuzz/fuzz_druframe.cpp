// libFuzzer target for the text protocol's frame parser: arbitrary datagrams.
//
// Checked on every input: the parser logs at most one line and never both kinds; only frames that
// open with "<" and close with ">" (after one trailing CR) get past the first check; an accepted
// frame names a role "A", "S" or "C" and a listed number; state lists are 0/1 and of eight entries
// where the frame is accepted only so; every reply belongs to a request addressed to us, and the
// reply and signal agree with each other.

#include "druprotocol.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

bool binary(const QList<qint32> &states)
{
    for (qint32 v : states)
        if (v != 0 && v != 1)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Dru_Procotol_Struct cell;
    cell.name1 = QStringLiteral("line1");
    cell.members << qMakePair(QStringLiteral("press7"), QStringLiteral("10.0.0.7"));
    const DruParseResult r =
        parseDruFrame(reinterpret_cast<const char *>(data), size, QStringLiteral("10.0.0.9"), 4242,
                      QStringLiteral("abcd1234"), cell);
    check(r.warning.isEmpty() || r.info.isEmpty());
    const bool accepted =
        r.signal != DruParseResult::NoSignal || r.reply != DruParseResult::NoReply || !r.syncText.isEmpty();
    if (!accepted)
        return 0;
    check(r.warning.isEmpty() && r.info.isEmpty());
    const Dru_Procotol_Struct &p = r.record;
    check(p.role == "A" || p.role == "S" || p.role == "C");
    check(QList<int>({1, 2, 3, 4, 5, 6, 7, 21, 22}).contains(p.number));
    check(p.ip == "10.0.0.9" && p.port == 4242);
    check(binary(p.inputStates) && binary(p.outputStates));
    check(p.inputStates.size() <= 8 && p.outputStates.size() <= 8);
    check(p.members.size() != 1);

    switch (r.reply) {
    case DruParseResult::ReplyA2s02:
        check(r.signal == DruParseResult::ReqA2s02ModifyCells && p.role == "A");
        break;
    case DruParseResult::ReplyS2c03:
        check(r.signal == DruParseResult::NoSignal && p.role == "S" && p.number == 3);
        break;
    case DruParseResult::ReplyS2c05:
        check(r.signal == DruParseResult::ReqS2c05InputState && p.inputStates.size() == 8);
        break;
    case DruParseResult::ReplyC2s06:
        check(r.signal == DruParseResult::ReqC2s06OutputState && p.outputStates.size() == 8);
        break;
    case DruParseResult::ReplyA2c22:
        check(r.signal == DruParseResult::ReqA2c22ModifyCells && p.number == 22);
        break;
    case DruParseResult::NoReply:
        break;
    }
    // The group check keeps frames of other cells out.
    if (r.reply == DruParseResult::ReplyA2s02 || r.reply == DruParseResult::ReplyS2c03 ||
        r.reply == DruParseResult::ReplyS2c05)
        check(p.groupId == "abcd1234" || p.groupId == "line1" || p.groupId == "press7");
    if (!r.syncText.isEmpty())
        check((p.role == "C" && p.number == 5) || (p.role == "S" && p.number == 7));
    return 0;
}
