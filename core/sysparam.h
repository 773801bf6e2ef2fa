#pragma once
// SysParam: every machine, camera, detection, I/O and interface setting of the box in one plain record
// of 310 signed 32-bit words, so that two blocks compare byte for byte and copy whole. The word order
// is fixed (settings pages, parameter groups and the stored rows rely on it); never insert a field.
//
// The record is read and written on the GUI thread only; no lock guards it.

#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>

struct SysParam
{
    SysParam();

    int32_t exposeTime[8];         // 0-7    per camera, ms
    int32_t adjustPlus[8];         // 8-15   per camera, gain
    int32_t sharp[8];              // 16-23  per camera
    int32_t contrast[8];           // 24-31  per camera
    int32_t gamma[8];              // 32-39  per camera
    int32_t distance[8];           // 40-47  per thermal camera, measuring distance
    int32_t temperatureRange[8];   // 48-55  per thermal camera, 0-2
    int32_t trigInDelay[8];        // 56-63  per slot, 0.1 s from trigger to detection
    int32_t reserved64;            // 64
    int32_t slotTrigInput[8];      // 65-72  per slot, board input that starts it; 255 = left or right input
    int32_t reserved73[10];        // 73-82
    int32_t inputInvert[8];        // 83-90  per input, active low
    int32_t reserved91;            // 91
    int32_t outputInit[8];         // 92-99  per output, idle level (set: bit driven inverted)
    int32_t reserved100;           // 100    idle level of output 8
    int32_t semiAuto;              // 101
    int32_t slotEnabled[8];        // 102-109 per slot
    int32_t syncParams;            // 110
    int32_t stopClampOnStop;       // 111
    int32_t motionCorrect;         // 112    -1 or 0
    int32_t cutEjectorOnClamp;     // 113
    int32_t isPswUsed;             // 114
    int32_t templateAutoUpdate;    // 115
    int32_t enableProdDetect;      // 116
    int32_t cameraSnCount;         // 117    counted by the loader
    int32_t templateNum;           // 118    1-100
    int32_t ngRecordMax;           // 119
    int32_t okRecordMax;           // 120
    int32_t screenOffTime;         // 121    s, 0 never
    int32_t frameSpeed;            // 122
    int32_t diffAmplify;           // 123    0-4
    int32_t autoLogoutTime;        // 124    s
    int32_t reserved125;           // 125
    int32_t reMoldTimes;           // 126
    int32_t ejectorPulse;          // 127    0.1 s
    int32_t clampPulse;            // 128    0.1 s
    int32_t inputTimeout;          // 129    s
    int32_t debounceTime;          // 130    0.1 s
    int32_t filterSize;            // 131    1-100
    int32_t alarmArea;             // 132    1-100000
    int32_t noEjectorCtrlInProd;   // 133
    int32_t ejectorPulseOnProdNg;  // 134
    int32_t input4Use;             // 135    role of board input 3
    int32_t cutClampAfterMoldOk;   // 136
    int32_t cutEjectorAfterProdOk; // 137
    int32_t okNgPulse;             // 138
    int32_t cutEjectorOnProdAlarm; // 139
    int32_t cutClampOnMoldAlarm;   // 140
    int32_t pswNoDetect;           // 141
    int32_t pswAddTemplate;        // 142
    int32_t pswStopDetect;         // 143
    int32_t safetyDoorClearsAlarm; // 144
    int32_t enableDefectDetect;    // 145
    int32_t enableSpotDetect;      // 146
    int32_t enableIgnoreArea;      // 147
    int32_t enableManualLocate;    // 148
    int32_t showAllParams;         // 149
    int32_t safetyDoorTrigger;     // 150
    int32_t reserved151;           // 151
    int32_t enableStatistics;      // 152
    int32_t output4Use;            // 153    role of board output 3
    int32_t maxOffset;             // 154    1-8000
    int32_t ngTemplate;            // 155
    int32_t showRoiLive;           // 156
    int32_t useLog;                // 157
    int32_t reserved158;           // 158
    int32_t matchBrightness;       // 159
    int32_t angleCorrect;          // 160
    int32_t ioPort;                // 161    n of /dev/ttyS<n>
    int32_t colorCamera;           // 162
    int32_t grayChannel;           // 163
    int32_t noLensOpt;             // 164
    int32_t minSpot;               // 165    1-100
    int32_t showManualSnap;        // 166
    int32_t tempWaveform;          // 167
    int32_t showFactoryParam;      // 168
    int32_t machineType;           // 169    in force: 0 standard, 1 two-colour, 2 turntable
    int32_t machineTypeEdit;       // 170    chosen in the settings, in force after a restart
    int32_t detectMold;            // 171    0 left, 1 right, 2 or 3 all
    int32_t preCutTime;            // 172    0.1 s
    int32_t autoExp;               // 173
    int32_t autoWDR;               // 174
    int32_t enableBlackArea;       // 175
    int32_t enableWhiteArea;       // 176
    int32_t enableWhiteNumber;     // 177
    int32_t tempAlarm;             // 178
    int32_t enableSimilarity;      // 179
    int32_t rotateAngle;           // 180    0-180
    int32_t spare;                 // 181    one scratch word behind every unused stored position
    char password[100];            // 182-206 Latin-1, NUL-terminated
    int32_t reserved207;           // 207
    int32_t detectCount;           // 208    detection rows of the I/O page, 2-8
    int32_t detTrigSource[8];      // 209-216 per I/O-page row
    int32_t detCheckMask[8];       // 217-224 per row, bit mask of cameras
    int32_t detCutMode[8];         // 225-232 per row
    int32_t reserved233[9];        // 233-241
    int32_t inputNameIdx[8];       // 242-249
    int32_t outputNameIdx[8];      // 250-257
    int32_t slotCount;             // 258    always 4 after loading; gDetectSlotCount is the count in use
    int32_t reserved259[15];       // 259-273
    int32_t useExtTrigger;         // 274
    int32_t tempLow[8];            // 275-282 per camera
    int32_t reserved283[8];        // 283-290
    int32_t tempHigh[8];           // 291-298 per camera
    int32_t reserved299[8];        // 299-306
    int32_t paraGroupIndex;        // 307    from "sysadd.txt"
    int32_t reserved308;           // 308
    int32_t reserved309;           // 309
};

