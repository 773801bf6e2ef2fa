#pragma once
// The smart-camera handle API: plain functions over integer handles, one handle per opened network
// smart camera, each with a control link (port 10401) and, while grabbing, an ImageThread with its
// own picture link (port 10402). HandleManager keeps the handles.
//
// Return codes: VEK_OK (0), VEK_UNKNOWN_HANDLE (-6) for a handle that is not open, VEK_REQUEST_FAILED
// (-12) when a request to the camera fails (no connection, no answer in time).
//
// Threads: call on the GUI thread. The frame callback runs on the handle's ImageThread.

#include "veklink.h"

#include <QMutex>
#include <QString>
#include <map>
#include <memory>

constexpr int VEK_OK = 0;
constexpr int VEK_UNKNOWN_HANDLE = -6;
constexpr int VEK_REQUEST_FAILED = -12;

class ImageThread;
using VekFrameCallback = std::function<void(const VekPicture &picture)>;

// Connects the control link to address; *handle is the new handle.
int VekCamera_Open(const QString &address, int *handle);
// Stops the grabbing and drops the links; the handle is unknown afterwards.
int VekCamera_Close(int handle);
int VekCamera_GetParams(int handle, QJsonObject *params);
// *result (optional) receives the camera's answer; an empty answer counts as a failed request.
int VekCamera_SetParams(int handle, const QVariantMap &params, QVariantMap *result = nullptr);
int VekCamera_Command(int handle, const QVariantMap &command);
// Sends the camera its frame rate ("FrameRate", 1-100 per second) and paces the handle's picture
// requests to it, now and for later grabs, whatever the camera answers: a camera that streams faster
// than the box asks is never asked for more. Before the first call the pace is kDefaultPullRate.
int VekCamera_SetFrameRate(int handle, int perSecond);
constexpr int kDefaultPullRate = 10;
// One picture over the control link.
int VekCamera_GetPicture(int handle, VekPicture *picture, int timeoutMs);
// Starts the handle's ImageThread, which pulls pictures and hands each to callback.
int VekCamera_StartGrab(int handle, VekFrameCallback callback);
int VekCamera_StopGrab(int handle);
// *online: the control link is connected, or the image puller got its last picture.
int VekCamera_IsOnline(int handle, bool *online);

// The ports of the control and picture links (10401, 10402); tests move them off the real ones.
void setVekCameraPorts(quint16 control, quint16 picture);
quint16 vekControlPort();
quint16 vekPicturePort();

// The open handles. Handles count up from 1 and are never given twice in a run, so a handle kept
// after its camera closed is answered with VEK_UNKNOWN_HANDLE, never with another camera.
class HandleManager
{
public:
    struct Entry
    {
        QString address;
        int pullRate = kDefaultPullRate; // picture requests per second at most
        std::unique_ptr<VekLink> control;
        std::unique_ptr<ImageThread> images;
        ~Entry();
    };

    static HandleManager &instance();
    int add(std::unique_ptr<Entry> entry);
    // The entry of handle, or null. The pointer stays valid until remove(handle); GUI thread.
    Entry *find(int handle);
    std::unique_ptr<Entry> remove(int handle);

private:
    QMutex mutex; // guards entries and nextHandle
    std::map<int, std::unique_ptr<Entry>> entries;
    int nextHandle = 1;
};
