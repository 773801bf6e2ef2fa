#pragma once
// The process-wide state of the serial I/O board link and its two free functions.
//
// The port number gIoPortNumber is one of the parameter copies in core/sysparam.h, set by the main
// window before ControlPort is built. gIoMutex (core/startup.h) guards gIoInputWord and
// gIoOutputWord, and gIoEntryWatch (core/inputentrywatch.h), and is held only for the copy of a word
// or one call of that watch. Everything else here names the one thread that touches it.

#include "sysparam.h"

#include <QString>
#include <QtGlobal>

#include <atomic>

class Posix_QextSerialPort;

// The open board port; created by openIoSerialPort (ControlPort constructor, GUI thread), then used
// only by the I/O thread. Lives for the whole run.
extern Posix_QextSerialPort *gIoSerialPort;

// Inputs last reported by the board (bits 0-9). Written by IOThread and by the main window's
// simulated-input buttons, read by ControlPort::checkInput; under gIoMutex.
extern quint32 gIoInputWord;
// appMonotonicMs() (core/clock.h, the clock of the cameras' frame stamps) of the status frame that last
// changed each input bit, taken when the frame was read; 0 while a bit never changed. Written with
// gIoInputWord by the same writers, under gIoMutex.
extern qint64 gIoInputChangedMs[16];
// Output bits the board must hold. Written by ControlPort::flushOutputs, read by IOThread; under
// gIoMutex.
extern quint32 gIoOutputWord;
// Output word of the last change signal; GUI thread only.
extern quint32 gIoLastFlushed;
// 1 once ControlPort exists; while 0 the I/O thread only sleeps. Any thread.
extern std::atomic<int> gIoThreadEnabled;
// True while the board has sent no report for 1 s (its lamps on the status strip are then greyed).
// Written by the I/O thread, read by the GUI thread.
extern std::atomic<bool> gIoBoardSilent;
// Payloads of the board's type-3 and type-4 frames; I/O thread only (nothing else reads them while it
// runs).
extern quint32 gIoReplyWords[16];
// Set by ControlPort::checkInput when the safety door opens; read and cleared by the region editor
// and the machine cycle. GUI thread only.
extern bool gSafetyDoorOpened;

// Port name pattern with %1 for gIoPortNumber: "/dev/ttyS%1" in the box build, "./dev/ttyS%1" (in
// the working directory, where a board simulator can put its pseudo-terminal) in the desktop build.
QString ioPortPattern();
// Tests point the link at their own pseudo-terminal; an empty pattern restores the build's default.
// Before openIoSerialPort, GUI thread.
void setIoPortPattern(const QString &pattern);
// ioPortPattern() with gIoPortNumber filled in.
QString ioPortName();

// Creates gIoSerialPort on ioPortName() and opens it raw, 115200 8N1, no flow control, 1 ms read
// timeout. A port that cannot be opened is not reported: reads find nothing, writes go nowhere.
// GUI thread, before the I/O thread starts. A port left by an earlier call is closed and replaced.
void openIoSerialPort();

// Writes one 6-byte command frame to gIoSerialPort; false when the port is closed or the write
// failed. I/O thread.
bool sendIoCommand(quint8 command, quint16 value);
