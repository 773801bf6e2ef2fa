#pragma once
// Reading single fields of the JSON files the settings keep (card files, report-link settings).
// A field of the wrong JSON type - "true" as a string for a boolean, a number for a text - leaves the
// value as it was, so a hand-edited file falls back to the default instead of being guessed at.
// Any thread.

#include <QJsonObject>
#include <QString>

// *field = object[key] when that is a JSON string.
void readJsonText(const QJsonObject &object, const char *key, QString *field);
// *field = object[key] when that is a JSON boolean.
void readJsonFlag(const QJsonObject &object, const char *key, bool *field);
