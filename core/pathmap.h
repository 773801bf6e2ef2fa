#pragma once
// Where the machine's own folders are. The program reads and writes a few places outside its working
// directory (the USB disk, the program folder and its parent, the network configuration, the kernel's
// network counters); every such path goes through here, so a test can move all of them into a
// temporary folder and never touch the real ones.
//
// Mapped prefixes (a path equal to one or below it): "/mnt", "/root", "/root/bin-DOD",
// "/etc/netplan", "/etc/network", "/proc/net/dev", "/sys/class/net". Other paths come back as given.

#include <QString>

// The place `path` stands for on this machine (any thread). With no root set, "/root/bin-DOD" is the
// program (current working) directory, "/root" its parent folder and the others stay as they are.
// With a root set, each mapped path lives under it: "/mnt/a" becomes "<root>/mnt/a".
QString mapSystemPath(const QString &path);

// Moves every mapped folder under `root`; an empty root restores the machine's folders. Tests only,
// or once at start-up before other threads use mapSystemPath.
void setSystemPathRoot(const QString &root);
