#include "sysparam.h"

#include "uitexttable.h"

#include <cstring>

SysParam *gSysParam = nullptr;
SysParam *gSysParamEdit = nullptr;
int gDetectSlotCount = 2;

int gColorCamera = 0;
int gGrayChannel = 0;
int gTemplateLimit = 10;
std::atomic<int> gNgImageLimit{0};
std::atomic<int> gOkImageLimit{0};
int gIoPortNumber = 0;

namespace {
std::function<void(int)> gMoldSideHook;

// The stored rules compare unsigned, so a negative number counts as huge and takes the fallback.
void above(int32_t &word, uint32_t limit, int32_t fallback)
{
    if (static_cast<uint32_t>(word) > limit)
        word = fallback;
}

void outside(int32_t &word, uint32_t low, uint32_t high, int32_t fallback)
{
    const uint32_t u = static_cast<uint32_t>(word);
    if (u < low || u > high)
        word = fallback;
}

void writeMoldSide(int side)
{
    if (gMoldSideHook)
        gMoldSideHook(side);
}
} // namespace

SysParam::SysParam()
{
    std::memset(static_cast<void *>(this), 0, sizeof(SysParam));
    slotEnabled[1] = 1;
    slotTrigInput[0] = 0;
    detectCount = 2;
    reserved259[1] = -1; // words 260 and 261
    reserved259[2] = -1;
}

void setMoldSideHook(std::function<void(int)> hook)
{
    gMoldSideHook = std::move(hook);
}

void copyStartupParams(const SysParam &p)
{
    gColorCamera = p.colorCamera;
    gGrayChannel = p.grayChannel;
    gTemplateLimit = p.templateNum;
    gNgImageLimit = p.ngRecordMax;
    gOkImageLimit = p.okRecordMax;
    gIoPortNumber = p.ioPort;
}

void applySysParamLoadRules(SysParam *p)
{
    for (int c = 0; c < 8; ++c) {
        above(p->exposeTime[c], 10000, 30);
        above(p->adjustPlus[c], 10000, 32);
        above(p->sharp[c], 10000, 0);
        above(p->contrast[c], 10000, 50);
        above(p->gamma[c], 10000, 70);
        above(p->temperatureRange[c], 2, 1);
    }
    outside(p->detectCount, 2, 8, 2);
    above(p->machineType, 2, 0);
    p->machineTypeEdit = p->machineType;
    above(p->preCutTime, 10000, 0);
    above(p->reMoldTimes, 10000, 0);
    outside(p->filterSize, 1, 100, 3);
    outside(p->alarmArea, 1, 100000, 100);
    outside(p->templateNum, 1, 100, 10);
    above(p->ngRecordMax, 10000, 0);
    above(p->okRecordMax, 10000, 0);
    above(p->ejectorPulse, 10000, 0);
    above(p->clampPulse, 10000, 0);
    if (p->motionCorrect != -1 && p->motionCorrect != 0)
        p->motionCorrect = -1;
    above(p->rotateAngle, 180, 0);
    above(p->autoLogoutTime, 10000, 0);
    above(p->diffAmplify, 4, 0);
    outside(p->maxOffset, 1, 8000, 8000);
    if (p->screenOffTime != 0)
        outside(p->screenOffTime, 30, 9999, 600);
    above(p->frameSpeed, 100, 12);
    above(p->inputTimeout, 100000000, 60);
    int32_t language = gLanguage;
    above(language, 3, 0);
    gLanguage = language;
    above(p->ioPort, 100, 0);
    outside(p->minSpot, 1, 100, 3);
    above(p->spare, 100000000, 0);

    // A box with every algorithm switched off could not inspect anything.
    if (!p->enableDefectDetect && !p->enableSpotDetect && !p->enableBlackArea && !p->enableWhiteArea &&
        !p->enableSimilarity && !p->enableWhiteNumber)
        p->enableDefectDetect = 1;

    if (p->machineType != 0 && static_cast<uint32_t>(p->detectMold) >= 4)
        p->detectMold = 0;
    deriveSlotSetup(p);
    gDetectSlotCount = p->machineType == 0 ? 2 : 4;
}

void deriveSlotSetup(SysParam *p)
{
    const int32_t prod = p->enableProdDetect ? 1 : 0;
    p->slotCount = 4;
    if (p->machineType == 0) {
        p->slotEnabled[1] = 1;
        p->slotTrigInput[0] = 0;
        p->slotEnabled[0] = p->enableProdDetect; // as stored, not reduced to 0/1
        p->slotTrigInput[1] = p->semiAuto ? 2 : 0;
        const int32_t idle = p->ejectorPulseOnProdNg ? 0 : 1;
        for (int o = 4; o < 8; ++o)
            p->outputInit[o] = idle;
        return;
    }

    const bool turntable = p->machineType == 2;
    int32_t *enabled = p->slotEnabled;
    switch (p->detectMold) {
    case 0: // left mould only
        enabled[0] = prod, enabled[1] = 1, enabled[2] = 0, enabled[3] = 0;
        writeMoldSide(1);
        p->slotTrigInput[0] = 0;
        p->slotTrigInput[1] = turntable ? (p->semiAuto ? 2 : 0) : 2;
        break;
    case 1: // right mould only
        enabled[0] = 0, enabled[1] = 0, enabled[2] = prod, enabled[3] = 1;
        writeMoldSide(0);
        p->slotTrigInput[0] = turntable ? 3 : 0;
        p->slotTrigInput[1] = turntable ? (p->semiAuto ? 2 : 3) : 3;
        break;
    default: // 2 or 3: every mould; moldSide stays as the machine cycle left it
        enabled[0] = prod, enabled[1] = 1, enabled[2] = prod, enabled[3] = 1;
        p->slotTrigInput[0] = turntable ? 255 : 0;
        p->slotTrigInput[1] = turntable ? (p->semiAuto ? 2 : 255) : 255;
        break;
    }
}
