#include "veklink.h"

#include <QMutex>

#include "mutexlocker.h"
#include "tcpveklink.h"

namespace {

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
    return std::make_unique<TcpVekLink>();
}

void setVekLinkFactory(VekLinkFactory factory)
{
    MutexLocker lock(&gFactoryMutex);
    gFactory = std::move(factory);
}
