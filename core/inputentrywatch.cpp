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

void InputEntryWatch::setSetup(const InputEntryWatchSetup &setup)
{
    for (int i = 0; i < kInputs; ++i) {
        // A setting that changes is no entry: the span of the old reading ends unjudged.
        if (!m_setupSet || !m_setup.map.sameFor(i, setup.map)) {
            m_activeEntry[i] = 0;
            // The counts start again under the new reading; an opening still uncovered stays so.
            m_askedEntry[i] = 0;
            m_coveredCount[i] = 0;
            m_startUncovered &= ~(1u << i);
        }
    }
    m_setup = setup;
    m_setupSet = true;
}

quint32 InputEntryWatch::takenCount(int input) const
{
    if (!m_readMapSet[input] || !m_readMap.sameFor(input, m_setup.map))
        return 0;
    return m_taken[input];
}

void InputEntryWatch::opening(int input)
{
    const quint32 entry = m_activeEntry[input];
    const bool taken = entry <= takenCount(input);
    if (!taken && m_openingEntry[input] == 0)
        m_openingEntry[input] = entry;
    if (!m_setup.armed)
        return;
    const quint32 bit = 1u << input;
    // An opening whose cycle has started already has its mark on disk.
    if ((m_setup.markInputs & bit) && entry > m_coveredCount[input]) {
        m_markRequests |= bit;
        m_askedEntry[input] = entry;
        m_uncovered[input] = true;
    }
    // Taken and latched by the cycle's timer, its pass still to come: blocked until that pass starts
    // the cycle (whose word blocks it) or drops the latch. Taken by a busy pass: the cycle's word
    // already blocks it.
    if (m_setup.blockAtOnce && (m_setup.watchedInputs & bit) && (!taken || (m_latchedInputs & bit)))
        m_blockInputs |= bit;
}

void InputEntryWatch::judgeSpan(int input, qint64 nowMs)
{
    const quint32 entry = m_activeEntry[input];
    if (entry == 0 || m_activeJudged[input])
        return;
    if (nowMs - m_activeFromMs[input] >= m_setup.debounceMs) {
        m_activeJudged[input] = true;
        opening(input);
    }
}

void InputEntryWatch::statusFrame(quint32 inputs, qint64 readMs)
{
    if (!m_firstFrameSeen) {
        m_firstFrameSeen = true;
        m_word = inputs;
        return;
    }
    const quint32 before = m_word;
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
    if (!m_setupSet || changed == 0)
        return;
    for (int i = 0; i < kInputs; ++i) {
        const int b = m_setup.map.source[i];
        if (b < 0 || b >= kBoardInputs || !(changed & (1u << b)))
            continue;
        const bool inv = m_setup.map.inverted[i];
        const bool active = (((inputs >> b) & 1u) != 0) != inv;
        const bool wasActive = (((before >> b) & 1u) != 0) != inv;
        if (active && !wasActive) {
            m_activeEntry[i] = entries(i, m_setup.map);
            m_activeFromMs[i] = readMs;
            m_activeJudged[i] = false;
            judgeSpan(i, readMs);
        } else if (!active && wasActive && m_activeEntry[i] != 0) {
            judgeSpan(i, readMs);
            if (m_activeEntry[i] > takenCount(i))
                m_longestMs[i] = qMax(m_longestMs[i], readMs - m_activeFromMs[i]);
            m_activeEntry[i] = 0;
        }
    }
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
        if (m_setupSet && m_setup.map.sameFor(i, map) && m_openingEntry[i] > takenCount(i))
            s.openingWord |= 1u << i;
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
        m_taken[input] = m_read[input];
        m_unreadSinceMs[input] = 0;
        m_openingEntry[input] = 0;
        m_longestMs[input] = 0;
        m_blockInputs &= ~(1u << input);
    }
    return m_read[input];
}

bool InputEntryWatch::markRead(int input, const InputEntryMap &map, quint32 count, InputEntryStall *stall,
                               InputEntryTake *took)
{
    if (!validInput(input))
        return false;
    readEntries(input, map);
    const bool before = count > m_read[input];
    m_read[input] = qMin(count, entries(input, map));
    if (count == entries(input, map))
        m_unreadSinceMs[input] = 0;
    const bool reached = m_holding && m_stall.input == input && !m_stallRead && before;
    if (reached) {
        m_stallRead = true;
        if (stall)
            *stall = m_stall;
    }
    if (m_setup.debounceMs <= 0) {
        const InputEntryTake t = take(input, map, m_read[input], true);
        if (took)
            *took = t;
    }
    return reached;
}

InputEntryTake InputEntryWatch::take(int input, const InputEntryMap &map, quint32 count, bool latched,
                                     InputEntryStall *stall)
{
    InputEntryTake t;
    if (!validInput(input))
        return t;
    readEntries(input, map);
    count = qMin(count, m_read[input]);
    if (count <= m_taken[input])
        return t;
    m_taken[input] = count;
    t.lengthMs = m_longestMs[input];
    m_longestMs[input] = 0;
    if (m_openingEntry[input] <= count)
        m_openingEntry[input] = 0;
    const quint32 bit = 1u << input;
    const bool blocked = (m_blockInputs & bit) != 0 && m_openingEntry[input] == 0;
    t.guardHeld = m_holding && m_stall.input == input;
    if (blocked)
        m_blockInputs &= ~bit;
    if (t.guardHeld) {
        m_holding = false;
        m_stallRead = false;
        if (stall)
            *stall = m_stall;
    }
    t.keepClamp = latched && (blocked || t.guardHeld);
    return t;
}

