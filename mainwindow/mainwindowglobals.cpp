#include "mainwindowglobals.h"

int gStatisticsEnabled = 0;
int gLensOptEnabled = 1;
int gImagePixelCount = 0;
int gImageBufferBytes = 0;
float gViewScaleX = 1.0f;
float gViewScaleY = 1.0f;
int gSimulatedCameras = 0;
bool gHeartbeatOn = false;
