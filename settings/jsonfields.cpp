#include "jsonfields.h"

#include <QJsonValue>

void readJsonText(const QJsonObject &object, const char *key, QString *field)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isString())
        *field = value.toString();
}

void readJsonFlag(const QJsonObject &object, const char *key, bool *field)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isBool())
        *field = value.toBool();
}
