#include "veklink.h"

#include <QMutex>

#include "mutexlocker.h"

namespace {

// Stands in while no request front is built in: it never connects, so every request fails with
// the "request failed" code and no smart camera opens.
class UnconnectedVekLink : public VekLink
{
public:
    bool start(const QString &, quint16) override { return false; }
    bool hasLiveSession() override { return false; }
    int getParams(QJsonObject &) override { return -12; }
    QVariantMap setParams(const QVariantMap &) override { return {}; }
    bool command(const QVariantMap &) override { return false; }
    int getPicture(VekPicture &, int) override { return -12; }
};

QMutex gFactoryMutex;
VekLinkFactory gFactory; // guarded by gFactoryMutex

} // namespace

std::unique_ptr<VekLink> makeVekLink()
{
    VekLinkFactory factory;
    {
        MutexLocker lock(&gFactoryMutex);
        factory = gFactory;
    }
    if (factory)
        return factory();
    return std::make_unique<UnconnectedVekLink>();
}

void setVekLinkFactory(VekLinkFactory factory)
{
    MutexLocker lock(&gFactoryMutex);
    gFactory = std::move(factory);
}
