#pragma once
// A small JSON file of settings, read whole only when it is no larger than its readers' bound: one that
// a runaway writer or a careless copy made huge is refused as unparsable instead of being read into
// memory on the GUI thread. Nesting deeper than the JSON parser's own bound (1024) does not parse.
//
// Threads: any; nothing is shared.

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

// "cnt_net/config.json" holds a handful of keys (under 1 KiB); nothing above this is one.
constexpr qint64 kNetConfigMaxBytes = 1024 * 1024;

struct JsonFileRead
{
    enum Status
    {
        Missing,    // could not be opened
        Parsed,     // `document` holds it
        Unparsable, // read, but not JSON; `bytes` holds what was read, `error` why
        TooLarge    // larger than the bound: not read at all
    };
    Status status = Missing;
    QJsonDocument document;
    QByteArray bytes;
    QString error;
    qint64 size = 0; // of the file, also when too large
};

// Reads and parses `path` unless it is larger than maxBytes.
JsonFileRead readJsonFile(const QString &path, qint64 maxBytes);
