#include "startdecision.h"

#include "controlport.h"
#include "sysparam.h"

#include <algorithm>

namespace {

bool twoSided(const SysParam &p)
{
    return p.machineType == 1 || p.machineType == 2;
}

bool cycleStartInput(const SysParam &p, int input)
{
    return input >= 0 && input < 16 && (cycleStartInputMask(p, false) & (1u << input)) != 0;
}

} // namespace

DetectionMark cycleStartMark(const SysParam &p, int input, int moldSide, int slotCount, int cameraCount)
{
    const int inUse = std::clamp(slotCount, 0, 8);
    DetectionMark mark;
    if (input == 1 && p.safetyDoorTrigger && !cycleStartInput(p, 1)) {
        mark.moldSide = moldSide;
        mark.slot = twoSided(p) && moldSide == 0 ? 3 : 1;
        return mark;
    }
    mark.moldSide = p.machineType == 2 && input >= 0 ? (input == 3 ? 0 : 1) : moldSide;
    bool productArmed = false;
    for (int s = 0; s < inUse; s += 2)
        productArmed = productArmed || p.slotEnabled[s] != 0;
    const int first = productArmed && cameraCount > 0 ? 0 : 1;
    mark.slot = twoSided(p) && mark.moldSide == 0 ? first + 2 : first;
    return mark;
}

quint32 detectionStartInputs(const InputEntrySnapshot &entries, const SysParam &p)
{
    if (!entries.firstFrameSeen)
        return 0;
    const quint32 watched = cycleStartInputMask(p, true);
    quint32 inputs = 0;
    for (int i = 0; i < 16; ++i) {
        if ((watched & (1u << i)) != 0 && ((entries.openingWord | entries.activeWord) & (1u << i)) != 0)
            inputs |= 1u << i;
    }
    return inputs;
}

StartCutShort decideCutShort(const DetectionMark &left, const InputEntrySnapshot &entries, const SysParam &p,
                             int moldSide, int slotCount, int cameraCount)
{
    StartCutShort cut;
    cut.inputs = detectionStartInputs(entries, p);
    if (cut.inputs != 0) {
        // A cycle start goes before the door, as in the cycle's own trigger step.
        int input = 1;
        for (int i : {0, 3}) {
            if ((cut.inputs & (1u << i)) != 0 && cycleStartInput(p, i)) {
                input = i;
                break;
            }
        }
        const DetectionMark mark = cycleStartMark(p, input, moldSide, slotCount, cameraCount);
        cut.slot = mark.slot;
        cut.moldSide = mark.moldSide;
        // An input active now with no opening counted may have been so since before the board link.
        cut.why =
            (entries.openingWord & (1u << input)) != 0
                ? QStringLiteral("input %1 entered its active state while the box was starting").arg(input)
                : QStringLiteral("input %1 was active at start").arg(input);
        return cut;
    }
    const bool beyond = left.slot >= std::clamp(slotCount, 0, 8);
    if (!left.damaged && !beyond) {
        cut.slot = left.slot;
        cut.moldSide = left.moldSide;
        return cut;
    }
    const DetectionMark mark = cycleStartMark(p, -1, moldSide, slotCount, cameraCount);
    cut.slot = mark.slot;
    cut.moldSide = mark.moldSide;
    if (beyond)
        cut.why = QStringLiteral("%1 names slot %2 of a box with %3 slots: taken as a detection cut short")
                      .arg(detectionMarkPath())
                      .arg(left.slot)
                      .arg(std::clamp(slotCount, 0, 8));
    return cut;
}
