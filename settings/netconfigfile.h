#pragma once
// The report-link settings file "cnt_net/config.json" (working directory), shared with the reporting
// process "./cnt_net/pynet_monitor": the network dialog's service column reads and writes five keys
// and two folder keys; every other key ("version", "camcount", whatever the reporting process keeps)
// survives a save. GUI thread only.

#include <QString>

// The five values the service column edits, with the defaults shown when the file has none.
struct ServiceConfig
{
    QString devicename;                           // "devicename"
    QString serveraddr;                           // "serveraddr", dotted IPv4
    QString serverport = QStringLiteral("10432"); // "serverport", always a JSON string
    bool workNetFunc = false;                     // "device_worknetfunc"
    bool workVideo = false;                       // "device_workvideo"
};

class NetConfigFile
{
public:
    // "./cnt_net/config.json".
    static QString path();

    // Fills `config` from the file: a string key only when it is a string, a switch only when it is a
    // boolean (a numeric "serverport" keeps the default). False, `config` untouched, when the file
    // does not open or does not parse.
    static bool load(ServiceConfig *config);

    // Decimal digits only, 1..65535.
    static bool isValidServerPort(const QString &text);
    // What the port field may change the stored port into: the typed port (as plain decimal
    // digits, "08080" -> "8080") when it is valid, else `stored`.
    static QString acceptedServerPort(const QString &typed, const QString &stored);

    // Writes the five keys into the file's object, keeping its other keys, and adds "videoapp_dir"
    // and "workspace" only when missing. An empty address is written as "0.0.0.0"; an invalid port
    // keeps the file's stored port (else "10432"). A file that does not parse is kept aside as
    // "cnt_net/config.json.damaged-<time>" and rebuilt. Written atomically: false, old file whole, when it
    // could not be written (`errorText` says why).
    static bool save(const ServiceConfig &config, QString *errorText = nullptr);

    // What the dialog's apply button does: save(), then on QOR_NETMN::instance() setWorkFlags and
    // restartHelpers, also when the save failed (the helpers then run on the new switches with the
    // old file; a warning goes to the log). Returns save()'s result.
    static bool apply(const ServiceConfig &config);
};
