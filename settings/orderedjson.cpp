#include "orderedjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
// Qt's own text of a single value, so escaping and number forms stay exactly Qt's.
QByteArray scalarJson(const QJsonValue &value)
{
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QByteArray keyJson(const QString &key)
{
    return scalarJson(QJsonValue(key));
}
} // namespace

QByteArray orderedJson(const QJsonValue &value, const QStringList &keyOrder, int indent)
{
    const QByteArray inner(4 * (indent + 1), ' ');
    const QByteArray outer(4 * indent, ' ');
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        QByteArray out = "[\n";
        for (int i = 0; i < array.size(); ++i) {
            out += inner + orderedJson(array.at(i), keyOrder, indent + 1);
            out += i + 1 < array.size() ? ",\n" : "\n";
        }
        return out + outer + ']';
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        QStringList keys;
        for (const QString &key : keyOrder) {
            if (object.contains(key))
                keys.append(key);
        }
        for (const QString &key : object.keys()) {
            if (!keys.contains(key))
                keys.append(key);
        }
        QByteArray out = "{\n";
        for (int i = 0; i < keys.size(); ++i) {
            out += inner + keyJson(keys.at(i)) + ": " +
                   orderedJson(object.value(keys.at(i)), keyOrder, indent + 1);
            out += i + 1 < keys.size() ? ",\n" : "\n";
        }
        return out + outer + '}';
    }
    return scalarJson(value);
}

QByteArray orderedJsonDocument(const QString &key, const QList<QJsonValue> &values,
                               const QStringList &keyOrder)
{
    QJsonArray array;
    for (const QJsonValue &value : values)
        array.append(value);
    QJsonObject root;
    root.insert(key, array);
    return orderedJson(root, keyOrder) + '\n';
}
