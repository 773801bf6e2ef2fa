#pragma once
// GigE camera re-addressing (forcing a free address onto GigE cameras of another subnet before the
// industrial cameras are enumerated, with ARP probes and the camera vendor's force-IP call).
//
// Not built: it needs raw packet sockets and the Hikrobot SDK (MV_CC_EnumDevices, MV_GIGE_ForceIpEx),
// neither of which this program has. The registry calls this seam when gCameraBackendMask has bit
// 0x20; it changes nothing and reports 0 cameras re-addressed. A box build replaces its body.

int readdressGigeCameras();
