#include "cameradeviceinfo.h"

QList<CameraDeviceInfo> gCameraInfoList;