InputDebounce InputEntryWatch::judgeDebounce(int input, const InputEntryMap &map, qint64 nowMs,
                                             qint64 *waitMs)
{
    if (waitMs)
        *waitMs = 0;
    if (!validInput(input))
        return InputDebounce::Drop;
    const quint32 read = readEntries(input, map);
    const quint32 taken = m_taken[input];
    const bool current = m_setupSet && m_setup.map.sameFor(input, map);
    if (current && m_openingEntry[input] > taken && m_openingEntry[input] <= read)
        return InputDebounce::Latch;
    const quint32 active = current ? m_activeEntry[input] : 0;
    if (active > taken && active <= read) {
        const qint64 left = m_activeFromMs[input] + m_setup.debounceMs - nowMs;
        if (left <= 0)
            return InputDebounce::Latch;
        if (waitMs)
            *waitMs = left;
        return InputDebounce::Wait;
    }
    return InputDebounce::Drop;
}

qint64 InputEntryWatch::debounceLeftMs(int input, const InputEntryMap &map, qint64 nowMs)
{
    if (!validInput(input))
        return 0;
    const quint32 read = readEntries(input, map);
    const bool current = m_setupSet && m_setup.map.sameFor(input, map);
    if (current && m_openingEntry[input] > m_taken[input] && m_openingEntry[input] <= read)
        return 0;
    return qMax<qint64>(0, lastEntryMs(input, map) + m_setup.debounceMs - nowMs);
}

quint32 InputEntryWatch::withHold(quint32 word) const
{
    if (!holding())
        return word;
    const quint32 bit = 1u << (m_setup.holdBit & 31);
    return m_setup.holdLevel ? word | bit : word & ~bit;
}

quint32 InputEntryWatch::takeMarkRequests()
{
    const quint32 requests = m_markRequests;
    m_markRequests = 0;
    return requests;
}

bool InputEntryWatch::untakenEntry(int input) const
{
    if (!validInput(input))
        return false;
    const quint32 counted = entries(input, m_setup.map);
    if (!m_readMapSet[input] || !m_readMap.sameFor(input, m_setup.map))
        return false;
    return counted > m_taken[input];
}

bool InputEntryWatch::endTakenBlock(int input)
{
    const quint32 bit = 1u << input;
    m_latchedInputs &= ~bit;
    // A newer opening the cycle has not taken keeps its own block.
    if (!(m_blockInputs & bit) || m_openingEntry[input] != 0)
        return false;
    m_blockInputs &= ~bit;
    return true;
}

bool InputEntryWatch::cycleStarted(int input, const InputEntryMap &map)
{
    if (!validInput(input))
        return false;
    cover(input, map, readEntries(input, map));
    m_startUncovered = 0;
    for (int i = 0; i < kInputs; ++i) {
        m_startAsked[i] = m_askedEntry[i];
        if (m_uncovered[i])
            m_startUncovered |= 1u << i;
    }
    return endTakenBlock(input);
}

void InputEntryWatch::cycleJudged()
{
    for (int i = 0; i < kInputs; ++i) {
        // One asked for since the start is newer than the cycle, and its own.
        if ((m_startUncovered & (1u << i)) && m_askedEntry[i] == m_startAsked[i]) {
            m_uncovered[i] = false;
            m_coveredCount[i] = qMax(m_coveredCount[i], m_askedEntry[i]);
        }
    }
    m_startUncovered = 0;
}

void InputEntryWatch::cover(int input, const InputEntryMap &map, quint32 count)
{
    if (!validInput(input) || !m_setupSet || !m_setup.map.sameFor(input, map))
        return;
    m_coveredCount[input] = qMax(m_coveredCount[input], count);
    if (m_askedEntry[input] <= count)
        m_uncovered[input] = false;
}

void InputEntryWatch::latched(int input)
{
    if (validInput(input))
        m_latchedInputs |= 1u << input;
}

quint32 InputEntryWatch::latchesDropped()
{
    quint32 ended = 0;
    for (int i = 0; i < kInputs; ++i) {
        if ((m_latchedInputs & (1u << i)) && endTakenBlock(i))
            ended |= 1u << i;
    }
    m_latchedInputs = 0;
    return ended;
}

bool InputEntryWatch::uncoveredOpening(int input) const
{
    return validInput(input) && m_uncovered[input];
}

quint32 InputEntryWatch::heldWord(quint32 wanted, qint64 nowMs, InputEntryStall *tripped)
{
    // An entry still active is judged on every poll: it becomes an opening once it has lasted.
    if (m_setupSet) {
        for (int i = 0; i < kInputs; ++i)
            judgeSpan(i, nowMs);
    }
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
                m_stallRead = false;
                m_stall = {i, m_unreadSinceMs[i], nowMs};
                if (tripped)
                    *tripped = m_stall;
                break;
            }
        }
    }
    return withHold(wanted);
}
