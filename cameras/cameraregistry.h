#pragma once
// The camera registry: asks the enabled back-ends for their cameras, binds the cameras to the eight
// camera positions by the saved serial numbers, and writes those serials back to "SN.db".
// GUI thread only.

#include "cameradeviceinfo.h"

#include <QStringList>
#include <functional>

class CameraInterface;

// Which back-ends discoverCameras() asks, one bit each (the main window sets 188 = 0xBC):
//   0x04  industrial cameras (MindCamera, "mindCamera_IID")
//   0x08  thermal cameras (HKHotCamera, "HKHotCamera_IID")
//   0x10  network smart cameras (MyVekCamera, "vekCamera_IID")
//   0x20  GigE camera re-addressing before the industrial cameras are enumerated (not built: see
//         gigereaddress.h)
//   0x80  a back-end kind this box does not carry; accepted and ignored
// Bits 0x01, 0x02 and 0x40 enable nothing: simulated cameras are never discovered, they only stand
// in when no real camera opens (useSimulatedCameras).
extern int gCameraBackendMask;
constexpr int kCameraBackendMind = 0x04;
constexpr int kCameraBackendHKHot = 0x08;
constexpr int kCameraBackendVek = 0x10;
constexpr int kCameraBackendGigeReaddress = 0x20;

// Position (0-based) chosen for each camera view by the camera-position window; 0..7 at start.
extern int gCameraPositions[8];

// Clears and refills gCameraInfoList with the cameras of the back-ends enabled in gCameraBackendMask,
// ordered by the saved serials gCameraSerials; makes each enabled back-end's prototype once (kept in
// gCameraBackends) and refills gCameraBackendCounts.
void discoverCameras();

// The binding order: the camera whose id is saved for position n comes n-th (positions whose camera
// is missing close up), then every other camera in the order found.
QList<CameraDeviceInfo> orderBySavedSerials(const QList<CameraDeviceInfo> &found);

// The fallback when no real camera opened: makes the simulated back-end, replaces gCameraInfoList with
// its cameras, enters it into gCameraBackends and gCameraBackendCounts (the main window then sets
// gSimulatedCameras).
void useSimulatedCameras();

// The prototype registered for an interface id, or null.
CameraInterface *cameraPrototype(const QString &iid);

// Sets the eight saved serials to "0"; with clear 0 then gives position gCameraPositions[i] the id of
// camera view i for every view below gCameraCount (at most 99 Latin-1 bytes, what the loader takes
// back). Writes the eight rows "serialNB%1" of "SN.db" through the main window's serial query with
// bound values, in one transaction (the first row that fails rolls all back; gCameraSerialRows follows
// once they are committed), and one operation-record line "Save SN %1: %2" per position.
// While stand-in cameras run (a view's id is a "simcam/<n>"), clear 0 changes nothing: the serials
// saved for the real cameras stay for the start that finds them again.
void saveCameraSerials(int clear);

// Bit n: row "serialNB<n>" of "SN.db" (gCameraSerialRows) names a camera, whatever the length of its
// text (not "0", not empty, not a stand-in's "simcam/<n>"), that no camera view carries.
quint32 savedCamerasNotOpen();

// The ids of the camera views in view order; installed by the main window (empty hook: no views).
void setCameraViewIdsHook(std::function<QStringList()> hook);

// Test seam: the factory for a back-end bit (an empty function restores the built-in one), and
// removal of every registered prototype.
void setCameraBackendFactory(int bit, std::function<CameraInterface *()> factory);
void clearCameraBackends();
