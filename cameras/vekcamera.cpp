#include "vekcamera.h"

#include "cameraslog.h"
#include "imagethread.h"
#include "mutexlocker.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<quint16> gControlPort{10401};
std::atomic<quint16> gPicturePort{10402};

// The control link of an entry, reconnected first when the camera dropped it (a camera that
// restarted comes back without the box reopening it).
VekLink &control(HandleManager::Entry &e)
{
    if (!e.control->hasLiveSession())
        e.control->start(e.address, gControlPort);
    return *e.control;
}

} // namespace

HandleManager::Entry::~Entry() = default;

HandleManager &HandleManager::instance()
{
    static HandleManager manager;
    return manager;
}

int HandleManager::add(std::unique_ptr<Entry> entry)
{
    MutexLocker lock(&mutex);
    const int handle = nextHandle++;
    entries[handle] = std::move(entry);
    return handle;
}

HandleManager::Entry *HandleManager::find(int handle)
{
    MutexLocker lock(&mutex);
    const auto it = entries.find(handle);
    return it == entries.end() ? nullptr : it->second.get();
}

std::unique_ptr<HandleManager::Entry> HandleManager::remove(int handle)
{
    MutexLocker lock(&mutex);
    const auto it = entries.find(handle);
    if (it == entries.end())
        return nullptr;
    std::unique_ptr<Entry> entry = std::move(it->second);
    entries.erase(it);
    return entry;
}

void setVekCameraPorts(quint16 control, quint16 picture)
{
    gControlPort = control;
    gPicturePort = picture;
}

quint16 vekControlPort()
{
    return gControlPort;
}

quint16 vekPicturePort()
{
    return gPicturePort;
}

int VekCamera_Open(const QString &address, int *handle)
{
    if (!handle)
        return VEK_REQUEST_FAILED;
    auto entry = std::make_unique<HandleManager::Entry>();
    entry->address = address;
    entry->control = makeVekLink();
    if (!entry->control || !entry->control->start(address, gControlPort)) {
        qCWarning(lcCameras) << "smart camera" << address << "does not answer on port" << gControlPort;
        return VEK_REQUEST_FAILED;
    }
    *handle = HandleManager::instance().add(std::move(entry));
    return VEK_OK;
}

int VekCamera_Close(int handle)
{
    std::unique_ptr<HandleManager::Entry> entry = HandleManager::instance().remove(handle);
    return entry ? VEK_OK : VEK_UNKNOWN_HANDLE; // the entry's thread is joined as it goes
}

int VekCamera_GetParams(int handle, QJsonObject *params)
{
    HandleManager::Entry *e = HandleManager::instance().find(handle);
    if (!e)
        return VEK_UNKNOWN_HANDLE;
    QJsonObject result;
    if (control(*e).getParams(result) != 0)
        return VEK_REQUEST_FAILED;
    if (params)
        *params = result;
    return VEK_OK;
}

int VekCamera_SetParams(int handle, const QVariantMap &params, QVariantMap *result)
{
    HandleManager::Entry *e = HandleManager::instance().find(handle);
    if (!e)
        return VEK_UNKNOWN_HANDLE;
    const QVariantMap answer = control(*e).setParams(params);
    if (result)
        *result = answer;
    return answer.isEmpty() ? VEK_REQUEST_FAILED : VEK_OK;
}

int VekCamera_Command(int handle, const QVariantMap &command)
{
    HandleManager::Entry *e = HandleManager::instance().find(handle);
    if (!e)
        return VEK_UNKNOWN_HANDLE;
    return control(*e).command(command) ? VEK_OK : VEK_REQUEST_FAILED;
}

int VekCamera_SetFrameRate(int handle, int perSecond)
{
    HandleManager::Entry *e = HandleManager::instance().find(handle);
    if (!e)
        return VEK_UNKNOWN_HANDLE;
    const int rate = std::clamp(perSecond, 1, 100);
    e->pullRate = rate;
    if (e->images)
        e->images->setPullRate(rate);
    return control(*e).setParams({{QStringLiteral("FrameRate"), rate}}).isEmpty() ? VEK_REQUEST_FAILED
                                                                                  : VEK_OK;
}

int VekCamera_GetPicture(int handle, VekPicture *picture, int timeoutMs)
{
    HandleManager::Entry *e = HandleManager::instance().find(handle);
    if (!e)
        return VEK_UNKNOWN_HANDLE;
    VekPicture got;
    if (control(*e).getPicture(got, timeoutMs) != 0)
        return VEK_REQUEST_FAILED;
    if (picture)
        *picture = got;
    return VEK_OK;
}

int VekCamera_StartGrab(int handle, VekFrameCallback callback)
{
    HandleManager::Entry *e = HandleManager::instance().find(handle);
    if (!e)
        return VEK_UNKNOWN_HANDLE;
    if (!e->images) {
        e->images = std::make_unique<ImageThread>(e->address, gPicturePort, std::move(callback));
        e->images->setPullRate(e->pullRate);
        e->images->start();
    }
    return VEK_OK;
}

int VekCamera_StopGrab(int handle)
{
    HandleManager::Entry *e = HandleManager::instance().find(handle);
    if (!e)
        return VEK_UNKNOWN_HANDLE;
    e->images.reset();
    return VEK_OK;
}

int VekCamera_IsOnline(int handle, bool *online)
{
    HandleManager::Entry *e = HandleManager::instance().find(handle);
    if (!e)
        return VEK_UNKNOWN_HANDLE;
    if (online)
        *online = e->control->hasLiveSession() || (e->images && e->images->isOnline());
    return VEK_OK;
}
