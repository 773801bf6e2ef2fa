#include "widgethooks.h"

WidgetHooks &widgetHooks()
{
    static WidgetHooks hooks;
    return hooks;
}
