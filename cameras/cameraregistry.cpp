#include "cameraregistry.h"

#include "camerainterface.h"
#include "cameraslog.h"
#include "gigereaddress.h"
#include "hkhotcamera.h"
#include "inspectionhooks.h"
#include "mindcamera.h"
#include "myvekcamera.h"
#include "paramquery.h"
#include "paramstore.h"
#include "simulatecamera.h"
#include "sqltransaction.h"
#include "startup.h"

#include <QMap>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <cstring>

int gCameraBackendMask = 188;
int gCameraPositions[8] = {0, 1, 2, 3, 4, 5, 6, 7};

namespace {

std::function<QStringList()> gViewIdsHook;
QMap<int, std::function<CameraInterface *()>> gFactoryOverrides;

// The discovered back-ends, in the order they are asked.
const int kDiscoveredBits[] = {kCameraBackendMind, kCameraBackendHKHot, kCameraBackendVek};

CameraInterface *makeBackend(int bit)
{
    if (gFactoryOverrides.contains(bit))
        return gFactoryOverrides.value(bit)();
    switch (bit) {
    case kCameraBackendMind:
        return new MindCamera;
    case kCameraBackendHKHot:
        return new HKHotCamera;
    case kCameraBackendVek:
        return new MyVekCamera;
    default:
        return nullptr;
    }
}

// The prototype for `bit`, made on first use and kept for the run.
CameraInterface *prototypeFor(int bit)
{
    static QMap<int, QString> iidOfBit;
    if (iidOfBit.contains(bit)) {
        if (CameraInterface *known = cameraPrototype(iidOfBit.value(bit)))
            return known;
    }
    CameraInterface *made = makeBackend(bit);
    if (!made)
        return nullptr;
    const QString iid = made->getIID();
    if (CameraInterface *known = cameraPrototype(iid)) {
        delete made;
        made = known;
    } else {
        gCameraBackends.insert(iid, made);
    }
    iidOfBit.insert(bit, iid);
    return made;
}

QByteArray serialText(const QString &id)
{
    QByteArray text = id.toLatin1();
    const int nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    return text.left(int(sizeof gCameraSerials[0]) - 1);
}

void setSerial(int position, const QByteArray &text)
{
    char *slot = gCameraSerials[position];
    const size_t n = std::min(size_t(text.size()), sizeof gCameraSerials[position] - 1);
    std::memset(slot, 0, sizeof gCameraSerials[position]);
    std::memcpy(slot, text.constData(), n);
}

} // namespace

int readdressGigeCameras()
{
    return 0;
}

CameraInterface *cameraPrototype(const QString &iid)
{
    return qobject_cast<CameraInterface *>(gCameraBackends.value(iid));
}

QList<CameraDeviceInfo> orderBySavedSerials(const QList<CameraDeviceInfo> &found)
{
    QList<CameraDeviceInfo> ordered;
    QVector<bool> placed(found.size(), false);
    for (int n = 0; n < 8; ++n) {
        const QString saved = QString::fromLatin1(gCameraSerials[n]);
        if (saved.isEmpty() || saved == QLatin1String("0"))
            continue;
        for (int i = 0; i < found.size(); ++i) {
            if (!placed[i] && found.at(i).id == saved) {
                ordered.append(found.at(i));
                placed[i] = true;
                break;
            }
        }
    }
    for (int i = 0; i < found.size(); ++i) {
        if (!placed[i])
            ordered.append(found.at(i));
    }
    return ordered;
}

void discoverCameras()
{
    gCameraInfoList.clear();
    gCameraBackendCounts.clear();
    if (gCameraBackendMask & kCameraBackendGigeReaddress)
        readdressGigeCameras();
    QList<CameraDeviceInfo> found;
    for (int bit : kDiscoveredBits) {
        if (!(gCameraBackendMask & bit))
            continue;
        CameraInterface *backend = prototypeFor(bit);
        if (!backend)
            continue;
        const QList<CameraDeviceInfo> cameras = backend->enumerate();
        gCameraBackendCounts.append({backend->getIID(), cameras.size()});
        found += cameras;
        qCInfo(lcCameras) << backend->getIID() << "found" << cameras.size() << "cameras";
    }
    gCameraInfoList = orderBySavedSerials(found);
}