static_assert(std::is_standard_layout<SysParam>::value, "SysParam must stay a plain record");
static_assert(std::is_trivially_copyable<SysParam>::value, "SysParam is copied whole");
static_assert(sizeof(SysParam) == 1240, "SysParam is 310 words");
static_assert(offsetof(SysParam, password) == 728, "password occupies words 182-206");
static_assert(offsetof(SysParam, reserved207) == 828, "password is 100 bytes");
static_assert(offsetof(SysParam, detectCount) == 832, "detectCount is word 208");
static_assert(offsetof(SysParam, slotCount) == 258 * 4, "slotCount is word 258");
static_assert(offsetof(SysParam, paraGroupIndex) == 1228, "paraGroupIndex is word 307");

// The parameters in force and the settings pages' working copy; allocated by the main window's
// constructor, valid for the rest of the run. GUI thread only.
extern SysParam *gSysParam;
extern SysParam *gSysParamEdit;

// Detection slots in use: 2 on a standard machine, else 4. Set when the parameters load.
extern int gDetectSlotCount;

// Copies taken once at start by the main window (copyStartupParams); a later change of the setting
// takes effect after a restart. Written on the GUI thread before any reader thread starts.
extern int gColorCamera;   // SysParam::colorCamera
extern int gGrayChannel;   // SysParam::grayChannel
extern int gTemplateLimit; // SysParam::templateNum, the number of templates per slot
// The result-image saver thread reads these two while the settings may change them: atomic.
extern std::atomic<int> gNgImageLimit; // SysParam::ngRecordMax, NG images kept per folder (0 none)
extern std::atomic<int> gOkImageLimit; // SysParam::okRecordMax, OK images kept per folder (0 none)
extern int gIoPortNumber;  // SysParam::ioPort, n of "/dev/ttyS%1"; set before the I/O board is opened

// Takes the start-up copies above from the loaded block. GUI thread, main window constructor.
void copyStartupParams(const SysParam &p);

// The loader writes the main window's DeVeWizard::moldSide through this hook, which the main window
// installs in its constructor (empty function: nothing to write). GUI thread.
void setMoldSideHook(std::function<void(int moldSide)> hook);

// The loader's rules, in their order, on a block whose rows have been read: fallbacks for values out of
// range, the algorithm offer, and the slot set-up (slotTrigInput, slotEnabled, slotCount, outputInit of
// outputs 4-7, machineTypeEdit, gDetectSlotCount, gLanguage and the main window's moldSide). GUI thread.
void applySysParamLoadRules(SysParam *p);

// The detection-slot set-up of the block's machine type (slotCount, slotEnabled, slotTrigInput,
// outputInit of outputs 4-7 and the main window's moldSide), shared by the loader and by Confirm in
// the settings so that both give the same words. Leaves gDetectSlotCount alone. GUI thread.
void deriveSlotSetup(SysParam *p);
