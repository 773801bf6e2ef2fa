#include "paramquery.h"

namespace {
ParamQueryHook &hookSlot()
{
    static ParamQueryHook hook;
    return hook;
}
ParamQueryHook &snHookSlot()
{
    static ParamQueryHook hook;
    return hook;
}
} // namespace

void setParamQueryHook(ParamQueryHook hook)
{
    hookSlot() = std::move(hook);
}

QSqlQuery *paramQuery()
{
    const ParamQueryHook &hook = hookSlot();
    return hook ? hook() : nullptr;
}

void setSnQueryHook(ParamQueryHook hook)
{
    snHookSlot() = std::move(hook);
}

QSqlQuery *snQuery()
{
    const ParamQueryHook &hook = snHookSlot();
    return hook ? hook() : nullptr;
}
