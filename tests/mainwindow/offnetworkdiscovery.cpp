// Every test program of this folder (and the settings tests that build a main window) builds the main
// window, whose start-up asks the network smart cameras to show themselves: over the network that
// binds the discovery port and broadcasts to every camera on the machine's networks, and a smart camera
// on this machine (the fake one of the run script) would join the test's cameras. Here the discovery
// finds no smart camera and restarts no camera's daemon, before any test function runs.

#include "myvekcamera.h"

#include <QCoreApplication>

namespace {

void keepSmartCameraDiscoveryOffTheNetwork()
{
    MyVekCamera::setDiscovery([] { return QList<VekDevice>(); }, [](const QString &) {});
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(keepSmartCameraDiscoveryOffTheNetwork)
