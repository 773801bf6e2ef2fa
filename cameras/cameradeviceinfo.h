#pragma once
// One camera found by a back-end, as the camera registry lists it and a camera view is built from.
// Written by the camera registry on the GUI thread at start-up; read-only afterwards.

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

class QObject;

struct CameraDeviceInfo
{
    int index = 0; // the camera's index within its back-end
    QString iid;   // back-end interface id, e.g. "simulateCamera_IID"
    QString id;    // serial number or address
};

// Every camera found, in camera order; filled by the camera registry.
extern QList<CameraDeviceInfo> gCameraInfoList;
// Cameras found per back-end, as (interface id, count); filled by the camera registry.
extern QList<QPair<QString, int>> gCameraBackendCounts;
// The back-end prototypes by interface id; filled (and owned) by the camera registry.
extern QMap<QString, QObject *> gCameraBackends;
