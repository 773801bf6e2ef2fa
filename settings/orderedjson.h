#pragma once
// Indented JSON in the layout Qt writes (QJsonDocument::Indented), but with the keys of objects in a
// given order: QJsonObject sorts its keys, and the card files keep the order the apply script has
// always written. Any thread.

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

// One value at nesting depth `indent`; an object's keys listed in `keyOrder` come first in that
// order, its other keys after them in Qt's (sorted) order.
QByteArray orderedJson(const QJsonValue &value, const QStringList &keyOrder, int indent = 0);

// A whole document {"<key>": [values...]} ending with a line feed, as QJsonDocument::toJson writes it.
QByteArray orderedJsonDocument(const QString &key, const QList<QJsonValue> &values,
                               const QStringList &keyOrder);
