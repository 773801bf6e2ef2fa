#include "jsonfile.h"

#include <QFile>

JsonFileRead readJsonFile(const QString &path, qint64 maxBytes)
{
    JsonFileRead read;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return read;
    read.size = file.size();
    if (read.size > maxBytes) {
        read.status = JsonFileRead::TooLarge;
        read.error = QStringLiteral("larger than %1 bytes").arg(maxBytes);
        return read;
    }
    // No more than the bound even if the file grows while it is read (or its size was not known).
    read.bytes = file.read(maxBytes + 1);
    if (read.bytes.size() > maxBytes) {
        read.bytes.clear();
        read.status = JsonFileRead::TooLarge;
        read.error = QStringLiteral("larger than %1 bytes").arg(maxBytes);
        return read;
    }
    QJsonParseError error;
    read.document = QJsonDocument::fromJson(read.bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        read.status = JsonFileRead::Unparsable;
        read.error = error.errorString();
        return read;
    }
    read.status = JsonFileRead::Parsed;
    return read;
}
