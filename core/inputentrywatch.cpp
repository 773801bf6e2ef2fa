#include "inputentrywatch.h"

#include "sysparam.h"

InputEntryWatch gIoEntryWatch;

namespace {
constexpr int kInputs = 16;
constexpr int kBoardInputs = 10; // the board reports bits 0-9

bool validInput(int input)
{
    return input >= 0 && input < kInputs;
}
} // namespace

InputEntryMap InputEntryMap::fromParams()
{
    InputEntryMap map;
    for (int i = 0; i < kInputs; ++i) {
        map.source[i] = i;
        // Only inputs 0-7 have an inversion setting.
        map.inverted[i] = gSysParam && i < 8 && gSysParam->inputInvert[i] != 0;
    }
    const int input4Use = gSysParam ? gSysParam->input4Use : 0;
    if (input4Use != 0)
        map.source[input4Use == 1 ? 0 : input4Use == 2 ? 1 : 2] = 3;
    return map;
}

void InputEntryWatch::reset()
{
    *this = InputEntryWatch();
}

void InputEntryWatch::statusFrame(quint32 inputs, qint64 readMs)
{
    if (!m_firstFrameSeen) {
        m_firstFrameSeen = true;
        m_word = inputs;
        return;
    }
    const quint32 changed = inputs ^ m_word;
    for (int b = 0; b < kBoardInputs; ++b) {
        if (!(changed & (1u << b)))
            continue;
        if (inputs & (1u << b)) {
            ++m_rises[b];
            m_lastRiseMs[b] = readMs;
        } else {
            ++m_falls[b];
            m_lastFallMs[b] = readMs;
        }
    }
    m_word = inputs;
}

quint32 InputEntryWatch::entries(int input, const InputEntryMap &map) const
{
    if (!validInput(input))
        return 0;
    const int b = map.source[input];
    return map.inverted[input] ? m_falls[b] : m_rises[b];
}

qint64 InputEntryWatch::lastEntryMs(int input, const InputEntryMap &map) const
{
    if (!validInput(input))
        return 0;
    const int b = map.source[input];
    return map.inverted[input] ? m_lastFallMs[b] : m_lastRiseMs[b];
}

InputEntrySnapshot InputEntryWatch::snapshot(const InputEntryMap &map) const
{
    InputEntrySnapshot s;
    s.firstFrameSeen = m_firstFrameSeen;
    for (int i = 0; i < kInputs; ++i) {
        const bool level = (m_word >> map.source[i]) & 1u;
        if (m_firstFrameSeen && level != map.inverted[i])
            s.activeWord |= 1u << i;
        s.entries[i] = entries(i, map);
        s.lastEntryMs[i] = lastEntryMs(i, map);
    }
    return s;
}

quint32 InputEntryWatch::readEntries(int input, const InputEntryMap &map)
{
    if (!validInput(input))
        return 0;
    if (!m_readMapSet[input] || !m_readMap.sameFor(input, map)) {
        m_readMapSet[input] = true;
        m_readMap.source[input] = map.source[input];
        m_readMap.inverted[input] = map.inverted[input];
        m_read[input] = entries(input, map);
        m_unreadSinceMs[input] = 0;
    }
    return m_read[input];
}

bool InputEntryWatch::markRead(int input, const InputEntryMap &map, quint32 count, InputEntryStall *stall)
{
    if (!validInput(input))
        return false;
    readEntries(input, map);
    m_read[input] = count;
    if (count == entries(input, map))
        m_unreadSinceMs[input] = 0;
    if (!m_holding || m_stall.input != input)
        return false;
    m_holding = false;
    if (stall)
        *stall = m_stall;
    return true;
}

bool InputEntryWatch::untakenEntry(int input) const
{
    if (!validInput(input))
        return false;
    const quint32 counted = entries(input, m_setup.map);
    if (!m_readMapSet[input] || !m_readMap.sameFor(input, m_setup.map))
        return false;
    return counted != m_read[input];
}

quint32 InputEntryWatch::heldWord(quint32 wanted, qint64 nowMs, InputEntryStall *tripped)
{
    if (!m_holding && m_setup.armed && m_firstFrameSeen) {
        for (int i = 0; i < kInputs; ++i) {
            if (!(m_setup.watchedInputs & (1u << i)))
                continue;
            if (entries(i, m_setup.map) == readEntries(i, m_setup.map)) {
                m_unreadSinceMs[i] = 0;
                continue;
            }
            // Stamped once, with the first entry still unread: later ones do not move it on.
            if (m_unreadSinceMs[i] == 0)
                m_unreadSinceMs[i] = qMax<qint64>(lastEntryMs(i, m_setup.map), 1);
            if (nowMs - m_unreadSinceMs[i] >= kUnreadBoundMs) {
                m_holding = true;
                m_stall = {i, m_unreadSinceMs[i], nowMs};
                if (tripped)
                    *tripped = m_stall;
                break;
            }
        }
    }
    if (!m_holding)
        return wanted;
    const quint32 bit = 1u << (m_setup.holdBit & 31);
    return m_setup.holdLevel ? wanted | bit : wanted & ~bit;
}
