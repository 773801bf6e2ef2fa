#include "cameradeviceinfo.h"

QList<CameraDeviceInfo> gCameraInfoList;
QList<QPair<QString, int>> gCameraBackendCounts;
QMap<QString, QObject *> gCameraBackends;
