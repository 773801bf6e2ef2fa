#pragma once
// Small services that reach the box's hardware and operating system: the LED device (backlight and
// status lamps), the USB disk on /mnt, the pause before a restart or exit, and a timing probe.

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

// Current lamp bits sent with the lamp request; starts with every bit set. GUI thread.
extern uint8_t gLedMask;

// Run flag: set by the main window at start, cleared before a restart or exit. Nothing waits on it.
extern std::atomic<bool> gRunning;

// Backlight on (non-zero) or off (0) through "/dev/led" when it is open, then DeVeWizard::screenOff
// = 0 or 1 through the screen-off hook. GUI thread.
void setBacklight(int on);

// Sets lamp bit `bit` (0-7) of gLedMask to the lowest bit of `on` and sends the mask to "/dev/led"
// when it is open; other bit numbers are ignored. GUI thread.
void setLed(int bit, int on);

// Mounts the first USB data partition found by blkid on /mnt; returns "/mnt", or an empty text when
// there is none or the mount is not visible afterwards. Blocks up to about a second per command.
// GUI thread.
QString mountUsbByBlkid();

// Unmounts /mnt, then mounts /dev/sdb1 (else /dev/sdc1) there; 1 when a mount exited with status 0.
// GUI thread.
int mountUsbDisk();

// True when the mounts file mentions "/mnt" anywhere. Any thread.
bool isMntMounted();

// The key text "D<slot>_T<region>" of one temperature region's series. Any thread.
QString makeSlotRegionKey(int slot, int region);

// Clears gRunning, then sleeps one second so that workers can see it. GUI thread.
void stopAndWait();

// stopAndWait, then the run-end hook with `status`, then ends the process with `status`. GUI thread.
[[noreturn]] void quitApp(int status);

// Logs the milliseconds since the first probe at debug level and keeps running statistics. GUI thread.
void timingProbe();

// Seams installed by the main window or by tests (GUI thread, before use):
// Writes DeVeWizard::screenOff; while none is installed (no main window) the flag is skipped.
void setScreenOffHook(std::function<void(int screenOff)> hook);
// The LED device request: fd and request number, no third argument. nullptr restores ::ioctl.
using LedIoctlFunction = int (*)(int fd, unsigned long request);
void setLedIoctl(LedIoctlFunction function);
// The file listing the mounted file systems; an empty text restores "/proc/mounts".
void setMountsFilePath(const QString &path);
// What main does when the run ends normally (threads joined, started helper processes ended, the last
// log line): quitApp ends the process without returning to main, so it runs this first. Called once at
// most; nullptr removes it.
void setRunEndHook(std::function<void(int status)> hook);
