#pragma once
// Values the main window's constructor takes once at start from the parameters and the first camera;
// a later change of a setting takes effect at the next start. Written on the GUI thread before any
// thread that reads them starts; read anywhere afterwards.

extern int gStatisticsEnabled; // SysParam::enableStatistics
extern int gLensOptEnabled;    // 1 - SysParam::noLensOpt
extern int gImagePixelCount;   // pixels of the first camera's image
extern int gImageBufferBytes;  // gImagePixelCount, times 4 for colour cameras
extern float gViewScaleX;      // gShowW / image width
extern float gViewScaleY;      // gShowH / image height

// 1 when the box runs on simulated cameras because no real camera opened.
extern int gSimulatedCameras;

// Phase of the heartbeat lamp, toggled every second while the cycle runs. GUI thread.
extern bool gHeartbeatOn;
