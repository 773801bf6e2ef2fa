// The report-link settings file "cnt_net/config.json".

#include "netconfigfile.h"

#include "atomicfile.h"
#include "jsonfields.h"
#include "jsonfile.h"
#include "qornetmn.h"
#include "settingslog.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
const QString kDefaultPort = QStringLiteral("10432");
const QString kVideoAppDir = QStringLiteral("/root/bin-DOD/cnt_net/");
const QString kWorkspace = QStringLiteral("/root/bin-DOD/cnt_net/workspace/");
} // namespace

QString NetConfigFile::path()
{
    return QStringLiteral("./") + QStringLiteral("cnt_net/config.json");
}

bool NetConfigFile::load(ServiceConfig *config)
{
    if (!config)
        return false;
    const JsonFileRead read = readJsonFile(path(), kNetConfigMaxBytes);
    if (read.status == JsonFileRead::Missing)
        return false;
    if (read.status != JsonFileRead::Parsed) {
        qCWarning(lcSettings).noquote()
            << "report-link settings do not parse, defaults shown:" << read.error;
        return false;
    }
    const QJsonObject object = read.document.object();
    readJsonText(object, "devicename", &config->devicename);
    readJsonText(object, "serveraddr", &config->serveraddr);
    readJsonText(object, "serverport", &config->serverport);
    readJsonFlag(object, "device_worknetfunc", &config->workNetFunc);
    readJsonFlag(object, "device_workvideo", &config->workVideo);
    return true;
}

bool NetConfigFile::isValidServerPort(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int port = text.toInt();
    return port >= 1 && port <= 65535;
}

QString NetConfigFile::acceptedServerPort(const QString &typed, const QString &stored)
{
    const QString trimmed = typed.trimmed();
    return isValidServerPort(trimmed) ? QString::number(trimmed.toInt()) : stored;
}

bool NetConfigFile::save(const ServiceConfig &config, QString *errorText)
{
    QJsonObject object;
    const JsonFileRead old = readJsonFile(path(), kNetConfigMaxBytes);
    if (old.status == JsonFileRead::Parsed && old.document.isObject()) {
        object = old.document.object();
    } else if (old.status == JsonFileRead::TooLarge) {
        // Too large to be settings or to copy: the file itself goes aside, and is rebuilt.
        const QString aside = damagedFileName(path());
        if (!QFile::rename(path(), aside)) {
            if (errorText)
                *errorText = QStringLiteral("%1 is too large and could not be moved aside").arg(path());
            return false;
        }
        qCWarning(lcSettings).noquote() << "report-link settings of" << old.size
                                        << "bytes are no settings; rebuilt, old file moved to" << aside;
    } else if (old.status != JsonFileRead::Missing) {
        // Rebuilt from the dialog's keys; what the reporting process kept there is put aside.
        const QString aside = damagedFileName(path());
        writeFileAtomically(aside, old.bytes);
        qCWarning(lcSettings).noquote()
            << "report-link settings did not parse; rebuilt, old content kept in" << aside;
    }
    QString port = acceptedServerPort(config.serverport, QString());
    if (port.isEmpty()) {
        const QJsonValue stored = object.value(QStringLiteral("serverport"));
        port = stored.isString() && isValidServerPort(stored.toString()) ? stored.toString() : kDefaultPort;
        qCWarning(lcSettings).noquote() << "server port" << config.serverport << "refused, kept" << port;
    }
    object.insert(QStringLiteral("device_worknetfunc"), config.workNetFunc);
    object.insert(QStringLiteral("device_workvideo"), config.workVideo);
    object.insert(QStringLiteral("devicename"), config.devicename);
    object.insert(QStringLiteral("serveraddr"),
                  config.serveraddr.isEmpty() ? QStringLiteral("0.0.0.0") : config.serveraddr);
    object.insert(QStringLiteral("serverport"), port);
    if (!object.contains(QStringLiteral("videoapp_dir")))
        object.insert(QStringLiteral("videoapp_dir"), kVideoAppDir);
    if (!object.contains(QStringLiteral("workspace")))
        object.insert(QStringLiteral("workspace"), kWorkspace);
    QDir().mkpath(QStringLiteral("cnt_net"));
    return writeFileAtomically(path(), QJsonDocument(object).toJson(QJsonDocument::Indented), {}, errorText);
}

bool NetConfigFile::apply(const ServiceConfig &config)
{
    QString error;
    const bool saved = save(config, &error);
    if (!saved)
        qCWarning(lcSettings).noquote()
            << "report-link settings not saved, helpers restarted all the same:" << error;
    QOR_NETMN *link = QOR_NETMN::instance();
    link->setWorkFlags(config.workNetFunc, config.workVideo);
    link->restartHelpers();
    return saved;
}
