#pragma once
// Which detection a start of the box takes as cut short, before the first word that may let the clamp
// close: the mark a stop left, a mark that a power cut or a damaged disk left unreadable or naming a
// slot this box does not have, or a mould that opened while the box was starting (the board's poll
// runs from the board link on, long before the cycle's). Pure: the main window's start decision
// (decideStartOutputs) acts on the answer. GUI thread.

#include "detectionmark.h"

#include <QString>

struct InputEntrySnapshot;
struct SysParam;

struct StartCutShort
{
    int slot = -1; // slot to judge before the clamp may close; -1: an ordinary start
    int moldSide = 1;
    quint32 inputs = 0; // bit i: input i's entries that led here (read by this start)
    QString why;        // for the log line; empty for an ordinary start or a whole mark
};

// The slot and side a cycle start of `input` marks (the product slot first when one is enabled),
// or, for the safety door, the mould slot its detection marks; `moldSide` is the side in force, which
// input -1 keeps on the turntable too.
DetectionMark cycleStartMark(const SysParam &p, int input, int moldSide, int slotCount, int cameraCount);

// The inputs whose opening since the board link's first status frame (an entry into the active state
// that lasted the debounce time: a glitch is none), or whose active level now, starts a detection at a
// fresh start: the cycle-start input (0; on the turntable 0
// or 3 as detectMold allows) and, with the safety-door trigger, input 1. Bit i for input i.
quint32 detectionStartInputs(const InputEntrySnapshot &entries, const SysParam &p);

// What the start takes as cut short: a mould opened during the start (the newest event: its cycle's
// chain), else the mark left; a damaged mark, or one naming a slot beyond `slotCount`, is the chain a
// cycle start marks on the side in force.
StartCutShort decideCutShort(const DetectionMark &left, const InputEntrySnapshot &entries, const SysParam &p,
                             int moldSide, int slotCount, int cameraCount);
