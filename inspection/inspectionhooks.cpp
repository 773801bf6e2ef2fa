#include "inspectionhooks.h"

InspectionHooks &inspectionHooks()
{
    static InspectionHooks hooks;
    return hooks;
}

int reportLinkState()
{
    const InspectionHooks &h = inspectionHooks();
    return h.state ? h.state() : -1;
}
