#pragma once
// The region table of one camera: for each of its 8 detection slots up to 50 regions, each with a
// shape, a detection function and three parameters. The camera view keeps a live table (loaded from
// the camera's table "cammer%1" in PARAM.db, read by the detector and the thermal back-end) and an
// edit copy for the region editor. Both are copied and compared whole as raw bytes, so the class is
// trivially copyable and owns nothing; at about 52 MB it lives on the heap only (new/delete).
// GUI thread only; the thermal back-end reads the temperature-alarm rectangles of the live table, and
// the slot judgement's worker for a camera reads its live table while the GUI thread waits.

#include "roishapes.h"

#include <QMetaType>
#include <cstddef>
#include <type_traits>

struct CameraViewData;

constexpr int kDetectSlots = 8;
constexpr int kRoisPerSlot = 50;
constexpr int kRoiEntries = kDetectSlots * kRoisPerSlot;

// The detection function of a region; any other code acts as FuncDefect.
enum RoiFunction
{
    FuncDefect = 0,
    FuncSpot = 1,
    FuncIgnoreArea = 2,
    FuncPosition = 3,
    FuncBlackArea = 4,
    FuncWhiteArea = 5,
    FuncSimilarity = 6,
    FuncWhiteNum = 7,
    FuncTemperatureAlarm = 9,
    FuncAngleCorrection = 10,
};

class CammerSingleton
{
public:
    // Default geometry records and the camera index; counts and parameters come from loadRoiTable
    // (live table) or from a whole copy of the live table (edit copy).
    explicit CammerSingleton(int cameraIndex);
    ~CammerSingleton() = default;
    // No copies by value (they would land on the stack); copy whole tables with assignment or memcpy.
    CammerSingleton(const CammerSingleton &) = delete;
    CammerSingleton &operator=(const CammerSingleton &) = default;

    // Zero-filled storage, so that padding bytes compare equal between tables.
    static void *operator new(std::size_t size);
    static void operator delete(void *p);

    // Fills the table from "cammer<cameraIndex>" through the main window's parameter query, giving
    // every loaded region the owner's display scale and storing its mask in owner->roiMasks.
    // A missing slot row is inserted with count 0; a count outside 0..50 is shown in the warning box
    // and loads as 0; coordinates are clamped into the screen margin; missing numbers read as 0.
    // False when the table could not be read (no database, no such table, a failing select, as
    // opposed to a missing row): the table then holds no regions and is logged; its camera must not
    // be judged with it.
    bool loadRoiTable(CameraViewData *owner);
    // Writes the table back: updates the slot rows, updates or inserts each region row, and deletes
    // the rows of regions beyond each slot's count, in one transaction on the parameter query (or in
    // the caller's SqlTransaction open on it). The first statement that fails ends the save and rolls
    // the action back. False (and logged) when the table was not saved, for instance without a
    // parameter database.
    bool saveRoiTable();

    // Makes slot `to` a copy of slot `from`: count, slot settings and every region (the machines with
    // two moulds or a turntable run the same regions on both). Masks belong to the owner: copy them too.
    void copySlot(int from, int to);

    // The whole table `from` into this one, byte for byte as an assignment would, but 4 KB pages that
    // are zero in both tables are left unwritten: an edit copy then costs only the pages in use.
    void copyWhole(const CammerSingleton &from);

    // Index of region j of slot k into the per-region arrays.
    static constexpr int entry(int k, int j) { return k * kRoisPerSlot + j; }

    int cameraIndex;
    int roiCount[kDetectSlots];
    int param1[kRoiEntries];
    int param2[kRoiEntries];
    int param3[kRoiEntries];
    int function[kRoiEntries];
    RoiRect rects[kRoiEntries];
    RoiCircle circles[kRoiEntries];
    RoiPolygon polygons[kRoiEntries];
    int shape[kRoiEntries];
    int outN[kRoisPerSlot]; // NG output per region index, shared by all slots
    int detectPara[kDetectSlots][8];
};

// The stored layout: field order and sizes as the table has always had them (room for 8096 vertices in
// each of the 400 polygons), so whole-table copies and byte comparisons see the same block.
static_assert(sizeof(RoiRect) == 52 && sizeof(RoiCircle) == 76 && sizeof(RoiPolygon) == 129592,
              "region record sizes");
static_assert(offsetof(RoiPolygon, points) == 4 && offsetof(RoiPolygon, imagePoints) == 64772 &&
                  offsetof(RoiPolygon, screenRect) == 129540,
              "polygon record layout");
static_assert(sizeof(CammerSingleton) == 51896492, "region table size");
static_assert(offsetof(CammerSingleton, roiCount) == 4 && offsetof(CammerSingleton, param1) == 36 &&
                  offsetof(CammerSingleton, param2) == 1636 && offsetof(CammerSingleton, param3) == 3236 &&
                  offsetof(CammerSingleton, function) == 4836 && offsetof(CammerSingleton, rects) == 6436 &&
                  offsetof(CammerSingleton, circles) == 27236 && offsetof(CammerSingleton, polygons) == 57636 &&
                  offsetof(CammerSingleton, shape) == 51894436 && offsetof(CammerSingleton, outN) == 51896036 &&
                  offsetof(CammerSingleton, detectPara) == 51896236,
              "region table field offsets");
static_assert(std::is_trivially_copyable<CammerSingleton>::value,
              "region tables are copied and compared as raw bytes");
static_assert(std::is_trivially_destructible<CammerSingleton>::value, "region tables own nothing");

Q_DECLARE_METATYPE(CammerSingleton *)
