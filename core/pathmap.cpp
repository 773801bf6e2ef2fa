#include "pathmap.h"

#include <QDir>

#include <mutex>

namespace {

std::mutex gRootMutex; // guards gRoot
QString gRoot;

// Longest first, so the program folder wins over its parent.
const char *const kMapped[] = {"/root/bin-DOD", "/proc/net/dev", "/sys/class/net", "/etc/netplan",
                               "/etc/network", "/root", "/mnt"};

// The mapped prefix `clean` lies in, or an empty string.
QString mappedPrefix(const QString &clean)
{
    for (const char *entry : kMapped) {
        const QString prefix = QLatin1String(entry);
        if (clean == prefix || (clean.startsWith(prefix) && clean.at(prefix.size()) == QLatin1Char('/')))
            return prefix;
    }
    return {};
}

} // namespace

QString mapSystemPath(const QString &path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return path;
    // Clean first so that "/mnt/../etc/passwd" is judged as the path it really names.
    const QString clean = QDir::cleanPath(path);
    const QString prefix = mappedPrefix(clean);
    if (prefix.isEmpty())
        return clean;

    QString root;
    {
        std::lock_guard<std::mutex> lock(gRootMutex);
        root = gRoot;
    }
    if (!root.isEmpty())
        return QDir::cleanPath(root + clean);

    const QString rest = clean.mid(prefix.size());
    const QString program = QDir::currentPath();
    if (prefix == QLatin1String("/root/bin-DOD"))
        return QDir::cleanPath(program + rest);
    if (prefix == QLatin1String("/root")) {
        QDir parent(program);
        parent.cdUp();
        return QDir::cleanPath(parent.absolutePath() + rest);
    }
    return clean;
}

void setSystemPathRoot(const QString &root)
{
    std::lock_guard<std::mutex> lock(gRootMutex);
    gRoot = root.isEmpty() ? QString() : QDir::cleanPath(QDir(root).absolutePath());
}