void useSimulatedCameras()
{
    CameraInterface *simulated = cameraPrototype(QStringLiteral("simulateCamera_IID"));
    if (!simulated) {
        simulated = new SimulateCamera;
        gCameraBackends.insert(simulated->getIID(), simulated);
    }
    gCameraInfoList = simulated->enumerate();
    gCameraBackendCounts.append({simulated->getIID(), gCameraInfoList.size()});
}

namespace {
bool standInId(const QString &id)
{
    return id.startsWith(QLatin1String("simcam/"));
}
} // namespace

void saveCameraSerials(int clear)
{
    if (clear == 0 && gViewIdsHook) {
        const QStringList ids = gViewIdsHook();
        if (std::any_of(ids.cbegin(), ids.cend(), standInId)) {
            qCWarning(lcCameras) << "stand-in cameras run: the saved camera serials are kept";
            return;
        }
    }
    for (int n = 0; n < 8; ++n)
        setSerial(n, QByteArrayLiteral("0"));
    if (clear == 0) {
        const QStringList ids = gViewIdsHook ? gViewIdsHook() : QStringList();
        const int views = std::min({gCameraCount, int(ids.size()), 8});
        for (int i = 0; i < views; ++i) {
            const int position = gCameraPositions[i];
            if (position < 0 || position > 7) {
                qCWarning(lcCameras) << "camera view" << i << "has no position:" << position;
                continue;
            }
            setSerial(position, serialText(ids.at(i)));
        }
    }
    // The eight positions are one set: a kill between two rows must not bind a camera at two
    // positions, or leave one position of the old set among the new.
    QSqlQuery *query = snQuery();
    if (query) {
        SqlTransaction transaction(query, QStringLiteral("camera serials save"));
        for (int n = 0; n < 8 && transaction.writable(); ++n) {
            // The id of a network camera comes from the network: bound, never pasted into the SQL.
            query->prepare(QStringLiteral("update sysparam set value=? where name=?"));
            query->addBindValue(QString::fromLatin1(gCameraSerials[n]));
            query->addBindValue(QStringLiteral("serialNB%1").arg(n));
            if (!query->exec()) {
                qCWarning(lcCameras) << "serial of position" << n
                                     << "not saved:" << query->lastError().text();
                transaction.fail();
            }
        }
        if (transaction.finish())
            for (int n = 0; n < 8; ++n)
                gCameraSerialRows[n] = QString::fromLatin1(gCameraSerials[n]);
    }
    for (int n = 0; n < 8; ++n) {
        const QString text = QString::fromLatin1(gCameraSerials[n]);
        if (inspectionHooks().InsertRecord)
            inspectionHooks().InsertRecord(QStringLiteral("Save SN %1: %2").arg(QString::number(n), text));
    }
}

void setCameraViewIdsHook(std::function<QStringList()> hook)
{
    gViewIdsHook = std::move(hook);
}

void setCameraBackendFactory(int bit, std::function<CameraInterface *()> factory)
{
    if (factory)
        gFactoryOverrides.insert(bit, std::move(factory));
    else
        gFactoryOverrides.remove(bit);
}

void clearCameraBackends()
{
    for (QObject *backend : qAsConst(gCameraBackends))
        delete backend;
    gCameraBackends.clear();
    gCameraBackendCounts.clear();
    gCameraInfoList.clear();
}

quint32 savedCamerasNotOpen()
{
    const QStringList ids = gViewIdsHook ? gViewIdsHook() : QStringList();
    const int views = std::min({gCameraCount, int(ids.size()), 8});
    quint32 missing = 0;
    for (int n = 0; n < 8; ++n) {
        // The row as stored, not what the loader keeps for the binding: a smart camera's id comes from
        // its network reply and may be of any length, and a box set up with it must not run without it.
        const QString &saved = gCameraSerialRows[n];
        if (saved.isEmpty() || saved == QLatin1String("0") || standInId(saved))
            continue;
        bool open = false;
        // The saver cuts an id to what the loader takes back: either form names the camera.
        for (int i = 0; i < views && !open; ++i)
            open = ids.at(i) == saved || QString::fromLatin1(serialText(ids.at(i))) == saved;
        if (!open)
            missing |= 1u << n;
    }
    return missing;
}
