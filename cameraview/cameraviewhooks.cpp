#include "cameraviewhooks.h"

CameraViewHooks &cameraViewHooks()
{
    static CameraViewHooks hooks;
    return hooks;
}
