#pragma once
// The output word the host means the board to hold, asked of the real poll through the board simulator:
// for tests that assert which word the board holds at a step, also where no new word is to come.

#include "boardsimulator.h"

#include <QDeadlineTimer>
#include <QtTest>

// The whole word the host means the board to hold now, as the board receives it. The board forgets its
// outputs (as a reset does) twice: the host's answer to the second forgotten echo comes from a pass
// that began after this call, so whatever changed before the call (inputs the poll has read, the test's
// clock moved, the cycle's own word) is in it. Waits for the condition, not for a count of commands,
// processing events meanwhile (the GUI thread may be the one that decides the word); -1 when no answer
// came within `timeoutMs`. The answers are command-1 frames in the board's log.
inline int hostWordNow(BoardSimulator &board, int timeoutMs = 5000)
{
    const QDeadlineTimer deadline(timeoutMs);
    int word = -1;
    for (int round = 0; round < 2; ++round) {
        board.forgetOutputs();
        const auto answered = [&] { return (word = board.wordSinceForgotten()) >= 0; };
        if (!QTest::qWaitFor(answered, int(qMax<qint64>(1, deadline.remainingTime()))))
            return -1;
    }
    return word;
}
